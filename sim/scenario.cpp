#include "sim/scenario.h"

#include <array>

namespace sim {

namespace {

using namespace std::chrono_literals;

// Each alarm for a few seconds, one after the other, then a short rest.
constexpr std::array kAlarms = {
    ScenarioStep{2s, "overpower"}, ScenarioStep{5s, "clear"},   ScenarioStep{7s, "vswr"},
    ScenarioStep{10s, "clear"},    ScenarioStep{12s, "supply"}, ScenarioStep{15s, "clear"},
    ScenarioStep{17s, "limiter"},  ScenarioStep{20s, "clear"},  ScenarioStep{22s, "imbalance"},
    ScenarioStep{25s, "clear"},    ScenarioStep{27s, "sum"},    ScenarioStep{30s, "clear"},
    ScenarioStep{32s, "hwhigh"},   ScenarioStep{35s, "clear"},  ScenarioStep{37s, "hwlow"},
    ScenarioStep{40s, "clear"},
};
constexpr std::array kSplit = {ScenarioStep{3s, "split"}};
constexpr std::array kNoise = {ScenarioStep{2s, "noise"}};
constexpr std::array kVanish = {ScenarioStep{5s, "vanish"}};
constexpr std::array kOverPower = {ScenarioStep{3s, "overpower"}};
constexpr std::array kMute = {ScenarioStep{5s, "mute"}, ScenarioStep{20s, "unmute"}};
constexpr std::array kBands = {
    ScenarioStep{3s, "band"},   ScenarioStep{6s, "band"},   ScenarioStep{9s, "hwhigh"},
    ScenarioStep{12s, "clear"}, ScenarioStep{15s, "hwlow"}, ScenarioStep{18s, "clear"},
};

constexpr std::array kScenarios = {
    Scenario{"alarms", "every alarm in turn for 3 s each, repeating every 42 s", kAlarms, 42s},
    Scenario{"split", "every 5 s the next reply is split by an 800 ms pause", kSplit, 5s},
    Scenario{"noise", "a burst of line noise every 4 s", kNoise, 4s},
    Scenario{"vanish", "the device vanishes after 5 s (and comes back 5 s later)", kVanish},
    Scenario{"overpower", "over-power after 3 s, until RESET or \"clear\"", kOverPower},
    Scenario{"mute", "the amplifier answers nothing from 5 s to 20 s, every 30 s", kMute, 30s},
    Scenario{"bands", "band switch twice, then each band mismatch alarm for 3 s; every 20 s",
             kBands, 20s},
};

} // namespace

std::span<const Scenario> scenarios() {
    return kScenarios;
}

const Scenario* findScenario(std::string_view name) {
    for (const Scenario& scenario : kScenarios)
        if (scenario.name == name)
            return &scenario;
    return nullptr;
}

ScenarioRunner::ScenarioRunner(const Scenario& scenario, Time start)
    : scenario_(&scenario), roundStart_(start) {}

std::optional<ScenarioRunner::Time> ScenarioRunner::nextDue() const {
    if (next_ >= scenario_->steps.size())
        return std::nullopt;
    return roundStart_ + scenario_->steps[next_].at;
}

std::vector<std::string_view> ScenarioRunner::due(Time now) {
    std::vector<std::string_view> commands;
    for (auto at = nextDue(); at && *at <= now; at = nextDue()) {
        commands.push_back(scenario_->steps[next_].command);
        if (++next_ == scenario_->steps.size() && scenario_->period > Time(0)) {
            next_ = 0;
            roundStart_ += scenario_->period;
        }
    }
    return commands;
}

} // namespace sim
