// The simulated amplifier: what it answers to each command, which alarms it has, and the
// disturbances a real line adds.
#pragma once

#include "sim/fault.h"
#include "sim/output.h"
#include "sim/readings.h"

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace sim {

// The amplifier knows nothing of terminals or clocks: the caller hands in received bytes and
// elapsed time and gets back what the amplifier sends, in segments with the pauses between them
// (see output.h). The simulator program paces those bytes onto a pseudo-terminal; tests read
// them directly.
class Amplifier {
public:
    // Longer than any command; the rest of an overlong line is dropped and the line refused.
    static constexpr std::size_t kMaxCommandLength = 64;
    // Longer than the program's 500 ms quiet rule, so the program sees two replies.
    static constexpr std::chrono::milliseconds kSplitPause{800};

    explicit Amplifier(std::uint32_t seed = 1);

    // Bytes from the line. Returns the replies to every command they complete, in order.
    //
    // Commands end at a carriage return; line feeds are ignored and a backspace takes back the
    // last character, as when an operator types into a terminal. Commands are case-sensitive,
    // and blanks around them are ignored, so the automatic poll's " CURRENT" is understood:
    //
    //   POWER    "FWD: <W> REV: <W>\rVSWR: <v.v>:1\r"
    //   CURRENT  "CURRENT:  <a>  <a>  <a>  <a>  <total>  \r"
    //   STATUS   the band report, then every active alarm, one line each
    //   RESET    "ZRT-2730 POWER AMP\r" and the band report; clears the latched alarms
    //   other    "?\r"
    Output receive(std::string_view bytes);
    // Time passes: the carrier keys and the readings drift.
    void elapse(std::chrono::milliseconds time);

    // The fault starts: its alarm text goes out at once, unasked, and STATUS lists it.
    // Raising an active fault sends its alarm again.
    Output raise(Fault fault);
    // Every fault ends, latched or not, as after a repair. Sends nothing.
    void clearFaults();
    // The front-panel band switch: the other band, announced by the hardware band report.
    Output switchBand();
    // The next reply to a command goes out in two halves with kSplitPause between them. The
    // cut falls inside the first measurement field, so the field's terminator arrives only
    // after the pause, or for other replies inside their first line.
    void splitNextReply();
    // A burst of garbage such as a poor cable picks up: control characters including NUL,
    // carriage return and backspace, bytes 0x80 to 0xFF, lower-case letters, digits and
    // punctuation. It never holds a text the program recognises, since every such text has
    // upper-case letters.
    Output lineNoise();
    // Forgets a half-received command, as when the line is hung up.
    void dropPartialCommand() { command_.clear(); }

    Band band() const { return band_; }
    bool isActive(Fault fault) const { return faults_.test(bit(fault)); }
    bool carrierKeyed() const { return readings_.carrierKeyed(); }

private:
    std::string answer(std::string_view command);
    std::string statusReply() const;
    std::string bandReport() const;
    Output deliver(std::string reply);

    ReadingModel readings_;
    std::mt19937 noise_; // separate from the readings, so noise leaves them as they would be
    std::string command_;
    bool overlong_ = false;
    bool splitNext_ = false;
    Band band_ = Band::High;
    FaultSet faults_;
};

// Where a reply is cut when it is split: inside the first field behind the first measurement
// marker, or in the middle of the first line for a reply without one.
std::size_t splitPosition(std::string_view reply);

} // namespace sim
