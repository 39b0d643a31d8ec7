// Text-to-number conversion for readings and stored positions.
#include "telemetry/number.h"

#include <charconv>

namespace telemetry {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t skipDigits(std::string_view text, std::size_t i) {
    while (i < text.size() && isDigit(text[i]))
        ++i;
    return i;
}

// True when text is exactly: digits with at most one decimal point (at least one digit), then
// an optional exponent with an optional sign and at least one digit.
bool isPlainDecimal(std::string_view text) {
    std::size_t i = skipDigits(text, 0);
    std::size_t digits = i;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fractionEnd = skipDigits(text, i + 1);
        digits += fractionEnd - (i + 1);
        i = fractionEnd;
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        const std::size_t exponentEnd = skipDigits(text, i);
        if (exponentEnd == i)
            return false;
        i = exponentEnd;
    }
    return i == text.size();
}

} // namespace

// The grammar is checked here rather than left to std::from_chars, which also takes "inf",
// "nan" and hex forms and refuses a leading '+'. from_chars itself ignores the locale, so a
// German desktop still reads "1.3" as one point three.
std::optional<float> toSingle(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (!isPlainDecimal(text))
        return std::nullopt;
    float value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return negative ? -value : value;
}

} // namespace telemetry
