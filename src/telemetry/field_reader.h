// Reads one measurement field: the characters from a start position up to, not including,
// a terminator character.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace telemetry {

struct Field {
    std::string_view text;
    std::size_t terminator; // index of the terminator in the buffer
};

// Returns no field when the buffer ends before the terminator (or before start): a reply cut
// by a tick has not delivered its field yet, and a partial value would be a wrong reading.
std::optional<Field> readField(std::string_view buffer, std::size_t start, char terminator);

} // namespace telemetry
