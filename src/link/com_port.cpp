#include "com_port.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace seriallink {

namespace {

QString comName(int port) {
    return QStringLiteral("COM%1").arg(port);
}

#ifndef Q_OS_WIN
QString linkPath(int port) {
    return QDir(portsFolder()).filePath(QStringLiteral("com%1").arg(port));
}

// A line the operator can paste into a terminal. The folder name has a space in it, hence the
// quotes; -f so that it also repairs a link that points to the wrong device.
QString linkCommand(int port) {
    return QStringLiteral("mkdir -p \"%1\" && ln -sf /dev/ttyUSB0 \"%2\"")
        .arg(portsFolder(), linkPath(port));
}
#endif

} // namespace

QString comPortDevice(int port) {
#ifdef Q_OS_WIN
    return comName(port);
#else
    const QFileInfo link(linkPath(port));
    if (link.isSymLink()) {
        // Open the final target, not the link: Qt names its lock file after the path it opens,
        // and two links to one device must share one lock.
        const QString resolved = link.canonicalFilePath();
        return resolved.isEmpty() ? link.symLinkTarget() : resolved;
    }
    if (link.exists())
        return link.absoluteFilePath();
#ifdef Q_OS_LINUX
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#else
    // No numbering of serial devices here is stable enough to guess from; the missing link
    // itself is what the error message should point at.
    return link.absoluteFilePath();
#endif
#endif
}

bool comPortLinked(int port) {
#ifdef Q_OS_WIN
    return false;
#else
    const QFileInfo link(linkPath(port));
    return link.isSymLink() || link.exists();
#endif
}

OpenProblem classifyOpenFailure(QSerialPort::SerialPortError error, const QString& reason) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return OpenProblem::Missing;
    case QSerialPort::PermissionError:
#ifdef Q_OS_WIN
        // Windows answers "Access is denied" when another program has the port open.
        return OpenProblem::InUse;
#else
        // Qt reports a lock held by another program as a permission error, which sends people
        // chasing group memberships they already have; tell the two apart.
        if (reason == QSerialPort::tr("Permission error while locking the device") ||
            reason == qt_error_string(EBUSY))
            return OpenProblem::InUse;
        return OpenProblem::PermissionDenied;
#endif
    default:
        return OpenProblem::Other;
    }
}

QString openFailureDescription(int port, const QString& device, QSerialPort::SerialPortError error,
                               const QString& reason) {
    const QString com = comName(port);
    switch (classifyOpenFailure(error, reason)) {
    case OpenProblem::InUse:
        return QStringLiteral("%1 could not be opened: another program is using %2 (%3).\n"
                              "Close that program, then choose %1 again from the Ports menu.")
            .arg(com, device, reason);
#ifdef Q_OS_WIN
    case OpenProblem::Missing:
        return QStringLiteral("%1 could not be opened: the port is not there (%2).\n"
                              "Plug the serial adapter in, or choose another port.")
            .arg(com, reason);
    case OpenProblem::PermissionDenied:
    case OpenProblem::Other:
        break;
    }
    return QStringLiteral("%1 could not be opened: %2.").arg(com, reason);
#else
    case OpenProblem::Missing:
        return QStringLiteral("%1 could not be opened: %2 is not there (%3).\n"
                              "Plug the serial adapter in, or link %1 to the amplifier's device:\n"
                              "%4")
            .arg(com, device, reason, linkCommand(port));
    case OpenProblem::PermissionDenied:
#ifdef Q_OS_LINUX
        return QStringLiteral("%1 could not be opened: %2: %3.\n"
                              "Your user may not use serial ports. Join the dialout group:\n"
                              "sudo usermod -aG dialout $USER\n"
                              "then log out and in again.")
            .arg(com, device, reason);
#else
        return QStringLiteral("%1 could not be opened: %2: %3.\n"
                              "Check that your user may read and write %2.")
            .arg(com, device, reason);
#endif
    case OpenProblem::Other:
        break;
    }
    return QStringLiteral("%1 could not be opened: %2: %3.\n"
                          "If the amplifier is on another device, link %1 to it:\n"
                          "%4")
        .arg(com, device, reason, linkCommand(port));
#endif
}

QString pathOpenFailureDescription(const QString& path, QSerialPort::SerialPortError error,
                                   const QString& reason) {
    switch (classifyOpenFailure(error, reason)) {
    case OpenProblem::InUse:
        return QStringLiteral("%1 could not be opened: another program is using it (%2).")
            .arg(path, reason);
    case OpenProblem::PermissionDenied:
        return QStringLiteral("%1 could not be opened: %2; the user must be in the group that "
                              "owns it (dialout).")
            .arg(path, reason);
    case OpenProblem::Missing:
    case OpenProblem::Other:
        break;
    }
    return QStringLiteral("%1 could not be opened: %2.").arg(path, reason);
}

QString deviceLostDescription(const QString& name, const QString& device) {
    return QStringLiteral("%1 (%2) was lost: the device went away or was unplugged.\n"
                          "%1 reopens by itself once the device is back.")
        .arg(name, device);
}

} // namespace seriallink
