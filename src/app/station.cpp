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
}

void Station::setAmplifier(Amplifier state) {
    const Amplifier before = std::exchange(replies_.state, state);
    if (before != state)
        emit amplifierChanged(before);
}

void Station::recordPort(PortEvent::Kind kind, int number, const QString& device,
                         const QString& detail) {
    port_.number = number;
    port_.device = device;
    port_.open = kind == PortEvent::Opened || kind == PortEvent::Reopened;
    if (kind == PortEvent::Opened)
        port_.chosen = number;
    port_.last = PortEvent{kind, number, detail, now()};
    emit portChanged(*port_.last);
    // Nobody can answer on a port that is not open, and nothing then says "answers again".
    if (!port_.open) {
        silence_.stop();
        unansweredSince_ = -1;
        setAmplifier(Amplifier::Unknown);
    }
}

void Station::recordReadings(const Displays& texts, int forwardBar, int reflectedBar) {
    readings_ = {texts, forwardBar, reflectedBar, now()};
    emit readingsChanged();
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

void Station::recordOverPowerWarning(bool open) {
    warning_ = {open, open ? now() : 0};
    emit overPowerWarningChanged(open);
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
    bus_ = bus;
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
