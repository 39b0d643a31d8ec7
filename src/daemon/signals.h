// SIGTERM, SIGINT and SIGHUP through the event loop: blocked in every thread from the start and
// read from a signalfd by a socket notifier, so no work happens inside a signal handler.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace service {

// Before any thread is started (QCoreApplication's own included), so that all inherit the mask.
void blockStopAndRotateSignals();

class Signals : public QObject {
    Q_OBJECT
public:
    explicit Signals(QObject* parent = nullptr);
    ~Signals() override;

signals:
    void stop();   // SIGTERM, SIGINT
    void rotate(); // SIGHUP

private:
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace service
