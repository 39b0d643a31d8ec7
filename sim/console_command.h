// The simulator's operator commands, typed one per line on its standard input or played by a
// scenario.
#pragma once

#include "sim/fault.h"

#include <optional>
#include <span>
#include <string_view>

namespace sim {

enum class ConsoleCommand {
    OverPower,
    Vswr,
    Supply,
    Limiter,
    Imbalance,
    Sum,
    Band,
    HwHigh,
    HwLow,
    Split,
    Noise,
    Vanish,
    Return,
    Mute,
    Unmute,
    Clear,
    Help,
    Quit,
};

// The names are what the operator types; the help texts are what --help and "help" print.
struct ConsoleCommandInfo {
    ConsoleCommand command;
    std::string_view name;
    std::string_view help;
};

std::span<const ConsoleCommandInfo> consoleCommands();

// The command a line names, blanks around it ignored; none for anything else.
std::optional<ConsoleCommand> parseConsoleCommand(std::string_view line);

// The fault a command raises, for the commands that raise one.
std::optional<Fault> faultOf(ConsoleCommand command);

} // namespace sim
