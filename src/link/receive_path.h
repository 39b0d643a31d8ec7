// The bytes of a receive event: kept unchanged for the next tick's scan, and upper-cased for
// the terminal pane.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace seriallink {

class SerialComponent;

// Upper case for one-byte characters: a-z and the Latin-1 letters that have a one-byte
// capital; every other byte stays as it is, so the length never changes.
std::string upperCaseLatin1(std::string_view text);

// On a receive event, takes the waiting text into parsestring and returns it upper-cased;
// other events bring nothing.
std::optional<std::string> takeReceived(SerialComponent& comm, std::string& parsestring);

} // namespace seriallink
