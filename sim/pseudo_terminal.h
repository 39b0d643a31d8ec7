// The simulator's end of the serial line: a raw pseudo-terminal. The program under test opens
// the slave device as its serial port; the simulator reads and writes the master.
#pragma once

#include <string>

namespace sim {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // A new terminal; false with the reason in `error` when the system will not give one.
    bool open(std::string& error);
    // Hangs up: whoever has the slave open sees the line go dead, as when a USB adapter is
    // pulled, and the slave device goes away.
    void close();

    bool isOpen() const { return master_ >= 0; }
    int master() const { return master_; } // non-blocking
    const std::string& device() const { return device_; }

private:
    int master_ = -1;
    // Held open so that the master does not read as hung up while the program has the port
    // closed, and so the line is raw before anyone opens it.
    int slave_ = -1;
    std::string device_;
};

} // namespace sim
