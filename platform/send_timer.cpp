#include "platform/send_timer.h"

#include <algorithm>

namespace platform {

Timer::Timer(EventGate& gate, int intervalMs, QObject* parent)
    : QObject(parent)
    , gate_(gate)
    , interval_(intervalMs < 0 ? 0 : intervalMs) {
    // Precise and single-shot: every tick is armed for its own due time, so
    // short intervals (down to 1 ms) are neither coarsened nor left to drift.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    clock_.start();
    connect(&timer_, &QTimer::timeout, this, &Timer::fire);
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
    if (enabled_ && interval_ > 0) {
        nextDueMs_ = clock_.elapsed() + interval_;
        armForNextDue();
    } else {
        timer_.stop();
    }
}

void Timer::armForNextDue() {
    timer_.start(static_cast<int>(std::max<qint64>(0, nextDueMs_ - clock_.elapsed())));
}

void Timer::fire() {
    if (!enabled_ || interval_ <= 0)
        return;
    // Ticks missed while the thread was busy are not made up: the next one
    // is the first due time still ahead.
    const qint64 now = clock_.elapsed();
    nextDueMs_ += interval_;
    if (nextDueMs_ <= now)
        nextDueMs_ += ((now - nextDueMs_) / interval_ + 1) * interval_;
    armForNextDue();
    gate_.deliverCoalesced(this, [this] {
        // Stopped while the tick waited for another handler to finish.
        if (enabled_ && interval_ > 0 && onTick)
            onTick();
    });
}

} // namespace platform
