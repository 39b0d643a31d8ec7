// The faults the simulated amplifier can be made to have, and the alarm text each one sends.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <string_view>

namespace sim {

enum class Fault {
    OverPower,
    HighVswr,
    SupplyFault,
    CurrentLimiter,
    CurrentImbalance,
    SumOfCurrent,
    HardwareHighBand, // band switch hardware on the high band, the amplifier set to low
    HardwareLowBand,  // band switch hardware on the low band, the amplifier set to high
};

inline constexpr std::array kAllFaults = {
    Fault::OverPower,        Fault::HighVswr,     Fault::SupplyFault,      Fault::CurrentLimiter,
    Fault::CurrentImbalance, Fault::SumOfCurrent, Fault::HardwareHighBand, Fault::HardwareLowBand,
};

using FaultSet = std::bitset<kAllFaults.size()>;

constexpr std::size_t bit(Fault fault) {
    return static_cast<std::size_t>(fault);
}

// The line the amplifier sends when the fault starts and lists in STATUS while it lasts.
std::string_view alarmText(Fault fault);

// Most faults are latched the way the amplifier latches them: they stay until a RESET. A band
// mismatch is a state of the hardware, not an event, so a RESET does not clear it.
//
// True for the faults a RESET clears.
bool isLatched(Fault fault);

// True for the faults that only happen under carrier: while one of them lasts the carrier is
// held keyed, so the readings show the fault whenever they are asked for.
bool holdsCarrier(Fault fault);

} // namespace sim
