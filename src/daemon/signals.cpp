#include "signals.h"

#include <QSocketNotifier>

#include <csignal>

#include <sys/signalfd.h>
#include <unistd.h>

namespace service {

namespace {

sigset_t stopAndRotate() {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, number);
    return set;
}

} // namespace

void blockStopAndRotateSignals() {
    const sigset_t set = stopAndRotate();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Signals::Signals(QObject* parent) : QObject(parent) {
    const sigset_t set = stopAndRotate();
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0)
        return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info{};
        while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info))
            if (info.ssi_signo == SIGHUP)
                emit rotate();
            else
                emit stop();
    });
}

Signals::~Signals() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace service
