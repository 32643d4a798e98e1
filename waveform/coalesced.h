// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>

#include <functional>
#include <utility>

namespace lumora::waveform {

// Runs a piece of work at most once an interval however often it is asked
// for: the first request at once, all those that follow within the interval
// once at its end. Replies may come a thousand a second, and each run holds
// the event loop; nothing asked for is dropped, only joined.
class Coalesced {
public:
    Coalesced(int intervalMs, std::function<void()> work)
        : work_(std::move(work)) {
        timer_.setSingleShot(true);
        timer_.setInterval(intervalMs);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            if (!pending_)
                return;
            pending_ = false;
            work_();
            timer_.start();
        });
    }
    Coalesced(const Coalesced&) = delete;
    Coalesced& operator=(const Coalesced&) = delete;
    Coalesced(Coalesced&&) = delete;
    Coalesced& operator=(Coalesced&&) = delete;
    ~Coalesced() = default;

    void request() {
        if (timer_.isActive()) {
            pending_ = true;
            return;
        }
        work_();
        timer_.start();
    }

private:
    std::function<void()> work_;
    QTimer timer_;
    bool pending_ = false;
};

} // namespace lumora::waveform
