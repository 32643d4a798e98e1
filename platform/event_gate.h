// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <deque>
#include <functional>

namespace lumora::platform {

// Delivers the window's events one at a time. A handler that is running,
// including one that sits in a message box's nested event loop, is
// never re-entered by another event: socket events, timer ticks and clicks
// that come meanwhile are queued and run, in order, when it returns. Timer
// ticks are coalesced, so a timer that fell due several times is delivered
// once, after the other events that came meanwhile.
class EventGate {
public:
    using Handler = std::function<void()>;

    // Runs the handler now, or after the running one returns.
    void deliver(Handler handler);
    // Like deliver, but at most one delivery per key waits at a time.
    void deliverCoalesced(const void* key, Handler handler);

    // After shutDown nothing is delivered any more, queued or new.
    void shutDown();
    // A handler that waited in a nested event loop learns here that the
    // program ended meanwhile, and goes no further.
    bool isShutDown() const { return shutDown_; }

private:
    struct Pending {
        const void* key = nullptr;
        Handler handler;
    };

    void runNow(const Handler& handler);
    void drain();

    int depth_ = 0;
    bool draining_ = false;
    bool shutDown_ = false;
    std::deque<Pending> queue_;
};

} // namespace lumora::platform
