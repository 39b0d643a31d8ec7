#include "sim/transmitter.h"

#include <algorithm>

namespace sim {

void Transmitter::queue(const Output& output, Time now) {
    for (const Segment& segment : output)
        if (!segment.bytes.empty())
            segments_.push_back({segment, now});
}

std::optional<Transmitter::Time> Transmitter::nextReady() const {
    if (segments_.empty())
        return std::nullopt;
    const Queued& front = segments_.front();
    if (!lastSent_)
        return front.queuedAt + front.segment.pause;
    // A segment's pause is quiet line measured from the last character before it; within a
    // segment, or without a pause, the next character follows when the last one is done.
    const Time gap =
        sentOfFront_ == 0 ? std::max(front.segment.pause, characterTime_) : characterTime_;
    return std::max(*lastSent_ + gap, front.queuedAt);
}

std::string_view Transmitter::ready(Time now) const {
    const std::optional<Time> due = nextReady();
    if (!due || *due > now)
        return {};
    const std::string_view rest =
        std::string_view(segments_.front().segment.bytes).substr(sentOfFront_);
    return characterTime_ > Time(0) ? rest.substr(0, 1) : rest;
}

void Transmitter::sent(std::size_t count, Time now) {
    if (segments_.empty() || count == 0)
        return;
    lastSent_ = now;
    sentOfFront_ += count;
    if (sentOfFront_ >= segments_.front().segment.bytes.size()) {
        segments_.pop_front();
        sentOfFront_ = 0;
    }
}

void Transmitter::drop() {
    segments_.clear();
    sentOfFront_ = 0;
}

} // namespace sim
