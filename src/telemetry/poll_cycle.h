// The counting half of the poll cycle: how many ticks have passed and which commands are due.
// The window's tick handler scans the receive buffer and then sends what tick() returns.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace telemetry {

class PollCycle {
public:
    std::int16_t poll = 0;        // ticks since the last automatic poll; saturates at 32767
    std::int16_t interval = 0;    // ticks between automatic polls; 0 = polling off
    std::int16_t pollcurrent = 0; // 1 = each automatic poll also asks for the currents

    // Counts one tick and returns the commands to send now, in order (empty when none is due).
    std::vector<std::string_view> tick();
};

} // namespace telemetry
