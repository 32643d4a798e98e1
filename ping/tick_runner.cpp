// SPDX-License-Identifier: GPL-3.0-or-later
#include "ping/tick_runner.h"

#include "ping/ping_tick.h"

#include <mutex>
#include <system_error>
#include <thread>

namespace lumora::ping {

// Shared between the runner and its ticks' threads: a tick that ends after
// the runner is gone finds no one to hand its line to.
struct TickRunner::Relay {
    std::mutex mutex;
    TickRunner* owner = nullptr;
};

TickRunner::TickRunner(platform::IcmpService& icmp, QObject* parent)
    : QObject(parent)
    , icmp_(icmp)
    , relay_(std::make_shared<Relay>()) {
    relay_->owner = this;
}

TickRunner::~TickRunner() {
    const std::lock_guard lock(relay_->mutex);
    relay_->owner = nullptr;
}

quint64 TickRunner::start(const QString& addressText) {
    const quint64 tick = ++lastTick_;
    // Detached rather than pooled: a lookup can take the resolver's whole
    // time-out, and nothing may wait for it, not even the program's end.
    auto work = [relay = relay_, icmp = &icmp_, addressText, tick] {
        const QString line = runTick(addressText, *icmp);
        const std::lock_guard lock(relay->mutex);
        if (relay->owner == nullptr)
            return;
        // Queued to the owner: dropped by Qt if the owner is deleted first.
        QMetaObject::invokeMethod(
            relay->owner,
            [owner = relay->owner, tick, line] { Q_EMIT owner->done(tick, line); },
            Qt::QueuedConnection);
    };
    try {
        std::thread(work).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the tick blocks this one, as ticks once all
        // did, rather than the test going silent.
        work();
    }
    return tick;
}

} // namespace lumora::ping
