// Every line either program writes on standard error goes through say(): the start-up lines,
// the journal's reports, the MQTT client's, and the service's lines for what the window would
// show in a box or a notification. Each line starts with the program's name. When standard error
// is the systemd journal (JOURNAL_STREAM names it), each line also carries its priority the way
// sd-daemon(3) prefixes do, so `journalctl -p warning` finds the ones that matter.
#pragma once

#include <QString>

namespace app {

enum class Severity { Error, Warning, Info };

// The exit status of every refusal at start (an option, a file, a port): systemd's
// RestartPreventExitStatus= keeps a service that cannot work from restarting in a loop.
inline constexpr int kRefusedAtStart = 2;

// The name each line starts with: "wattmeter" unless told otherwise.
void setProgramTag(const char* name);
void say(Severity severity, const QString& line);

} // namespace app
