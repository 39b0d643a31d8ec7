#include "port_selection.h"

#include "interval_timer.h"
#include "link/ports_folder.h"
#include "message_box.h"
#include "settings_store.h"
#include "telemetry/number.h"

#include <cmath>

namespace app {

namespace {

// The commands for COM8 to COM16 close the port first, whatever its state. Closing a closed
// port is accepted, so the extra step never makes the command fail.
constexpr int kFirstPortClosedFirst = 8;

} // namespace

seriallink::Result runPortCommand(const PortCommandParts& parts, int n) {
    seriallink::Result failure;
    const auto record = [&failure](seriallink::Result result) {
        if (!result)
            failure = std::move(result);
    };

    const QString number = QString::number(n);
    // Remembered before the port is tried, so a port that fails now is tried again next start.
    SaveSetting(kAppName, kSection, QStringLiteral("port"), number);
    parts.port = number;
    if (n >= kFirstPortClosedFirst)
        record(parts.comm.setPortOpen(false));
    if (parts.comm.portOpen())
        record(parts.comm.setPortOpen(false));
    record(parts.comm.setCommPort(n));
    record(parts.comm.setPortOpen(true));

    if (!failure) {
        parts.boxes.MsgBox(failure.errorString(), vbExclamation);
        return failure;
    }
    // The line settings go onto the open port; a refusal here leaves the port as opened.
    (void)parts.comm.setSettings(QString::fromLatin1(kLineSettings));

    // A run that started without a stored port has no poll period yet; the first port that
    // opens starts the readings without a restart.
    if (parts.timer.interval() == 0)
        parts.timer.setInterval(kPollPeriodMs);
    return {};
}

std::optional<int> storedPortNumber(const QString& port) {
    const auto value = telemetry::toSingle(port.toStdString());
    if (!value || *value != std::trunc(*value) || *value < 1 || *value > seriallink::kPortCount)
        return std::nullopt;
    return static_cast<int>(*value);
}

} // namespace app
