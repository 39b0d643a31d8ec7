// Text-to-number conversion for readings and stored positions: a plain decimal number in the
// C locale, whatever the user's locale says.
#pragma once

#include <optional>
#include <string_view>

namespace telemetry {

// Accepts optional blanks around the number, an optional sign, digits with at most one
// decimal point, and an optional exponent. Empty text, units, thousands separators, hex,
// "inf", "nan" and values outside the single-precision range do not convert.
std::optional<float> toSingle(std::string_view text);

} // namespace telemetry
