// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/icmp_service.h"

#include <QObject>
#include <QString>

#include <memory>

namespace lumora::ping {

// Runs ping ticks (runTick) off the thread that owns the runner: the name
// lookup and the echo wait block a thread of their own, and each tick's line
// comes back to the owner's thread through its event loop. Ticks may overlap
// here; keeping to one at a time is the caller's choice.
class TickRunner : public QObject {
    Q_OBJECT
public:
    // The service is called from the ticks' threads, and must outlive every
    // tick started, including those still waiting when the runner goes.
    explicit TickRunner(platform::IcmpService& icmp, QObject* parent = nullptr);
    ~TickRunner() override;

    // Starts one tick and returns its number (never 0). Returns at once.
    quint64 start(const QString& addressText);

Q_SIGNALS:
    // On the owner's thread, once per tick that ended while the runner lived.
    void done(quint64 tick, const QString& line);

private:
    struct Relay;

    platform::IcmpService& icmp_;
    std::shared_ptr<Relay> relay_;
    quint64 lastTick_ = 0;
};

} // namespace lumora::ping
