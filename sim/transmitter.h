// Paces the amplifier's output onto the line as a 300 baud serial line would.
#pragma once

#include "sim/output.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string_view>

namespace sim {

// At 300 baud with 8 data bits, no parity and one stop bit a character takes 10 bit times, about
// 33 ms, so the program receives replies a few characters at a time, as it would from the real
// amplifier, and its 500 ms quiet rule is exercised for real. With no pacing every segment goes
// out as soon as it may; the pauses between segments are kept either way, since they are the
// point of a split reply.
//
// Time is whatever the caller counts in, as a duration since some fixed start; the caller asks
// what may be written now, writes it, reports how much went, and sleeps until nextReady().
class Transmitter {
public:
    using Time = std::chrono::milliseconds;

    // The time one character takes at 300 baud (rounded down to whole milliseconds).
    static constexpr Time kCharacterTime300Baud{33};

    // A characterTime of zero sends at full speed.
    explicit Transmitter(Time characterTime) : characterTime_(characterTime) {}

    void queue(const Output& output, Time now);
    // Bytes that may be written at `now`: one character when paced, otherwise the rest of the
    // current segment. Empty when nothing is due. Valid until the next call that changes the
    // queue.
    std::string_view ready(Time now) const;
    // The first `count` bytes of ready() have been written at `now`.
    void sent(std::size_t count, Time now);
    // When ready() next has something; none when nothing is queued.
    std::optional<Time> nextReady() const;
    // The line went away: what was not sent is lost.
    void drop();

    bool idle() const { return segments_.empty(); }

private:
    struct Queued {
        Segment segment;
        Time queuedAt;
    };

    Time characterTime_;
    std::deque<Queued> segments_;
    std::size_t sentOfFront_ = 0;
    std::optional<Time> lastSent_;
};

} // namespace sim
