#include "interval_timer.h"

namespace app {

IntervalTimer::IntervalTimer(QObject* parent) : QObject(parent) {
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &IntervalTimer::tick);
}

void IntervalTimer::setInterval(int milliseconds) {
    interval_ = milliseconds > 0 ? milliseconds : 0;
    restart();
}

void IntervalTimer::setEnabled(bool enabled) {
    enabled_ = enabled;
    restart();
}

void IntervalTimer::restart() {
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);
    else
        timer_.stop();
}

} // namespace app
