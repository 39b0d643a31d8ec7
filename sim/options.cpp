#include "sim/options.h"

#include "sim/console_command.h"

#include "link/ports_folder.h"

#include <charconv>
#include <string_view>

namespace sim {

namespace {

template <typename Number> bool parseNumber(std::string_view text, Number& value) {
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    return problem == std::errc() && end == text.data() + text.size();
}

std::string padded(std::string_view text, std::size_t width) {
    std::string result(text);
    result.resize(std::max(width, text.size() + 1), ' ');
    return result;
}

} // namespace

bool parseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto takeValue = [&]() {
            if (!hasValue && i + 1 < argc) {
                value = argv[++i];
                hasValue = true;
            }
            if (!hasValue)
                error = std::string(arg) + " needs a value";
            return hasValue;
        };

        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--fast") {
            options.fast = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--com") {
            if (!takeValue())
                return false;
            if (!parseNumber(value, options.com) || options.com < 1 ||
                options.com > seriallink::kPortCount) {
                error = "--com takes a port number from 1 to " +
                        std::to_string(seriallink::kPortCount) + ", not \"" + std::string(value) +
                        '"';
                return false;
            }
        } else if (arg == "--seed") {
            if (!takeValue())
                return false;
            if (!parseNumber(value, options.seed)) {
                error =
                    "--seed takes a number from 0 to 4294967295, not \"" + std::string(value) + '"';
                return false;
            }
        } else if (arg == "--scenario") {
            if (!takeValue())
                return false;
            options.scenario = findScenario(value);
            if (!options.scenario) {
                error = "no scenario \"" + std::string(value) + "\"; see --help";
                return false;
            }
        } else {
            error = "unknown option \"" + std::string(argv[i]) + "\"; see --help";
            return false;
        }
    }
    return true;
}

std::string consoleHelpText() {
    std::string text;
    for (const ConsoleCommandInfo& info : consoleCommands())
        text += "  " + padded(info.name, 11) + std::string(info.help) + '\n';
    return text;
}

std::string helpText() {
    std::string text = R"(Usage: wattmeter-sim [options]

Plays the RF power amplifier for Vorlan Wattmeter on a pseudo-terminal, linked as
"$XDG_CONFIG_HOME/Vorlan Wattmeter/ports/com<N>" (XDG_CONFIG_HOME defaults to ~/.config),
which the program opens as COM<N>. Choose COM<N> in the program's Ports menu.

Options:
  --com N          serve COM<N>, 1 to 16 (default 1)
  --fast           send at full speed instead of 300 baud (about 30 characters a second)
  --seed N         seed for the readings and the line noise (default 1); the same seed and
                   the same commands at the same times give the same replies
  --scenario NAME  play a canned scenario (below) alongside the commands typed
  --quiet          print only the device and link lines and errors
  --help           show this text

Once the link is in place the simulator prints two lines, then logs what it receives (<)
and sends (>) unless --quiet:
  device /dev/pts/<n>
  link <ports folder>/com<N> -> /dev/pts/<n>
It removes the link when it ends: "quit", Ctrl+C, SIGTERM or SIGHUP. When standard input is
closed or not a terminal it keeps serving until signalled. It refuses to replace a com<N>
that points to anything but a pseudo-terminal, since that is somebody's real serial port.

The amplifier answers these commands, each ended by a carriage return (case-sensitive):
  POWER      "FWD: 850 REV: 12" CR "VSWR: 1.3:1" CR
  CURRENT    "CURRENT:", two blanks, the four stage currents and their total, each
             followed by two blanks, CR (also " CURRENT", as the automatic poll sends it)
  STATUS     the band ("HIGH BAND SELECTED" or "LOW BAND SELECTED") and every active alarm
  RESET      "ZRT-2730 POWER AMP" and the band; clears every alarm but a band mismatch
  other      "?"
The carrier keys on for 3 to 7 s and off for 1.5 to 4 s, around 850 W when on.
Alarms go out when they start and stay in STATUS until RESET or "clear".

Commands on standard input, one per line:
)";
    text += consoleHelpText();
    text += "\nScenarios (--scenario NAME):\n";
    for (const Scenario& scenario : scenarios())
        text += "  " + padded(scenario.name, 11) + std::string(scenario.summary) + '\n';
    return text;
}

} // namespace sim
