#include "systemd.h"

#include "app/station.h"
#include "app/station_json.h"

#include <systemd/sd-daemon.h>

namespace service {

QString statusLine(const app::Station& station) {
    const app::Station::Port& port = station.port();
    if (port.name.isEmpty())
        return QStringLiteral("no port yet");
    if (!port.open) {
        const bool waiting = port.last && (port.last->kind == app::PortEvent::Lost ||
                                           port.last->kind == app::PortEvent::NotReopened ||
                                           port.last->kind == app::PortEvent::Failed);
        const bool lost = port.last && port.last->kind != app::PortEvent::Failed;
        return port.name + (lost ? QStringLiteral(" lost") : QStringLiteral(" not open")) +
               (waiting ? QStringLiteral(", waiting for it") : QString());
    }
    static const char* const kAmplifier[] = {"not asked yet", "answering", "silent"};
    QString line =
        port.name + QStringLiteral(" open, amplifier ") + kAmplifier[int(station.replies().state)];
    const std::optional<float> forward = station.readings().latest[0].number;
    if (!station.staleBecause() && forward)
        line += QStringLiteral(", %1 W").arg(app::shortest(*forward));
    return line;
}

Systemd::Systemd(const app::Station& station, QObject* parent)
    : QObject(parent), station_(station) {
    app::followState(station, this, [this] { status(); });
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) {
        connect(&watchdog_, &QTimer::timeout, this, [] { sd_notify(0, "WATCHDOG=1"); });
        watchdog_.start(int(usec / 2000));
    }
}

void Systemd::ready() {
    sd_notify(0, "READY=1");
    status();
}

void Systemd::status() {
    const QString line = statusLine(station_);
    if (line == std::exchange(said_, line))
        return;
    sd_notify(0, ("STATUS=" + line.toUtf8()).constData());
}

void Systemd::stopping() {
    watchdog_.stop();
    sd_notify(0, "STOPPING=1");
}

} // namespace service
