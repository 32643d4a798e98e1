// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/event_gate.h"

#include <algorithm>

namespace lumora::platform {

void EventGate::deliver(Handler handler) {
    if (shutDown_)
        return;
    if (depth_ > 0 || draining_) {
        queue_.push_back({nullptr, std::move(handler)});
        return;
    }
    runNow(handler);
    drain();
}

void EventGate::deliverCoalesced(const void* key, Handler handler) {
    if (shutDown_)
        return;
    if (depth_ > 0 || draining_) {
        const bool alreadyWaiting =
            std::any_of(queue_.begin(), queue_.end(), [key](const Pending& p) { return p.key == key; });
        if (!alreadyWaiting)
            queue_.push_back({key, std::move(handler)});
        return;
    }
    runNow(handler);
    drain();
}

void EventGate::shutDown() {
    shutDown_ = true;
    queue_.clear();
}

void EventGate::runNow(const Handler& handler) {
    ++depth_;
    // A handler that throws must not leave the gate closed for good.
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{depth_};
    handler();
}

void EventGate::drain() {
    if (draining_)
        return;
    draining_ = true;
    while (!queue_.empty() && !shutDown_) {
        Pending next = std::move(queue_.front());
        queue_.pop_front();
        runNow(next.handler);
    }
    draining_ = false;
}

} // namespace lumora::platform
