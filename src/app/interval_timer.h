// A timer with the window's timer semantics: it ticks only while it is enabled and its
// interval is above 0, and enabling it (or changing the interval) starts a full new period.
#pragma once

#include <QObject>
#include <QTimer>

namespace app {

// A bare QTimer with interval 0 would instead fire on every turn of the event loop.
class IntervalTimer : public QObject {
    Q_OBJECT
public:
    explicit IntervalTimer(QObject* parent = nullptr);

    int interval() const { return interval_; }
    void setInterval(int milliseconds);
    void setEnabled(bool enabled);
    // Whether a tick will come: what the window's timer rules are about.
    bool ticking() const { return timer_.isActive(); }

signals:
    void tick();

private:
    void restart();

    QTimer timer_;
    int interval_ = 0;
    bool enabled_ = true;
};

} // namespace app
