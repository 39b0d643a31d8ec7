#include "outbox.h"

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

void Outbox::putEvent(const QByteArray& topic, const QByteArray& payload) {
    waiting_.push_back({topic, payload, false, true});
    ++events_;
    dropOldestEventsOverBound();
}

void Outbox::replaceWaiting(const QByteArray& topic, const QByteArray& payload, bool retain) {
    waiting_.clear();
    latest_.clear();
    events_ = 0;
    putLatest(topic, payload, retain);
}

const Outbox::Message* Outbox::takeNext() {
    if (out_ || waiting_.empty())
        return nullptr;
    out_ = std::move(waiting_.front());
    waiting_.pop_front();
    if (out_->event)
        --events_;
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
        ++events_;
        dropOldestEventsOverBound();
    } else {
        latest_.insert(waiting_.front().topic, waiting_.begin());
    }
}

void Outbox::dropOldestEventsOverBound() {
    for (auto it = waiting_.begin(); events_ > kMaxEvents && it != waiting_.end();) {
        if (it->event) {
            it = waiting_.erase(it);
            --events_;
            ++eventsDropped_;
        } else {
            ++it;
        }
    }
}

} // namespace mqtt
