// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_state.h"
#include "exporter/units.h"
#include "platform/poll_rule.h"
#include "platform/unit_connection.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace lumora::exporter {

struct PollTiming {
    int intervalMs = 1000;
    // For a connection attempt and for a reply.
    int timeoutMs = 3000;
    // The wait before the next attempt after a failed or lost connection
    // starts here and doubles up to the longest.
    int firstRetryMs = 1000;
    int longestRetryMs = 30000;
};

// One unit, on its own connection, polled with the window's repeat rule: a
// status request goes out on a tick only when the previous one has been
// answered or has timed out. A refused or lost connection is tried again
// after a growing wait, so a unit that is gone is not hammered. Every outcome
// lands in state() and is told by changed().
class UnitPoller : public QObject {
    Q_OBJECT
public:
    UnitPoller(Unit unit, PollTiming timing, QObject* parent = nullptr);
    ~UnitPoller() override;

    void start();
    // Closes the connection; nothing more changes.
    void stop();

    [[nodiscard]] const Unit& unit() const { return unit_; }
    [[nodiscard]] const UnitState& state() const { return state_; }

Q_SIGNALS:
    void changed();

private:
    void connectNow();
    void onConnected();
    void onConnectFailed(const QString& reason);
    void onClosed();
    void tick();
    void sendRequest();
    void takeBytes();
    void deadlinePassed();
    // What the rule made of the bytes so far, or of the deadline.
    void settle(platform::PollRule::Verdict verdict);
    void takeReply();
    // The connection is gone or never came: wait, then try again.
    void dropAndWait(PollFailure failure, const QString& problem);
    void fail(PollFailure failure, const QString& problem);
    void publish();

    Unit unit_;
    PollTiming timing_;
    UnitState state_;
    platform::PollRule rule_;
    platform::UnitConnection connection_;
    QTimer tick_;
    // One deadline at a time: the attempt's, the reply's or the end of the
    // wait before the next attempt, as the link says.
    QTimer deadline_;
    QElapsedTimer sinceRequest_;
    int retryMs_ = 0;
    bool stopped_ = true;
};

} // namespace lumora::exporter
