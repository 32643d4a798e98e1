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
        nextDueNs_ = clock_.nsecsElapsed() + interval_ * kNsPerMs;
        armForNextDue();
    } else {
        timer_.stop();
    }
}

void Timer::armForNextDue() {
    // Rounded up: a tick never comes before it is due.
    const qint64 remainingNs = std::max<qint64>(0, nextDueNs_ - clock_.nsecsElapsed());
    timer_.start(static_cast<int>((remainingNs + kNsPerMs - 1) / kNsPerMs));
}

void Timer::fire() {
    if (!enabled_ || interval_ <= 0)
        return;
    const qint64 intervalNs = interval_ * kNsPerMs;
    const qint64 due = nextDueNs_;
    const qint64 late = clock_.nsecsElapsed() - due;
    nextDueNs_ = due + intervalNs;
    // A tick held up by a whole interval or more stands for all it missed:
    // they are not made up, and the next one is the first due time ahead.
    if (late >= intervalNs)
        nextDueNs_ = due + (late / intervalNs + 1) * intervalNs;
    armForNextDue();
    gate_.deliverCoalesced(this, [this] {
        // Stopped while the tick waited for another handler to finish.
        if (enabled_ && interval_ > 0 && onTick)
            onTick();
    });
}

} // namespace platform
