#include "window_sink.h"

#include "app/journal.h"
#include "app/message_box.h"
#include "frm_wattmeter.h"
#include "lamp.h"
#include "log_pane.h"
#include "telemetry/number.h"

#include <QLineEdit>
#include <QProgressBar>

#include <cmath>

namespace ui {

bool setBarValue(QProgressBar& bar, float value) {
    if (!(value >= float(bar.minimum()) && value <= float(bar.maximum())))
        return false;
    bar.setValue(static_cast<int>(std::lround(value)));
    return true;
}

void WindowSink::band(telemetry::Band band) {
    const bool high = band == telemetry::Band::High;
    window_.shpHigh->setFillStyle(high ? Lamp::Solid : Lamp::Transparent);
    window_.shpLow->setFillStyle(high ? Lamp::Transparent : Lamp::Solid);
    if (journal_)
        journal_->band(high);
}

void WindowSink::overPowerWarning() {
    boxes_.MsgBox(QString::fromLatin1(kOverPowerWarning), app::vbExclamation);
}

void WindowSink::alarm(std::string_view text) {
    std::string line = clock_().toString(QStringLiteral("HH:mm:ss")).toStdString();
    line.append(" - ").append(text).append("\r");
    appendlog(*window_.txtAlarms, line);
    if (journal_)
        journal_->alarm(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void WindowSink::endOfScan() {
    if (journal_ && readingSeen_) {
        QStringList texts;
        for (const QLineEdit* display : window_.readingFields())
            texts << display->text();
        journal_->reading(texts);
    }
    readingSeen_ = false;
}

void WindowSink::reading(telemetry::Reading which, std::string_view field) {
    using telemetry::Reading;
    readingSeen_ = true;
    // A flood of identical readings should not relayout the box for every one.
    QLineEdit* box = window_.readingFields()[static_cast<std::size_t>(which)];
    const QString text = QString::fromLatin1(field.data(), static_cast<qsizetype>(field.size()));
    if (box->text() != text)
        box->setText(text);

    QProgressBar* bar = which == Reading::Forward     ? window_.prgBar1
                        : which == Reading::Reflected ? window_.prgBar2
                                                      : nullptr;
    if (bar) {
        if (const auto value = telemetry::toSingle(field))
            setBarValue(*bar, *value);
    }
}

} // namespace ui
