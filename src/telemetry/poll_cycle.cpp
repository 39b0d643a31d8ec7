#include "telemetry/poll_cycle.h"

#include "telemetry/protocol.h"

#include <limits>

namespace telemetry {

std::vector<std::string_view> PollCycle::tick() {
    // With polling off the count keeps running, so switching polling on sends at the next tick;
    // it stops at the top instead of wrapping to a negative count that would never be due.
    if (poll < std::numeric_limits<std::int16_t>::max())
        ++poll;
    if (interval == 0 || poll <= interval)
        return {};
    poll = 0;
    if (pollcurrent == 1)
        return {kPowerCommand, kPolledCurrentCommand};
    return {kPowerCommand};
}

} // namespace telemetry
