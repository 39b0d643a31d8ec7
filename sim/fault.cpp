#include "sim/fault.h"

#include "telemetry/protocol.h"

namespace sim {

std::string_view alarmText(Fault fault) {
    switch (fault) {
    case Fault::OverPower:
        return telemetry::kOverPower;
    case Fault::HighVswr:
        return telemetry::kHighVswr;
    case Fault::SupplyFault:
        return telemetry::kPowerSupplyFault;
    case Fault::CurrentLimiter:
        return telemetry::kCurrentLimiter;
    case Fault::CurrentImbalance:
        return telemetry::kCurrentImbalance;
    case Fault::SumOfCurrent:
        return telemetry::kSumOfCurrent;
    case Fault::HardwareHighBand:
        return telemetry::kHardwareHighBandAlarm;
    case Fault::HardwareLowBand:
        return telemetry::kHardwareLowBandAlarm;
    }
    return {};
}

bool isLatched(Fault fault) {
    return fault != Fault::HardwareHighBand && fault != Fault::HardwareLowBand;
}

bool holdsCarrier(Fault fault) {
    switch (fault) {
    case Fault::OverPower:
    case Fault::HighVswr:
    case Fault::CurrentLimiter:
    case Fault::CurrentImbalance:
    case Fault::SumOfCurrent:
        return true;
    default:
        return false;
    }
}

} // namespace sim
