#include "window_sink.h"

#include "app/command_path.h"
#include "app/message_box.h"
#include "app/station.h"
#include "lamp.h"
#include "log_pane.h"
#include "telemetry/number.h"

#include <QLineEdit>
#include <QProgressBar>

#include <cmath>
#include <utility>

namespace ui {

namespace {

QString fromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// "HH:mm:ss - <text>" and the carriage return that ends it in the pane.
std::string line(const QString& time, std::string_view text) {
    return time.toStdString().append(" - ").append(text).append("\r");
}

} // namespace

std::optional<int> barValue(const QProgressBar& bar, float value) {
    if (!(value >= float(bar.minimum()) && value <= float(bar.maximum())))
        return std::nullopt;
    return static_cast<int>(std::lround(value));
}

void WindowSink::band(telemetry::Band band) {
    const bool high = band == telemetry::Band::High;
    view_.highLamp->setFillStyle(high ? Lamp::Solid : Lamp::Transparent);
    view_.lowLamp->setFillStyle(high ? Lamp::Transparent : Lamp::Solid);
    station_.recordBand(high);
}

void WindowSink::overPowerWarning() {
    show();
    station_.recordOverPowerWarning(true);
    boxes_.MsgBox(QString::fromLatin1(app::kOverPowerWarning), app::vbExclamation);
    station_.recordOverPowerWarning(false);
}

void WindowSink::alarm(std::string_view text) {
    const QString time = clock_().toString(QStringLiteral("HH:mm:ss"));
    appendlogCoalesced(*view_.alarms, line(time, text));
    station_.recordAlarm(time, fromLatin1(text));
}

void WindowSink::noReply() {
    appendlog(*view_.alarms, line(clock_().toString(QStringLiteral("HH:mm:ss")), kNoReply));
}

void WindowSink::show() {
    for (std::size_t i = 0; i < texts_.size(); ++i) {
        // A flood of identical readings should not relayout the box for every one.
        if (const auto text = std::exchange(texts_[i], std::nullopt);
            text && view_.fields[i]->text() != *text)
            view_.fields[i]->setText(*text);
    }
    if (const auto value = std::exchange(forwardBar_, std::nullopt))
        view_.forwardBar->setValue(*value);
    if (const auto value = std::exchange(reflectedBar_, std::nullopt))
        view_.reflectedBar->setValue(*value);
    flushPane(*view_.alarms);
}

void WindowSink::endOfScan() {
    show();
    if (std::exchange(readingSeen_, false)) {
        app::Station::Displays texts;
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = view_.fields[i]->text();
        station_.recordReadings(texts, view_.forwardBar->value(), view_.reflectedBar->value());
    }
}

void WindowSink::reading(telemetry::Reading which, std::string_view field) {
    using telemetry::Reading;
    readingSeen_ = true;
    texts_[static_cast<std::size_t>(which)] = fromLatin1(field);
    if (which != Reading::Forward && which != Reading::Reflected)
        return;
    const auto value = telemetry::toSingle(field);
    const bool forward = which == Reading::Forward;
    if (const auto shown = value
                               ? barValue(forward ? *view_.forwardBar : *view_.reflectedBar, *value)
                               : std::nullopt)
        (forward ? forwardBar_ : reflectedBar_) = shown;
}

} // namespace ui
