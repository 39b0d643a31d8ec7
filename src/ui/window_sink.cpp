#include "window_sink.h"

#include "frm_wattmeter.h"
#include "lamp.h"
#include "link/appendlog.h"
#include "link/message_box.h"
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
}

void WindowSink::overPowerWarning() {
    boxes_.MsgBox(QString::fromLatin1(kOverPowerWarning), seriallink::vbExclamation);
}

void WindowSink::alarm(std::string_view text) {
    std::string line = clock_().toString(QStringLiteral("HH:mm:ss")).toStdString();
    line.append(" - ").append(text).append("\r");
    seriallink::appendlog(*window_.txtAlarms, line);
}

void WindowSink::reading(telemetry::Reading which, std::string_view field) {
    using telemetry::Reading;
    QLineEdit* const boxes[] = {window_.txtForward, window_.txtReflected, window_.txtVSWR,
                                window_.txtI1,      window_.txtI2,        window_.txtI3,
                                window_.txtI4,      window_.txtITotal};
    boxes[static_cast<int>(which)]->setText(
        QString::fromLatin1(field.data(), static_cast<qsizetype>(field.size())));

    QProgressBar* bar = which == Reading::Forward     ? window_.prgBar1
                        : which == Reading::Reflected ? window_.prgBar2
                                                      : nullptr;
    if (bar) {
        if (const auto value = telemetry::toSingle(field))
            setBarValue(*bar, *value);
    }
}

} // namespace ui
