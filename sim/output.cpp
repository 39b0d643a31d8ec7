#include "sim/output.h"

namespace sim {

std::string textOf(const Output& output) {
    std::string text;
    for (const Segment& segment : output)
        text += segment.bytes;
    return text;
}

void append(Output& output, const Output& more) {
    output.insert(output.end(), more.begin(), more.end());
}

} // namespace sim
