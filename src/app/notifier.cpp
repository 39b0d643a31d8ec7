#include "notifier.h"

#include "station.h"
#include "telemetry/protocol.h"

#include <QDateTime>

namespace app {

void Notifier::follow(const Station& station) {
    const QString overPower = QString::fromLatin1(telemetry::kOverPower);
    const auto timeOfDay = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
    };
    connect(
        &station, &Station::alarmLogged, this,
        [this, overPower](const AlarmLine& line) {
            if (line.text != overPower) // told when its warning opened
                notify(line.time, line.text, Urgency::Normal);
        });
    connect(&station, &Station::overPowerWarningChanged, this,
            [this, &station, overPower, timeOfDay](bool open) {
                if (open)
                    notify(timeOfDay(station.overPowerWarning().since), overPower,
                           Urgency::Critical);
            });
    connect(&station, &Station::portChanged, this, [this, timeOfDay](const PortEvent& event) {
        const char* what = event.kind == PortEvent::Lost          ? "was lost"
                           : event.kind == PortEvent::Reopened    ? "is back"
                           : event.kind == PortEvent::NotReopened ? "cannot be reopened"
                                                                  : nullptr;
        if (what)
            notify(timeOfDay(event.ms), QStringLiteral("COM%1 %2").arg(event.port).arg(what),
                   Urgency::Normal);
    });
}

void Notifier::notify(const QString& time, const QString& text, Urgency urgency) {
    Repeats& repeats = repeats_[text];
    if (repeats.sinceShown.isValid() && !repeats.sinceShown.hasExpired(interval_.count())) {
        ++repeats.heldBack;
        return;
    }
    QString body = time + QStringLiteral(" - ") + text;
    if (repeats.heldBack > 0)
        body += QStringLiteral(" (%1 more)").arg(std::exchange(repeats.heldBack, 0));
    repeats.sinceShown.start();
    show(body, urgency);
}

} // namespace app
