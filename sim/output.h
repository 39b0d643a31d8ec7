// What the simulated amplifier puts on the line. Most replies are one segment; a reply that
// is to be cut by a pause, as a slow or stalled line cuts one, is two.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace sim {

struct Segment {
    std::chrono::milliseconds pause{0}; // quiet time on the line before the first byte
    std::string bytes;
};

using Output = std::vector<Segment>;

// All bytes of the output, pauses left out.
std::string textOf(const Output& output);

// Appends `more` to `output`, keeping its pauses.
void append(Output& output, const Output& more);

} // namespace sim
