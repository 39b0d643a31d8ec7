#include "pty.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

// How long the line must stay quiet before read() takes a message as complete.
constexpr int quietMs = 20;
// How long one wait may block before the event loop gets another turn.
constexpr int sliceMs = 5;

#ifndef _WIN32
bool makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}
#endif

} // namespace

#ifndef _WIN32

Pty::Pty() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return;
    const char* name = nullptr;
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || !(name = ::ptsname(master))) {
        ::close(master);
        return;
    }
    devicePath_ = QString::fromLocal8Bit(name);
    // Holding the slave open keeps the master from reading EIO while the program has the port
    // closed, and gives a place to make the line raw before anyone opens it.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0 || !makeRaw(slave_) || ::fcntl(master, F_SETFL, O_NONBLOCK) != 0) {
        if (slave_ >= 0)
            ::close(slave_);
        slave_ = -1;
        ::close(master);
        return;
    }
    master_ = master;
}

Pty::~Pty() {
    closeMaster();
}

void Pty::closeMaster() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}

bool Pty::write(const QByteArray& bytes) {
    if (!isValid())
        return false;
    QElapsedTimer clock;
    clock.start();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            clock.restart(); // a second without progress, not for the whole write
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (clock.elapsed() > 1000)
            return false;
        // The slave's buffer is full: let the program read some.
        QCoreApplication::processEvents(QEventLoop::AllEvents, sliceMs);
        pollfd pfd{master_, POLLOUT, 0};
        ::poll(&pfd, 1, sliceMs);
    }
    return true;
}

bool Pty::readSome(QByteArray& into, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        char chunk[4096];
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n > 0) {
            into.append(chunk, n);
            return true;
        }
        // EIO means no process has the slave open, which for a test is simply no data yet.
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
            return false;
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        // The program's writes leave QSerialPort only from inside the event loop.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        pollfd pfd{master_, POLLIN, 0};
        // A master without a slave polls as hung up at once; sleep instead of spinning.
        if (::poll(&pfd, 1, int(qMin<qint64>(left, sliceMs))) > 0 && !(pfd.revents & POLLIN))
            QThread::msleep(sliceMs);
    }
}

QByteArray Pty::read(int timeoutMs) {
    QByteArray data;
    if (!isValid() || !readSome(data, timeoutMs))
        return data;
    while (readSome(data, quietMs)) {
    }
    return data;
}

QByteArray Pty::readExactly(int n, int timeoutMs) {
    QByteArray data;
    if (!isValid())
        return data;
    QElapsedTimer clock;
    clock.start();
    while (data.size() < n) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || !readSome(data, int(left)))
            break;
    }
    return data;
}

#else // No pseudo-terminals on Windows; tests that need one skip on isValid().

Pty::Pty() = default;
Pty::~Pty() = default;
void Pty::closeMaster() {}
bool Pty::write(const QByteArray&) {
    return false;
}
bool Pty::readSome(QByteArray&, int) {
    return false;
}
QByteArray Pty::read(int) {
    return {};
}
QByteArray Pty::readExactly(int, int) {
    return {};
}

#endif

bool Pty::linkAsComPort(int port, const QString& portsFolder) const {
    if (!isValid() || !QDir().mkpath(portsFolder))
        return false;
    const QString link = QDir(portsFolder).filePath(QStringLiteral("com%1").arg(port));
    QFile::remove(link); // a dangling link too: QFile::remove does not follow it
    return QFile::link(devicePath_, link);
}
