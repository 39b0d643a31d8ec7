// The per-user link "com<N>" that makes a device the program's COM<N>.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sim {

// A slave pseudo-terminal's path: /dev/pts/<n> (Linux, the BSDs) or /dev/ttys<n> (macOS).
bool isPseudoTerminalPath(std::string_view path);

// The simulator only ever replaces a link to a pseudo-terminal (its own from an earlier run, or
// another simulator's): a link to anything else is someone's real serial port.
//
// Points `link` at `device`, creating its folder. Returns an empty text on success, otherwise
// what stands in the way, in words for the operator.
std::string claimPortLink(const std::filesystem::path& link, const std::string& device);

// Removes `link` if it still points to `device`; a link someone has since pointed elsewhere
// is theirs.
void releasePortLink(const std::filesystem::path& link, const std::string& device);

} // namespace sim
