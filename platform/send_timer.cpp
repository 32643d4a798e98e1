#include "platform/send_timer.h"

namespace platform {

Timer::Timer(EventGate& gate, int intervalMs, QObject* parent)
    : QObject(parent)
    , gate_(gate)
    , interval_(intervalMs < 0 ? 0 : intervalMs) {
    // Precise, so that short intervals (down to 1 ms) are not coarsened.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        gate_.deliverCoalesced(this, [this] {
            // Stopped while the tick waited for another handler to finish.
            if (enabled_ && interval_ > 0 && onTick)
                onTick();
        });
    });
}

void Timer::setInterval(int ms) {
    if (ms < 0)
        ms = 0;
    if (ms == interval_)
        return;
    interval_ = ms;
    apply();
}

void Timer::setEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    apply();
}

void Timer::apply() {
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);
    else
        timer_.stop();
}

} // namespace platform
