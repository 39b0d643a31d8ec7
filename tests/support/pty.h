// The simulator's pseudo-terminal for tests that play the device by hand: read() and write()
// keep Qt's event loop turning while they wait, since QSerialPort moves bytes only inside it.
#pragma once

#include "sim/pseudo_terminal.h"

#include <QByteArray>
#include <QString>

// Resident memory in megabytes; 0 under AddressSanitizer, which holds freed memory back.
int residentMegabytes();

class Pty {
public:
    Pty();

    QString devicePath() const { return path_; } // the slave, e.g. /dev/pts/3
    int masterFd() const { return terminal_.master(); }
    // Everything written, or false after a second without progress.
    bool write(const QByteArray& bytes);
    // What arrives until n bytes are in or timeoutMs has passed.
    QByteArray read(qsizetype n, int timeoutMs);
    // Hangs up, as when the device is unplugged. The slave path goes away.
    void closeMaster() { terminal_.close(); }
    // Makes this terminal COM<port> by a link "com<port>" in portsFolder, replacing any old one.
    bool linkAsComPort(int port, const QString& portsFolder) const;

private:
    sim::PseudoTerminal terminal_;
    QString path_;
};
