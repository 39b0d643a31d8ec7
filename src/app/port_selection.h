// Choosing a serial port from the Ports menu, and restoring the stored one at start-up.
#pragma once

#include "link/serial_component.h"

#include <QString>

#include <optional>

namespace app {

class IntervalTimer;
class MessageBox;

inline constexpr int kPollPeriodMs = 500;
inline constexpr char kLineSettings[] = "300,N,8,1";

struct PortCommandParts {
    seriallink::SerialComponent& comm;
    MessageBox& boxes;
    QString& port; // the form member
    IntervalTimer& timer;
};

// Remembers port n, moves the component to it and opens it at 300,N,8,1. A failure shows its
// description once and is returned; the menu's mark moves only when the port opened (the
// station records the port the operator chose).
seriallink::Result runPortCommand(const PortCommandParts& parts, int n);

// The stored "port" as a port number, when it is a whole number from 1 to 16.
std::optional<int> storedPortNumber(const QString& port);

} // namespace app
