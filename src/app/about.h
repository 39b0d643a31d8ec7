#pragma once

#include <QString>

namespace app {

// The program's name: the application title that message boxes without a title of their own
// show, the settings store's application, and the name on notifications.
inline constexpr char kProgramName[] = "Vorlan Wattmeter";
// The About box's title, and its text: the program's name and, on the next line, its version.
QString aboutTitle();
QString aboutText();

} // namespace app
