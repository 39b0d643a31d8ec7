#include "pty.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kQuietMs = 20; // a pause this long ends what read() takes as one message
constexpr int kSliceMs = 5;  // the longest a wait blocks before the event loop turns again

} // namespace

Pty::Pty() {
    std::string error;
    if (terminal_.open(error))
        path_ = QString::fromStdString(terminal_.device());
}

bool Pty::write(const QByteArray& bytes) {
    QElapsedTimer clock;
    clock.start();
    for (qsizetype done = 0; isValid() && done < bytes.size();) {
        const ssize_t n =
            ::write(masterFd(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            clock.restart();
            continue;
        }
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || clock.elapsed() > 1000)
            return false;
        // The slave's buffer is full: let the program read some.
        QCoreApplication::processEvents(QEventLoop::AllEvents, kSliceMs);
        pollfd pfd{masterFd(), POLLOUT, 0};
        ::poll(&pfd, 1, kSliceMs);
    }
    return isValid();
}

bool Pty::readSome(QByteArray& into, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (isValid()) {
        char chunk[4096];
        const ssize_t n = ::read(masterFd(), chunk, sizeof chunk);
        if (n > 0) {
            into.append(chunk, n);
            return true;
        }
        // EIO: nobody has the slave open yet, which for a test is simply no data.
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
            return false;
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        pollfd pfd{masterFd(), POLLIN, 0};
        // A master without a slave polls as hung up at once; sleep instead of spinning.
        if (::poll(&pfd, 1, int(qMin<qint64>(left, kSliceMs))) > 0 && !(pfd.revents & POLLIN))
            QThread::msleep(kSliceMs);
    }
    return false;
}

QByteArray Pty::read(int timeoutMs) {
    QByteArray data;
    if (readSome(data, timeoutMs)) {
        while (readSome(data, kQuietMs)) {
        }
    }
    return data;
}

QByteArray Pty::readExactly(int n, int timeoutMs) {
    QByteArray data;
    QElapsedTimer clock;
    clock.start();
    while (data.size() < n && clock.elapsed() < timeoutMs &&
           readSome(data, int(timeoutMs - clock.elapsed()))) {
    }
    return data;
}

bool Pty::linkAsComPort(int port, const QString& portsFolder) const {
    if (!isValid() || !QDir().mkpath(portsFolder))
        return false;
    const QString link = QDir(portsFolder).filePath(QStringLiteral("com%1").arg(port));
    QFile::remove(link); // a dangling link too: QFile::remove does not follow it
    return QFile::link(path_, link);
}
