// The simulator program's command line.
#pragma once

#include "sim/scenario.h"

#include <cstdint>
#include <string>

namespace sim {

struct Options {
    int com = 1;
    std::uint32_t seed = 1;
    bool fast = false;
    bool quiet = false;
    bool help = false;
    const Scenario* scenario = nullptr;
};

// False with the reason in `error` for an unknown option or a bad value.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

std::string helpText();
std::string consoleHelpText();

} // namespace sim
