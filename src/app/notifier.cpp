#include "notifier.h"

#include "station.h"
#include "telemetry/protocol.h"

#include <QDateTime>

namespace app {

void Notifier::follow(const Station& station, bool withBus) {
    const QString overPower = QString::fromLatin1(telemetry::kOverPower);
    const auto timeOfDay = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
    };
    // Every alarm as it arrives, over-power at once and critical, whether or not anyone is at
    // the window to answer its box.
    connect(&station, &Station::alarmLogged, this, [this, overPower](const AlarmLine& line) {
        notify(line.time, line.text, line.text == overPower ? Urgency::Critical : Urgency::Normal);
    });
    connect(&station, &Station::portChanged, this, [this, timeOfDay](const PortEvent& event) {
        const char* what = event.kind == PortEvent::Lost          ? "was lost"
                           : event.kind == PortEvent::Reopened    ? "is back"
                           : event.kind == PortEvent::NotReopened ? "cannot be reopened"
                                                                  : nullptr;
        if (what)
            notify(timeOfDay(event.ms), event.name + ' ' + what, Urgency::Normal);
    });
    // The failure, once; and when the file takes its lines again, in its place at once, what
    // waited and what was lost meanwhile.
    connect(&station, &Station::journalChanged, this,
            [this, &station, timeOfDay, failing = false, waited = qsizetype(),
             lostBefore = quint64()]() mutable {
                const Station::Journal& journal = station.journal();
                const bool now = journal.state == Station::Journal::Failing;
                const QString time = timeOfDay(station.now());
                if (now && !failing) {
                    lostBefore = journal.lost;
                    notify(time, journal.file + " cannot be written: " + journal.reason,
                           Urgency::Normal, Slot::Journal);
                } else if (!now && failing) {
                    const quint64 lost = journal.lost - lostBefore;
                    const QString body =
                        QStringLiteral("%1 - %2 is written again; %3 lines waited, ")
                            .arg(time, journal.file)
                            .arg(waited);
                    show(body + (lost ? QStringLiteral("%1 lost").arg(lost) : "none lost"),
                         Urgency::Normal, Slot::Journal);
                }
                failing = now;
                waited = now ? std::max(waited, journal.waiting) : 0;
            });
    if (withBus)
        connect(&station, &Station::busChanged, this,
                [this, &station, timeOfDay, was = Station::Bus(), lost = false]() mutable {
                    const Station::Bus& bus = station.bus();
                    const QString at = QStringLiteral("the broker at ") + bus.broker;
                    const QString time = timeOfDay(station.now());
                    if (was.connected && !bus.connected) {
                        notify(time, at + " is lost: " + bus.reason, Urgency::Normal);
                        lost = true;
                    } else if (bus.connected && std::exchange(lost, false)) {
                        notify(time, at + " is back", Urgency::Normal);
                    }
                    if (bus.refusing && !was.refusing)
                        notify(time, "the broker refuses our messages: " + bus.lastRefusal,
                               Urgency::Normal);
                    else if (!bus.refusing && was.refusing)
                        notify(time, QStringLiteral("the broker accepts our messages again"),
                               Urgency::Normal);
                    was = bus;
                });
    connect(&station, &Station::amplifierChanged, this,
            [this, &station, timeOfDay](Amplifier before) {
                const Amplifier now = station.replies().state;
                const QString port = station.port().name + QStringLiteral(": ");
                if (now == Amplifier::Silent)
                    notify(timeOfDay(station.now()), port + "no reply from the amplifier",
                           Urgency::Critical);
                else if (now == Amplifier::Answering && before == Amplifier::Silent)
                    notify(timeOfDay(station.now()), port + "the amplifier answers again",
                           Urgency::Normal);
            });
}

void Notifier::notify(const QString& time, const QString& text, Urgency urgency, Slot slot) {
    Repeats& repeats = repeats_[text];
    repeats.slot = slot;
    if (repeats.interval && repeats.interval->isActive()) {
        ++repeats.heldBack;
        repeats.lastTime = time;
        repeats.urgency = urgency;
        return;
    }
    if (!repeats.interval) {
        repeats.interval = new QTimer(this);
        repeats.interval->setSingleShot(true);
        connect(repeats.interval, &QTimer::timeout, this, [this, text] { intervalEnded(text); });
    }
    repeats.interval->start(interval_);
    show(time + QStringLiteral(" - ") + text, urgency, slot);
}

void Notifier::intervalEnded(const QString& text) {
    Repeats& repeats = repeats_[text];
    if (repeats.heldBack == 0)
        return;
    const QString body = QStringLiteral("%1 - %2 (%3 more)")
                             .arg(repeats.lastTime, text)
                             .arg(std::exchange(repeats.heldBack, 0));
    repeats.interval->start(interval_);
    show(body, repeats.urgency, repeats.slot);
}

} // namespace app
