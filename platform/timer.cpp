// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/timer.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace lumora::platform {

namespace {

constexpr long kNsPerMs = 1000000;
constexpr int kMsPerS = 1000;

timespec fromMs(int ms) {
    return timespec{ms / kMsPerS, static_cast<long>(ms % kMsPerS) * kNsPerMs};
}

} // namespace

Timer::Timer(EventGate& gate, int intervalMs, QObject* parent)
    : QObject(parent)
    , gate_(gate)
    , interval_(intervalMs < 0 ? 0 : intervalMs) {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0) {
        expired_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        connect(expired_.get(), &QSocketNotifier::activated, this, &Timer::onExpired);
    } else {
        fallback_.setTimerType(Qt::PreciseTimer);
        connect(&fallback_, &QTimer::timeout, this, &Timer::deliverTick);
    }
}

Timer::~Timer() {
    expired_.reset();
    if (fd_ >= 0)
        ::close(fd_);
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
    ++schedule_;
    const bool run = enabled_ && interval_ > 0;
    if (fd_ < 0) {
        if (run)
            fallback_.start(interval_);
        else
            fallback_.stop();
        return;
    }
    // Re-arming also clears expirations not yet read, so a tick of the old
    // schedule cannot arrive after a stop or a change of interval.
    itimerspec arming{};
    if (run)
        arming.it_interval = arming.it_value = fromMs(interval_);
    timerfd_settime(fd_, 0, &arming, nullptr);
}

void Timer::onExpired() {
    std::uint64_t expirations = 0;
    // Nothing to read means the schedule was changed after the descriptor
    // was seen ready: that tick belonged to the old one.
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations || expirations == 0)
        return;
    // Delivered once the descriptors that became ready with this one have
    // been served: a reply already waiting is taken before the tick, which
    // would otherwise find its request outstanding and skip a whole interval.
    QMetaObject::invokeMethod(
        this,
        [this, schedule = schedule_] {
            if (schedule == schedule_)
                deliverTick();
        },
        Qt::QueuedConnection);
}

void Timer::deliverTick() {
    if (!enabled_ || interval_ <= 0)
        return;
    gate_.deliverCoalesced(this, [this] {
        // Stopped while the tick waited for another handler to finish.
        if (enabled_ && interval_ > 0)
            Q_EMIT tick();
    });
}

} // namespace lumora::platform
