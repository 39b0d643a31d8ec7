#include "outbox.h"

#include <algorithm>

namespace mqtt {

bool Outbox::putLatest(const QByteArray& topic, const QByteArray& payload, bool retain) {
    if (const auto waiting = latest_.find(topic); waiting != latest_.end()) {
        (*waiting)->payload = payload;
        (*waiting)->retain = retain;
        return true;
    }
    if (latest_.size() >= kMaxTopics)
        return false;
    waiting_.push_back({topic, payload, retain, false});
    latest_.insert(topic, std::prev(waiting_.end()));
    return true;
}

void Outbox::putEvent(const QByteArray& topic, const QByteArray& payload, Event kind) {
    waiting_.push_back({topic, payload, false, true, kind});
    countIn(waiting_.back(), 1);
    dropOverBound();
}

void Outbox::replaceWaiting(const QByteArray& topic, const QByteArray& payload, bool retain) {
    waiting_.clear();
    latest_.clear();
    alarms_ = results_ = 0;
    putLatest(topic, payload, retain);
}

const Outbox::Message* Outbox::takeNext() {
    if (out_ || waiting_.empty())
        return nullptr;
    out_ = std::move(waiting_.front());
    waiting_.pop_front();
    if (out_->event)
        countIn(*out_, -1);
    else
        latest_.remove(out_->topic);
    return &*out_;
}

void Outbox::returnOut() {
    if (!out_)
        return;
    Message message = std::move(*out_);
    out_.reset();
    if (message.event || !latest_.contains(message.topic))
        putFront(std::move(message));
}

void Outbox::putFront(Message message) {
    waiting_.push_front(std::move(message));
    if (waiting_.front().event) {
        countIn(waiting_.front(), 1);
        dropOverBound();
    } else {
        latest_.insert(waiting_.front().topic, waiting_.begin());
    }
}

void Outbox::countIn(const Message& event, int step) {
    (event.kind == Event::Alarm ? alarms_ : results_) += step;
}

void Outbox::dropOverBound() {
    const auto alarm = [](const Message& m) { return m.event && m.kind == Event::Alarm; };
    const auto refusal = [](const Message& m) { return m.event && m.kind == Event::Refusal; };
    const auto result = [](const Message& m) { return m.event && m.kind != Event::Alarm; };
    if (alarms_ > kMaxEvents)
        dropOldest(alarm, alarmsDropped_);
    if (results_ > kMaxEvents && !dropOldest(refusal, resultsDropped_))
        dropOldest(result, resultsDropped_);
}

bool Outbox::dropOldest(bool (*which)(const Message&), quint64& dropped) {
    const auto oldest = std::ranges::find_if(waiting_, which);
    if (oldest == waiting_.end())
        return false;
    countIn(*oldest, -1);
    waiting_.erase(oldest);
    ++dropped;
    return true;
}

} // namespace mqtt
