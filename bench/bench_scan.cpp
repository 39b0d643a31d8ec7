// The scan over what the line delivers between two ticks: normally a few replies, but a line
// that never goes quiet for 500 ms piles up, and the whole pile is scanned in one tick.
#include "telemetry/scanner.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

namespace {

class CountingSink : public telemetry::ScanSink {
public:
    std::size_t reports = 0;
    void band(telemetry::Band) override { ++reports; }
    void overPowerWarning() override { ++reports; }
    void alarm(std::string_view text) override { reports += text.size(); }
    void reading(telemetry::Reading, std::string_view field) override { reports += field.size(); }
};

// What the amplifier says, in roughly the mix a polled session produces: power replies most
// of the time, current replies, command echoes, now and then a band text or an alarm, and
// some line noise.
std::string mixedTraffic(std::size_t size) {
    std::mt19937 random(1100);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    static const char* const statusTexts[] = {
        "HIGH BAND SELECTED\r",
        "LOW BAND SELECTED\r",
        "HARDWARE - HIGHBAND\r",
        "HARDWARE - LOW BAND\r",
        "ZRT-2730 POWER AMP V1.4\r",
        "POWER SUPPLY FAULT\r",
        "HIGH VSWR\r",
        "CURRENT LIMITER IN EFFECT\r",
        "CURRENT IMBALANCE\r",
        "PWR FWD ABOVE 1100\r",
        "SUM OF CURRENT > 100.00 AMPS\r",
    };
    std::string traffic;
    char line[128];
    while (traffic.size() < size) {
        const int kind = pick(100);
        if (kind < 45) {
            std::snprintf(line, sizeof line, "POWER\rFWD: %d REV: %d\rVSWR: %d.%d:1\r", pick(1100),
                          pick(60), 1 + pick(2), pick(10));
        } else if (kind < 70) {
            std::snprintf(line, sizeof line,
                          "CURRENT\rCURRENT:  %d.%d  %d.%d  %d.%d  %d.%d  %d.%d  \r", pick(20),
                          pick(10), pick(20), pick(10), pick(20), pick(10), pick(20), pick(10),
                          pick(80), pick(10));
        } else if (kind < 80) {
            std::snprintf(line, sizeof line, "STATUS\r%s", statusTexts[pick(11)]);
        } else {
            int length = 8 + pick(40);
            char* out = line;
            while (length-- > 0)
                *out++ = static_cast<char>(32 + pick(95));
            *out++ = '\r';
            *out = 0;
        }
        traffic += line;
    }
    traffic.resize(size);
    return traffic;
}

void BM_ScanMixedTraffic(benchmark::State& state) {
    const std::string buffer = mixedTraffic(static_cast<std::size_t>(state.range(0)));
    CountingSink sink;
    for (auto _ : state) {
        telemetry::scan(buffer, sink);
        benchmark::DoNotOptimize(sink.reports);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(buffer.size()));
}
BENCHMARK(BM_ScanMixedTraffic)->Arg(32 << 10)->Arg(1 << 20);

// Markers whose field never ends: each one looks for the same missing terminator, which must
// not make the scan quadratic.
void BM_ScanUnterminatedFields(benchmark::State& state) {
    std::string buffer;
    while (buffer.size() < static_cast<std::size_t>(state.range(0)))
        buffer += "FWD:REV:CURRENT:";
    CountingSink sink;
    for (auto _ : state) {
        telemetry::scan(buffer, sink);
        benchmark::DoNotOptimize(sink.reports);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(buffer.size()));
}
BENCHMARK(BM_ScanUnterminatedFields)->Arg(32 << 10)->Arg(1 << 20);

} // namespace
