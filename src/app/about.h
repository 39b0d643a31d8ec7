#pragma once

#include <QString>

namespace app {

inline constexpr char kAboutTitle[] = "About Vorlan Wattmeter";

// The program's name and, on the next line, its version.
QString aboutText();

} // namespace app
