// What waits to be sent to the broker, within fixed bounds, and the one message that is out with
// it until acknowledged. libmosquitto's own queue has no bound, so the client hands it one message
// at a time from here.
//
// A "latest" message (the state, a retained configuration) replaces a waiting one on the same
// topic and keeps its place in line; an event (an alarm) waits in arrival order, and beyond the
// bound the oldest events are dropped and counted.
#pragma once

#include <QByteArray>
#include <QHash>

#include <list>
#include <optional>

namespace mqtt {

class Outbox {
public:
    // Alarms arrive a few at a time; this many keep minutes of a faulting amplifier's alarms
    // through a broker's restart, in a few tens of kilobytes.
    static constexpr int kMaxEvents = 100;
    // Distinct topics with a latest value waiting: the state, the availability and the discovery
    // configurations are some tens; more than this is a bug in the caller, refused.
    static constexpr int kMaxTopics = 256;

    struct Message {
        QByteArray topic;
        QByteArray payload;
        bool retain = false;
        bool event = false;
    };

    // False, and nothing kept, when kMaxTopics other topics wait already.
    bool putLatest(const QByteArray& topic, const QByteArray& payload, bool retain);
    void putEvent(const QByteArray& topic, const QByteArray& payload);
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
    quint64 eventsDropped() const { return eventsDropped_; }

private:
    using Line = std::list<Message>;

    void putFront(Message message);
    void dropOldestEventsOverBound();

    Line waiting_;
    QHash<QByteArray, Line::iterator> latest_;
    int events_ = 0;
    std::optional<Message> out_;
    quint64 eventsDropped_ = 0;
};

} // namespace mqtt
