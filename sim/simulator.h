// The simulator program: the amplifier model served on a pseudo-terminal linked as a COM port.
#pragma once

#include "sim/amplifier.h"
#include "sim/options.h"
#include "sim/pseudo_terminal.h"
#include "sim/scenario.h"
#include "sim/transmitter.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace sim {

// Driven by a plain poll() loop over the terminal, standard input, a scenario's clock and a
// self-pipe that turns SIGINT, SIGTERM and SIGHUP into an orderly stop.
class Simulator {
public:
    using Time = std::chrono::milliseconds;

    // How long a vanished device stays away before it comes back on a new terminal.
    static constexpr Time kAwayAfterVanish{5000};

    Simulator(const Options& options, std::filesystem::path link);

    // Serves until told to stop; the process's exit status.
    int run();

private:
    Time now() const;
    bool plugIn();
    void vanish();
    void execute(std::string_view line);
    void send(const Output& output);
    void transmit();
    void readLine();
    void readConsole();
    int pollTimeout() const;
    void log(const std::string& text) const;

    Options options_;
    std::filesystem::path link_;
    Amplifier amplifier_;
    Transmitter transmitter_;
    PseudoTerminal terminal_;
    std::optional<ScenarioRunner> scenario_;
    std::chrono::steady_clock::time_point start_;
    Time lastElapse_{0};
    std::optional<Time> returnsAt_;
    bool writeBlocked_ = false;
    bool consoleOpen_ = true;
    std::string consoleBuffer_;
    bool quit_ = false;
    bool muted_ = false; // the line stays, the amplifier hears and says nothing
};

} // namespace sim
