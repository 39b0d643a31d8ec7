// What the fuzz targets share: the check that ends a run, and for the appendlog targets a fuzz
// input cut into a sequence of appends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzzinput {

inline void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz: %s\n", what);
        std::abort();
    }
}

// Each append is a two-byte header (the length of a piece, up to 255 bytes, and how often it
// repeats, up to 32 times; the top bit marks where the widget takes the appends gathered so far),
// then the piece: a few appends pass the pane's 16000-character limit, the pieces still carry
// every byte value, and the pure target's quadratic reference stays fast.
struct Append {
    std::string data;
    bool flush = false; // the widget takes what has gathered, this append included
};

inline std::vector<Append> appends(const std::uint8_t* data, std::size_t size) {
    std::vector<Append> result;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::size_t length = data[at];
        const std::size_t repeat = 1 + data[at + 1] % 32;
        const bool flush = (data[at + 1] & 0x80) != 0;
        at += 2;
        const std::size_t take = length < size - at ? length : size - at;
        const std::string piece(reinterpret_cast<const char*>(data + at), take);
        at += take;
        std::string append;
        append.reserve(piece.size() * repeat);
        for (std::size_t i = 0; i < repeat; ++i)
            append += piece;
        result.push_back({std::move(append), flush});
    }
    return result;
}

} // namespace fuzzinput
