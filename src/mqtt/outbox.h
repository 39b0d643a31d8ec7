// What waits to be sent to the broker, within fixed bounds, and the one message that is out with
// it until acknowledged. libmosquitto's own queue has no bound, so the client hands it one message
// at a time from here.
//
// A "latest" message (the state, a retained configuration) replaces a waiting one on the same
// topic and keeps its place in line; an event (an alarm, a command's result) waits in arrival
// order. Alarms and results are bounded apart, so that a flood of commands cannot push out an
// alarm: beyond its bound the oldest alarm is dropped, or the oldest refusal before any result of
// a command carried out, and each drop is counted.
#pragma once

#include <QByteArray>
#include <QHash>

#include <list>
#include <optional>

namespace mqtt {

class Outbox {
public:
    // Alarms arrive a few at a time; this many keep minutes of a faulting amplifier's alarms
    // through a broker's restart, in a few tens of kilobytes. Results are held to as many.
    static constexpr int kMaxEvents = 100;
    enum class Event { Alarm, Result, Refusal };
    // Distinct topics with a latest value waiting: the state, the availability and the discovery
    // configurations are some tens; more than this is a bug in the caller, refused.
    static constexpr int kMaxTopics = 256;

    struct Message {
        QByteArray topic;
        QByteArray payload;
        bool retain = false;
        bool event = false;
        Event kind = Event::Alarm; // of an event
    };

    // False, and nothing kept, when kMaxTopics other topics wait already.
    bool putLatest(const QByteArray& topic, const QByteArray& payload, bool retain);
    void putEvent(const QByteArray& topic, const QByteArray& payload, Event kind = Event::Alarm);
    // Gives up everything waiting (not the message out) for this one.
    void replaceWaiting(const QByteArray& topic, const QByteArray& payload, bool retain);

    // The next message to send, which is then out until acknowledged or returned; none while one
    // is out or when nothing waits.
    const Message* takeNext();
    void acknowledge() { out_.reset(); }
    // The message out goes first again, unless a newer one on its topic waits already.
    void returnOut();

    bool isOut() const { return out_.has_value(); }
    bool isEmpty() const { return !out_ && waiting_.empty(); }
    quint64 eventsDropped() const { return alarmsDropped_; } // alarms only
    quint64 resultsDropped() const { return resultsDropped_; }

private:
    using Line = std::list<Message>;

    void putFront(Message message);
    void countIn(const Message& event, int step);
    void dropOverBound();
    bool dropOldest(bool (*which)(const Message&), quint64& dropped);

    Line waiting_;
    QHash<QByteArray, Line::iterator> latest_;
    int alarms_ = 0, results_ = 0; // waiting
    std::optional<Message> out_;
    quint64 alarmsDropped_ = 0, resultsDropped_ = 0;
};

} // namespace mqtt
