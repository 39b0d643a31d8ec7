// The texts of the amplifier's serial protocol.
#pragma once

#include <array>
#include <iterator>
#include <string_view>

namespace telemetry {

// Every command goes out as its text and a carriage return in one write; replies are recognised
// by the marker texts below wherever they stand in what has arrived, exactly and
// case-sensitively.
//
// Commands, each already ended by its carriage return.
inline constexpr std::string_view kPowerCommand = "POWER\r";
inline constexpr std::string_view kPolledCurrentCommand =
    " CURRENT\r";                                                // automatic poll: leading blank
inline constexpr std::string_view kCurrentCommand = "CURRENT\r"; // the Current button
inline constexpr std::string_view kStatusCommand = "STATUS\r";
inline constexpr std::string_view kResetCommand = "RESET\r";

// Band reports.
inline constexpr std::string_view kHighBandSelected = "HIGH BAND SELECTED";
inline constexpr std::string_view kHardwareHighband = "HARDWARE - HIGHBAND";
inline constexpr std::string_view kLowBandSelected = "LOW BAND SELECTED";
inline constexpr std::string_view kHardwareLowband = "HARDWARE - LOWBAND";

// Alarm and status texts as the amplifier sends them.
inline constexpr std::string_view kRestartBanner = "ZRT-2730 POWER AMP";
inline constexpr std::string_view kPowerSupplyFault = "POWER SUPPLY FAULT";
inline constexpr std::string_view kOverPower = "PWR FWD ABOVE 1100";
inline constexpr std::string_view kCurrentLimiter = "CURRENT LIMITER IN EFFECT";
inline constexpr std::string_view kSumOfCurrent = "SUM OF CURRENT > 100.00 AMPS";
inline constexpr std::string_view kCurrentImbalance = "CURRENT IMBALANCE";
inline constexpr std::string_view kHighVswr = "HIGH VSWR";
// These differ from the band reports above only by the blank before BAND.
inline constexpr std::string_view kHardwareHighBandAlarm = "HARDWARE - HIGH BAND";
inline constexpr std::string_view kHardwareLowBandAlarm = "HARDWARE - LOW BAND";

// Alarm texts that the alarm pane shows where they differ from the marker.
inline constexpr std::string_view kAmplifierRestarted = "AMPLIFIER RESTARTED";
inline constexpr std::string_view kHardwareHighBandLine = "HW - HBAND, SW - LBAND";
inline constexpr std::string_view kHardwareLowBandLine = "HW - LBAND, SW - HBAND";

// Every text an alarm line can carry, with the id that names it where a text will not do
// (Home Assistant's event types); ids are lower case, digits and underscores.
struct Alarm {
    std::string_view text;
    std::string_view id;
};
inline constexpr Alarm kAlarms[] = {
    {kAmplifierRestarted, "amplifier_restarted"},
    {kPowerSupplyFault, "power_supply_fault"},
    {kOverPower, "pwr_fwd_above_1100"},
    {kCurrentLimiter, "current_limiter_in_effect"},
    {kSumOfCurrent, "sum_of_current_over_100_a"},
    {kCurrentImbalance, "current_imbalance"},
    {kHighVswr, "high_vswr"},
    {kHardwareHighBandLine, "hw_hband_sw_lband"},
    {kHardwareLowBandLine, "hw_lband_sw_hband"},
};
// The id of an alarm text that the table does not know (one from a newer amplifier, say).
inline constexpr std::string_view kOtherAlarmId = "other";
inline constexpr auto kAlarmLines = [] {
    std::array<std::string_view, std::size(kAlarms)> lines{};
    for (std::size_t i = 0; i < lines.size(); ++i)
        lines[i] = kAlarms[i].text;
    return lines;
}();

// Measurement markers.
inline constexpr std::string_view kCurrentMarker = "CURRENT:";
inline constexpr std::string_view kForwardMarker = "FWD:";
inline constexpr std::string_view kReflectedMarker = "REV:";
inline constexpr std::string_view kVswrMarker = "VSWR:";

} // namespace telemetry
