// The amplifier's measurements and how they drift over time.
#pragma once

#include "sim/fault.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>

namespace sim {

enum class Band { High, Low };

struct Readings {
    int forward = 0;   // watts
    int reflected = 0; // watts
    int vswrTenths = 10;
    std::array<int, 4> stageCentiamps{};

    // The total is the sum of the stages as they are shown, so the reply always adds up.
    int totalCentiamps() const;
};

// "FWD: 850 REV: 12\rVSWR: 1.3:1\r"
std::string powerReply(const Readings& readings);
// "CURRENT:  7.61  7.72  7.58  7.80  30.71  \r": two blanks behind the marker and behind
// every value, the total included, because the program skips one character after each blank.
std::string currentReply(const Readings& readings);

// A carrier is keyed on and off every few seconds; while it is keyed the forward power wanders
// around the set point, the reflected power follows from the antenna's VSWR, and the four stages
// draw current in proportion to the output. Faults bend these numbers the way the fault would.
//
// All randomness comes from one generator seeded at construction, and time advances in fixed
// steps, so the same seed and the same calls give the same readings however time is handed in.
class ReadingModel {
public:
    static constexpr std::chrono::milliseconds kStep{100};
    static constexpr double kSetPointWatts = 850.0;

    explicit ReadingModel(std::uint32_t seed);

    void elapse(std::chrono::milliseconds time);
    // Keyed by the operator's schedule, faults aside.
    bool carrierKeyed() const { return keyed_; }
    // One measurement now; each call adds its own small measurement noise.
    Readings sample(const FaultSet& faults, Band band);

private:
    void step();
    double uniform(double low, double high);

    std::mt19937 random_;
    std::chrono::milliseconds pending_{0};
    bool keyed_ = true;
    std::chrono::milliseconds keyLeft_{0};
    double drift_ = 0.0;     // slow wander of the output, as a fraction of the set point
    double vswrDrift_ = 0.0; // slow wander of the antenna's match
};

} // namespace sim
