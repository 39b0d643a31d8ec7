// Where COM1 to COM16 live on this machine, and what to tell the operator when one cannot be used.
#pragma once

#include "link/ports_folder.h"

#include <QSerialPort>
#include <QString>

namespace seriallink {

// The program speaks of numbered COM ports everywhere; only this file and portsFolder() know
// that on Linux and macOS a COM port is whatever device the per-user link "com<n>" points to,
// with /dev/ttyS<n-1> as Linux's fallback.

// The device that COM<port> stands for: "COM<port>" on Windows; elsewhere the fully resolved
// target of the link "com<port>" (a dangling link still yields its target, so that an error can
// name it), or the fallback when there is no link.
QString comPortDevice(int port);

// Whether COM<port> is defined by a link (dangling or not), rather than by the fallback.
bool comPortLinked(int port);

// Why an open failed, in the terms the operator can act on.
enum class OpenProblem {
    Missing,          // the device is not there
    PermissionDenied, // the user may not use the device
    InUse,            // another program holds the device
    Other,
};

// Sorts a QSerialPort error and its text into an OpenProblem.
OpenProblem classifyOpenFailure(QSerialPort::SerialPortError error, const QString& reason);

// A few lines for the operator: which COM port, which device, the system's reason and what to do.
QString openFailureDescription(int port, const QString& device, QSerialPort::SerialPortError error,
                               const QString& reason);

// The same for a device opened by its path rather than as a COM port.
QString pathOpenFailureDescription(const QString& path, QSerialPort::SerialPortError error,
                                   const QString& reason);

// Said when an open port's device goes away (unplugged, other end closed); name is how the
// program names the port ("COM3", or the path it was opened by).
QString deviceLostDescription(const QString& name, const QString& device);

} // namespace seriallink
