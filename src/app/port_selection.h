// Choosing a serial port from the Ports menu, and restoring the stored one at start-up.
#pragma once

#include <QString>

#include <array>
#include <optional>

class QAction;

namespace seriallink {
class IntervalTimer;
class SerialComponent;
} // namespace seriallink

namespace app {

class MessageBox;

inline constexpr int kPortCount = 16;
inline constexpr int kPollPeriodMs = 500;
inline constexpr char kLineSettings[] = "300,N,8,1";

struct PortCommandParts {
    seriallink::SerialComponent& comm;
    MessageBox& boxes;
    const std::array<QAction*, kPortCount>& items; // Com1 .. Com16
    QString& port;                                 // the form member
    seriallink::IntervalTimer& timer;
};

// The check marks on the sixteen port items are the program's record of the port in use: a
// command moves the mark only when its port opened.
//
// Remembers port n, moves the component to it and opens it at 300,N,8,1. A failure shows
// its description once and leaves the check marks as they were.
void runPortCommand(const PortCommandParts& parts, int n);

// The stored "port" as a port number, when it is a whole number from 1 to 16.
std::optional<int> storedPortNumber(const QString& port);

} // namespace app
