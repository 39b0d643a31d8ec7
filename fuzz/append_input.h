// What the appendlog fuzz targets share: a fuzz input cut into a sequence of appends, and the
// check that ends a run.
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
        std::fprintf(stderr, "appendlog fuzz: %s\n", what);
        std::abort();
    }
}

// Each append is a two-byte header, the length of a piece and how often it repeats, then the
// piece: a few bytes of input grow a pane past its 16000-character limit, and the pieces
// themselves still carry every byte value (NUL, backspaces, lone carriage returns and line
// feeds, 0x80-0xFF). The top bit of the second byte marks where the widget takes the appends
// gathered so far.
// At most 255 bytes repeated 32 times: big enough to pass the limit in a few appends, small
// enough for the quadratic reference that the pure target compares against.
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
