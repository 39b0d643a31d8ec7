#include "port_selection.h"

#include "link/interval_timer.h"
#include "link/serial_component.h"
#include "message_box.h"
#include "settings_store.h"
#include "telemetry/number.h"

#include <QAction>

#include <cmath>

namespace app {

void runPortCommand(const PortCommandParts& parts, int n) {
    seriallink::Failure failure;
    const auto record = [&failure](seriallink::Failure f) {
        if (f)
            failure = std::move(f);
    };

    const QString number = QString::number(n);
    // Remembered before the port is tried, so a port that fails now is tried again next start.
    SaveSetting(kAppName, kSection, QStringLiteral("port"), number);
    parts.port = number;
    if (n >= 8)
        record(parts.comm.setPortOpen(false));
    if (parts.comm.portOpen())
        record(parts.comm.setPortOpen(false));
    record(parts.comm.setCommPort(n));
    record(parts.comm.setPortOpen(true));

    if (failure) {
        parts.boxes.MsgBox(*failure, vbExclamation);
        return;
    }
    parts.items[n - 1]->setChecked(true);
    for (int other = 1; other <= kPortCount; ++other)
        if (other != n)
            parts.items[other - 1]->setChecked(false);
    // The line settings go onto the open port; a refusal here leaves the port as opened.
    (void)parts.comm.setSettings(QString::fromLatin1(kLineSettings));

    // A run that started without a stored port has no poll period yet; the first port that
    // opens starts the readings without a restart.
    if (parts.timer.interval() == 0)
        parts.timer.setInterval(kPollPeriodMs);
}

std::optional<int> storedPortNumber(const QString& port) {
    const auto value = telemetry::toSingle(port.toStdString());
    if (!value || *value != std::trunc(*value) || *value < 1 || *value > kPortCount)
        return std::nullopt;
    return static_cast<int>(*value);
}

} // namespace app
