// The COM ports as the program and the simulator share them: how many, and where their links are.
#pragma once

#include <QString>

namespace seriallink {

// COM1 to COM16.
inline constexpr int kPortCount = 16;

// On Linux and macOS COM<n> is whatever device the link "com<n>" in this folder points to, the
// way Wine maps COM ports. Read afresh on every call, so that a changed XDG_CONFIG_HOME counts.
QString portsFolder();

} // namespace seriallink
