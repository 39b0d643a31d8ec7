// The bytes of a receive event: kept unchanged for the next tick's scan, and upper-cased for
// the terminal pane.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace seriallink {

class SerialComponent;

// Upper case for one-byte characters: a-z and the Latin-1 letters that have a one-byte
// capital; every other byte stays as it is, so the length never changes.
std::string upperCaseLatin1(std::string_view text);

// The receive buffer keeps at most this much of a line that never goes quiet (the wrong device,
// a wrong speed, noise): a tick empties it only after a quiet spell. The oldest bytes go first,
// once a read's worth (kReceiveSlack) has piled up past the limit.
inline constexpr std::size_t kReceiveLimit = 1 << 20;
inline constexpr std::size_t kReceiveSlack = 64 << 10;

// On a receive event, takes the waiting text into parsestring and returns it upper-cased;
// other events bring nothing.
std::optional<std::string> takeReceived(SerialComponent& comm, std::string& parsestring);

} // namespace seriallink
