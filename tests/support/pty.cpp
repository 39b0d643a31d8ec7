#include "pty.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <unistd.h>

int residentMegabytes() {
#if defined(__SANITIZE_ADDRESS__)
    return 0;
#else
    QFile statm("/proc/self/statm");
    return statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ')[1].toInt() / 256 : 0;
#endif
}

Pty::Pty() {
    std::string error;
    if (terminal_.open(error))
        path_ = QString::fromStdString(terminal_.device());
}

// Both wait on the master a couple of milliseconds at a time, letting the program's event loop
// turn in between: it has to read what is written and write what is read.
bool Pty::write(const QByteArray& bytes) {
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    for (qsizetype done = 0; terminal_.isOpen() && done < bytes.size();) {
        const ssize_t n =
            ::write(masterFd(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            sinceProgress.restart();
        } else if ((n < 0 && errno != EAGAIN) || sinceProgress.elapsed() > 1000) {
            return false;
        }
        QCoreApplication::processEvents();
        ::usleep(n > 0 ? 0 : 2000);
    }
    return terminal_.isOpen();
}

QByteArray Pty::read(qsizetype n, int timeoutMs) {
    QByteArray data;
    QElapsedTimer clock;
    clock.start();
    while (terminal_.isOpen() && data.size() < n && clock.elapsed() < timeoutMs) {
        char chunk[4096];
        // EIO: nobody has the slave open yet, which for a test is simply no data.
        const ssize_t got =
            ::read(masterFd(), chunk, size_t(qMin<qsizetype>(n - data.size(), sizeof chunk)));
        if (got > 0)
            data.append(chunk, got);
        QCoreApplication::processEvents();
        ::usleep(got > 0 ? 0 : 2000);
    }
    return data;
}

bool Pty::linkAsComPort(int port, const QString& portsFolder) const {
    const QString link = QDir(portsFolder).filePath(QStringLiteral("com%1").arg(port));
    QFile::remove(link); // a dangling link too: QFile::remove does not follow it
    return terminal_.isOpen() && QDir().mkpath(portsFolder) && QFile::link(path_, link);
}
