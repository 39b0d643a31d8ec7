#include "window_sink.h"

#include "app/journal.h"
#include "app/message_box.h"
#include "frm_wattmeter.h"
#include "lamp.h"
#include "log_pane.h"
#include "telemetry/number.h"
#include "telemetry/protocol.h"

#include <QLineEdit>
#include <QProgressBar>

#include <cmath>
#include <utility>

namespace ui {

namespace {

QString fromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

std::optional<int> barValue(const QProgressBar& bar, float value) {
    if (!(value >= float(bar.minimum()) && value <= float(bar.maximum())))
        return std::nullopt;
    return static_cast<int>(std::lround(value));
}

void WindowSink::band(telemetry::Band band) {
    const bool high = band == telemetry::Band::High;
    window_.shpHigh->setFillStyle(high ? Lamp::Solid : Lamp::Transparent);
    window_.shpLow->setFillStyle(high ? Lamp::Transparent : Lamp::Solid);
    if (journal_)
        journal_->band(high);
    if (station_)
        station_->band(high);
}

void WindowSink::overPowerWarning() {
    show();
    // The box waits for the operator at the window; the desktop hears of it at once.
    notify(fromLatin1(telemetry::kOverPower), app::DesktopNotifier::Urgency::Critical);
    boxes_.MsgBox(QString::fromLatin1(kOverPowerWarning), app::vbExclamation);
}

void WindowSink::alarm(std::string_view text) {
    const QString time = timeOfDay();
    std::string line = time.toStdString();
    line.append(" - ").append(text).append("\r");
    appendlogCoalesced(*window_.txtAlarms, line);
    if (journal_)
        journal_->alarm(fromLatin1(text));
    if (station_)
        station_->alarm(fromLatin1(text));
    if (notifier_ && text != telemetry::kOverPower) // told before its warning box
        notifier_->notify(time, fromLatin1(text), app::DesktopNotifier::Urgency::Normal);
}

void WindowSink::notify(const QString& text, app::DesktopNotifier::Urgency urgency) {
    if (notifier_)
        notifier_->notify(timeOfDay(), text, urgency);
}

void WindowSink::show() {
    const auto fields = window_.readingFields();
    for (std::size_t i = 0; i < texts_.size(); ++i) {
        // A flood of identical readings should not relayout the box for every one.
        if (const auto text = std::exchange(texts_[i], std::nullopt);
            text && fields[i]->text() != *text)
            fields[i]->setText(*text);
    }
    if (const auto value = std::exchange(forwardBar_, std::nullopt))
        window_.prgBar1->setValue(*value);
    if (const auto value = std::exchange(reflectedBar_, std::nullopt))
        window_.prgBar2->setValue(*value);
    flushPane(*window_.txtAlarms);
}

void WindowSink::endOfScan() {
    show();
    if (readingSeen_ && (journal_ || station_)) {
        QStringList texts;
        for (const QLineEdit* display : window_.readingFields())
            texts << display->text();
        if (journal_)
            journal_->reading(texts);
        if (station_)
            station_->readings(texts);
    }
    readingSeen_ = false;
}

void WindowSink::reading(telemetry::Reading which, std::string_view field) {
    using telemetry::Reading;
    readingSeen_ = true;
    texts_[static_cast<std::size_t>(which)] = fromLatin1(field);
    if (which != Reading::Forward && which != Reading::Reflected)
        return;
    const auto value = telemetry::toSingle(field);
    const bool forward = which == Reading::Forward;
    if (const auto shown =
            value ? barValue(forward ? *window_.prgBar1 : *window_.prgBar2, *value) : std::nullopt)
        (forward ? forwardBar_ : reflectedBar_) = shown;
}

} // namespace ui
