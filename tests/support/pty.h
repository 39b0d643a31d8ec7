// A pseudo-terminal for tests: the program opens the slave side as its serial device, the test
// plays the device on the master side. Both sides are raw, so every byte passes unchanged.
//
// read() and write() keep Qt's event loop turning while they wait, because QSerialPort only
// moves bytes from inside it.
#pragma once

#include <QByteArray>
#include <QString>

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool isValid() const { return master_ >= 0; }
    QString devicePath() const { return devicePath_; } // the slave, e.g. /dev/pts/3
    int masterFd() const { return master_; }

    // Everything written, or false after about a second of a full line.
    bool write(const QByteArray& bytes);
    // Whatever arrives within timeoutMs; returns early once something arrived and the line has
    // then been quiet for a moment.
    QByteArray read(int timeoutMs);
    // Reads until n bytes arrived or timeoutMs passed; may return fewer.
    QByteArray readExactly(int n, int timeoutMs);

    // Hangs up, as when the device is unplugged. The slave path goes away.
    void closeMaster();

    // Makes this terminal COM<port> by a link "com<port>" in portsFolder, replacing any old link.
    bool linkAsComPort(int port, const QString& portsFolder) const;

private:
    // Waits up to timeoutMs for data on the master, turning the event loop meanwhile, and appends
    // what it finds; false when the time ran out without data.
    bool readSome(QByteArray& into, int timeoutMs);

    int master_ = -1;
    int slave_ = -1;
    QString devicePath_;
};
