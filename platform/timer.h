// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/event_gate.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QSocketNotifier;

namespace lumora::platform {

// The window's timer: an interval in milliseconds and an enabled flag.
// Unlike QTimer, an interval of 0 never ticks (even while enabled), setting
// the interval it already has leaves the running count alone, and ticks that
// fall due while a handler runs are delivered once, afterwards. Ticks keep
// their phase: each falls due a whole number of intervals after the timer
// was armed, so a late tick does not push every later one back, and a tick
// held up by a whole interval or more stands for all it missed.
class Timer : public QObject {
    Q_OBJECT
public:
    Timer(EventGate& gate, int intervalMs, QObject* parent = nullptr);
    ~Timer() override;

    int interval() const { return interval_; }
    void setInterval(int ms);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

Q_SIGNALS:
    // Through the event gate, never while another of the window's handlers runs.
    void tick();

private:
    void apply();
    void onExpired();
    void deliverTick();

    EventGate& gate_;
    // The kernel keeps the schedule: the event loop's own timers wait in
    // whole milliseconds, which at a 1 ms interval loses a tick in three.
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> expired_;
    // Only where no timer descriptor can be had.
    QTimer fallback_;
    // Changes with every re-arming; a tick of an earlier schedule still on
    // its way to delivery is dropped.
    quint64 schedule_ = 0;
    int interval_ = 0;
    bool enabled_ = false;
};

} // namespace lumora::platform
