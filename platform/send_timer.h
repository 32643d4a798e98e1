#pragma once

#include "platform/event_gate.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace platform {

// The window's timer: an interval in milliseconds and an enabled flag.
// Unlike QTimer, an interval of 0 never ticks (even while enabled), setting
// the interval it already has leaves the running count alone, and ticks that
// fall due while a handler runs are delivered once, afterwards. Ticks keep
// their phase: each falls due a whole number of intervals after the timer
// was armed, so a late tick does not push every later one back.
class Timer : public QObject {
    Q_OBJECT
public:
    Timer(EventGate& gate, int intervalMs, QObject* parent = nullptr);

    int interval() const { return interval_; }
    void setInterval(int ms);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    std::function<void()> onTick;

private:
    void apply();
    void armForNextDue();
    void fire();

    EventGate& gate_;
    QTimer timer_;
    QElapsedTimer clock_;
    static constexpr qint64 kNsPerMs = 1000000;
    qint64 nextDueNs_ = 0;
    int interval_ = 0;
    bool enabled_ = false;
};

} // namespace platform
