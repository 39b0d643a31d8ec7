// The per-user settings store: text values by application name, section and key.
#pragma once

#include "about.h"

#include <QString>

namespace app {

// This program uses one application, "Vorlan Wattmeter", one section, "settings", and the keys
// "FormLeft", "FormTop" and "port". On Linux the store is the INI file
// $XDG_CONFIG_HOME/Vorlan Wattmeter/Vorlan Wattmeter.conf; on Windows the registry.
inline constexpr const char* kAppName = kProgramName;
inline constexpr char kSection[] = "settings";

// The stored text, or def when the key is absent.
QString GetSetting(const QString& appname, const QString& section, const QString& key,
                   const QString& def = {});
// Stores the value, creating the key if needed. A store that cannot be written (a read-only
// folder, say) loses the value without disturbing the program.
void SaveSetting(const QString& appname, const QString& section, const QString& key,
                 const QString& value);

} // namespace app
