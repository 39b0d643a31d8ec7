#include "station.h"

#include <QDateTime>

namespace app {

Station::Station(Clock clock, QObject* parent)
    : QObject(parent),
      clock_(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); }) {
    silence_.setSingleShot(true);
    connect(&silence_, &QTimer::timeout, this, [this] {
        replies_.silentSince = unansweredSince_;
        setAmplifier(Amplifier::Silent);
    });
    ageing_.setSingleShot(true);
    connect(&ageing_, &QTimer::timeout, this, &Station::judgeLive);
}

void Station::setAmplifier(Amplifier state) {
    const Amplifier before = std::exchange(replies_.state, state);
    if (before == state)
        return;
    emit amplifierChanged(before);
    judgeLive();
}

void Station::setStaleAfter(std::chrono::milliseconds after) {
    staleAfter_ = after;
    judgeLive();
}

void Station::judgeLive() {
    const qint64 age = readings_.ms() < 0 ? -1 : now() - readings_.ms();
    const bool recent = age >= 0 && age < staleAfter_.count();
    std::optional<Stale> stale;
    if (!port_.open)
        stale = Stale::PortClosed;
    else if (replies_.state == Amplifier::Silent)
        stale = Stale::AmplifierSilent;
    else if (replies_.state == Amplifier::Unknown)
        stale = Stale::AmplifierNotAsked;
    else if (!recent && warning_.open && warning_.holdsPolls)
        stale = Stale::OverPowerWarning;
    else if (!recent)
        stale = Stale::NoRecentReading;
    // A recent reading is judged again once it is too old.
    if (recent)
        ageing_.start(int(staleAfter_.count() - age));
    else
        ageing_.stop();
    if (stale != std::exchange(stale_, stale))
        emit liveChanged();
}

void Station::recordPort(PortEvent::Kind kind, int number, const QString& name,
                         const QString& device, const QString& detail) {
    port_.number = number;
    port_.name = name;
    port_.device = device;
    port_.open = kind == PortEvent::Opened || kind == PortEvent::Reopened;
    // A device waited for comes as reopened: chosen all the same.
    if (kind == PortEvent::Opened || kind == PortEvent::Reopened) {
        port_.chosen = number;
        port_.chosenByPath = number == 0;
    }
    port_.last = PortEvent{kind, number, name, detail, now()};
    emit portChanged(*port_.last);
    // Nobody can answer on a port that is not open, and nothing then says "answers again".
    if (!port_.open) {
        silence_.stop();
        unansweredSince_ = -1;
        setAmplifier(Amplifier::Unknown);
    }
    judgeLive();
}

void Station::recordReadings(const Scan& found) {
    const qint64 ms = now();
    for (std::size_t i = 0; i < kFields; ++i) {
        if (!found[i])
            continue;
        readings_.latest[i] = *found[i];
        (i < kFirstCurrent ? readings_.powersMs : readings_.currentsMs) = ms;
    }
    readings_.scan = found;
    emit readingsChanged();
    judgeLive();
}

void Station::recordAlarm(const QString& time, const QString& text) {
    alarms_.push_back({now(), time, text});
    if (alarms_.size() > kAlarmsKept)
        alarms_.pop_front();
    emit alarmLogged(alarms_.back());
}

void Station::recordBand(bool high) {
    highBand_ = high;
    emit bandReported(high);
}

void Station::recordOverPowerWarning(bool open, bool holdsPolls) {
    warning_ = {open, open ? now() : 0, open && holdsPolls};
    emit overPowerWarningChanged(open);
    judgeLive();
}

void Station::recordPolling(bool on, bool currents) {
    if (polling_.on == on && polling_.currents == currents)
        return;
    polling_ = {on, currents};
    emit pollingChanged();
}

void Station::recordWrite(const QByteArray& bytes, Origin origin) {
    emit written(bytes, origin);
    if (origin != Origin::Key && port_.open && unansweredSince_ < 0) {
        unansweredSince_ = now();
        silence_.start(silenceAfter_);
    }
}

void Station::recordJournal(const Journal& journal) {
    journal_ = journal;
    emit journalChanged();
}

void Station::recordBus(const Bus& bus) {
    const qint64 since = bus_.on && bus.connected == bus_.connected ? bus_.since : now();
    bus_ = bus;
    bus_.since = since;
    emit busChanged();
}

void Station::recordCommand(const CommandRecord& command) {
    emit commandHandled(command);
}

void Station::recordReceived() {
    replies_.last = now();
    unansweredSince_ = -1;
    silence_.stop();
    setAmplifier(Amplifier::Answering);
}

} // namespace app
