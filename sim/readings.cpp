#include "sim/readings.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace sim {

namespace {

// Typical of a solid-state amplifier on a 50 V supply: about 27.5 W out per ampere drawn,
// and a little bias current in every stage even without a carrier.
constexpr double kWattsPerAmp = 27.5;
constexpr double kIdleAmpsPerStage = 0.35;

// The carrier stays keyed for 3 to 7 s, then rests for 1.5 to 4 s.
constexpr double kKeyedMinMs = 3000, kKeyedMaxMs = 7000;
constexpr double kRestMinMs = 1500, kRestMaxMs = 4000;

// Well above the 1100 W the program warns about, whatever the drift.
constexpr double kRunawayWatts = 1180.0;
constexpr double kLimitedWatts = 700.0;
constexpr double kSaggingSupplyFactor = 0.6;
// Enough per stage that the four together exceed 100 A even at the low end of the noise.
constexpr double kOverloadAmpsPerStage = 26.0;
constexpr double kImbalanceFactor = 1.8;

std::string centiText(int centi) {
    std::string text = std::to_string(centi / 100) + '.';
    const int fraction = centi % 100;
    if (fraction < 10)
        text += '0';
    return text + std::to_string(fraction);
}

} // namespace

int Readings::totalCentiamps() const {
    return std::accumulate(stageCentiamps.begin(), stageCentiamps.end(), 0);
}

std::string powerReply(const Readings& r) {
    return "FWD: " + std::to_string(r.forward) + " REV: " + std::to_string(r.reflected) +
           "\rVSWR: " + std::to_string(r.vswrTenths / 10) + '.' +
           std::to_string(r.vswrTenths % 10) + ":1\r";
}

std::string currentReply(const Readings& r) {
    std::string text = "CURRENT:  ";
    for (int stage : r.stageCentiamps)
        text += centiText(stage) + "  ";
    return text + centiText(r.totalCentiamps()) + "  \r";
}

ReadingModel::ReadingModel(std::uint32_t seed) : random_(seed) {
    keyLeft_ = std::chrono::milliseconds(
        std::lround(uniform(kKeyedMinMs, kKeyedMaxMs) / kStep.count()) * kStep.count());
}

// The engine's raw output is the same everywhere; the standard distributions are not, so
// the conversion to a range is done here.
double ReadingModel::uniform(double low, double high) {
    return low + (high - low) * (static_cast<double>(random_()) / 4294967296.0);
}

void ReadingModel::elapse(std::chrono::milliseconds time) {
    pending_ += time;
    while (pending_ >= kStep) {
        pending_ -= kStep;
        step();
    }
}

void ReadingModel::step() {
    keyLeft_ -= kStep;
    if (keyLeft_ <= std::chrono::milliseconds(0)) {
        keyed_ = !keyed_;
        const double ms =
            keyed_ ? uniform(kKeyedMinMs, kKeyedMaxMs) : uniform(kRestMinMs, kRestMaxMs);
        keyLeft_ = std::chrono::milliseconds(std::lround(ms / kStep.count()) * kStep.count());
    }
    drift_ = std::clamp(drift_ + uniform(-0.004, 0.004), -0.04, 0.04);
    vswrDrift_ = std::clamp(vswrDrift_ + uniform(-0.003, 0.003), -0.05, 0.05);
}

Readings ReadingModel::sample(const FaultSet& faults, Band band) {
    auto has = [&](Fault fault) { return faults.test(bit(fault)); };
    bool keyed = keyed_;
    for (Fault fault : kAllFaults)
        keyed = keyed || (has(fault) && holdsCarrier(fault));

    double forward = 0.0;
    if (keyed) {
        forward = kSetPointWatts * (1.0 + drift_);
        if (has(Fault::SupplyFault))
            forward *= kSaggingSupplyFactor;
        if (has(Fault::CurrentLimiter))
            forward = std::min(forward, kLimitedWatts);
        if (has(Fault::OverPower))
            forward = kRunawayWatts * (1.0 + drift_);
        forward *= 1.0 + uniform(-0.005, 0.005);
    }

    // The antenna matches a little better on the low band.
    double vswr = (band == Band::High ? 1.3 : 1.18) + vswrDrift_;
    if (has(Fault::HighVswr))
        vswr = 3.1 + 4.0 * vswrDrift_;
    const double reflection = (vswr - 1.0) / (vswr + 1.0);

    Readings r;
    r.forward = static_cast<int>(std::lround(forward));
    r.reflected = static_cast<int>(std::lround(forward * reflection * reflection));
    // Without a carrier there is nothing to measure a mismatch with; the meter rests at 1.0.
    r.vswrTenths = keyed ? static_cast<int>(std::lround(vswr * 10.0)) : 10;

    double perStage = kIdleAmpsPerStage + forward / kWattsPerAmp / 4.0;
    if (has(Fault::SumOfCurrent))
        perStage = kOverloadAmpsPerStage;
    for (std::size_t i = 0; i < r.stageCentiamps.size(); ++i) {
        double amps = perStage * (1.0 + uniform(-0.02, 0.02));
        if (i == 2 && has(Fault::CurrentImbalance))
            amps *= kImbalanceFactor;
        r.stageCentiamps[i] = static_cast<int>(std::lround(amps * 100.0));
    }
    return r;
}

} // namespace sim
