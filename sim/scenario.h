// Canned, timed sequences of operator commands, for demonstrations and for scripts that have
// no one at the keyboard. A scenario either runs once or starts over after its period.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace sim {

struct ScenarioStep {
    std::chrono::milliseconds at; // from the start of each round
    std::string_view command;     // an operator command, as typed
};

struct Scenario {
    std::string_view name;
    std::string_view summary;
    std::span<const ScenarioStep> steps;
    std::chrono::milliseconds period{0}; // zero: runs once
};

std::span<const Scenario> scenarios();
const Scenario* findScenario(std::string_view name);

// Plays a scenario against a clock that the caller reads.
class ScenarioRunner {
public:
    using Time = std::chrono::milliseconds;

    ScenarioRunner(const Scenario& scenario, Time start);

    // The commands due by `now` that have not been handed out yet, in order.
    std::vector<std::string_view> due(Time now);
    // When the next command is due; none once a scenario that runs once is done.
    std::optional<Time> nextDue() const;

private:
    const Scenario* scenario_;
    Time roundStart_;
    std::size_t next_ = 0;
};

} // namespace sim
