#include "telemetry/field_reader.h"

namespace telemetry {

std::optional<Field> readField(std::string_view buffer, std::size_t start, char terminator) {
    if (start >= buffer.size())
        return std::nullopt;
    const std::size_t end = buffer.find(terminator, start);
    if (end == std::string_view::npos)
        return std::nullopt;
    return Field{buffer.substr(start, end - start), end};
}

} // namespace telemetry
