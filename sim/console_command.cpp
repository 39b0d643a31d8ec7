#include "sim/console_command.h"

#include <array>

namespace sim {

namespace {

constexpr std::array kCommands = {
    ConsoleCommandInfo{ConsoleCommand::OverPower, "overpower",
                       "over-power: \"PWR FWD ABOVE 1100\", forward power above 1100 W"},
    ConsoleCommandInfo{ConsoleCommand::Vswr, "vswr", "\"HIGH VSWR\", VSWR about 3:1"},
    ConsoleCommandInfo{ConsoleCommand::Supply, "supply",
                       "\"POWER SUPPLY FAULT\", output sags to 60%"},
    ConsoleCommandInfo{ConsoleCommand::Limiter, "limiter",
                       "\"CURRENT LIMITER IN EFFECT\", output held to 700 W"},
    ConsoleCommandInfo{ConsoleCommand::Imbalance, "imbalance",
                       "\"CURRENT IMBALANCE\", stage 3 draws 1.8 times the others"},
    ConsoleCommandInfo{ConsoleCommand::Sum, "sum",
                       "\"SUM OF CURRENT > 100.00 AMPS\", total current above 100 A"},
    ConsoleCommandInfo{ConsoleCommand::Band, "band",
                       "toggles the band; sends \"HARDWARE - HIGHBAND\" or \"HARDWARE - LOWBAND\""},
    ConsoleCommandInfo{ConsoleCommand::HwHigh, "hwhigh",
                       "band mismatch alarm \"HARDWARE - HIGH BAND\" (RESET keeps it)"},
    ConsoleCommandInfo{ConsoleCommand::HwLow, "hwlow",
                       "band mismatch alarm \"HARDWARE - LOW BAND\" (RESET keeps it)"},
    ConsoleCommandInfo{ConsoleCommand::Split, "split",
                       "the next reply comes in two halves 800 ms apart, cut inside its first "
                       "field"},
    ConsoleCommandInfo{ConsoleCommand::Noise, "noise",
                       "a burst of random bytes (NUL, CR, backspace, 0x80-0xFF, ...)"},
    ConsoleCommandInfo{ConsoleCommand::Vanish, "vanish",
                       "closes the terminal, removes the link; back on a new device in 5 s"},
    ConsoleCommandInfo{ConsoleCommand::Return, "return",
                       "after vanish: back at once, on a new device under the same link"},
    ConsoleCommandInfo{ConsoleCommand::Mute, "mute",
                       "the amplifier stops answering (switched off at its end); the device stays"},
    ConsoleCommandInfo{ConsoleCommand::Unmute, "unmute", "after mute: it answers again"},
    ConsoleCommandInfo{ConsoleCommand::Clear, "clear", "ends every fault, band mismatch included"},
    ConsoleCommandInfo{ConsoleCommand::Help, "help", "lists these commands"},
    ConsoleCommandInfo{ConsoleCommand::Quit, "quit", "removes the link and ends the simulator"},
};

} // namespace

std::span<const ConsoleCommandInfo> consoleCommands() {
    return kCommands;
}

std::optional<ConsoleCommand> parseConsoleCommand(std::string_view line) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return std::nullopt;
    line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
    for (const ConsoleCommandInfo& info : kCommands)
        if (info.name == line)
            return info.command;
    return std::nullopt;
}

std::optional<Fault> faultOf(ConsoleCommand command) {
    switch (command) {
    case ConsoleCommand::OverPower:
        return Fault::OverPower;
    case ConsoleCommand::Vswr:
        return Fault::HighVswr;
    case ConsoleCommand::Supply:
        return Fault::SupplyFault;
    case ConsoleCommand::Limiter:
        return Fault::CurrentLimiter;
    case ConsoleCommand::Imbalance:
        return Fault::CurrentImbalance;
    case ConsoleCommand::Sum:
        return Fault::SumOfCurrent;
    case ConsoleCommand::HwHigh:
        return Fault::HardwareHighBand;
    case ConsoleCommand::HwLow:
        return Fault::HardwareLowBand;
    default:
        return std::nullopt;
    }
}

} // namespace sim
