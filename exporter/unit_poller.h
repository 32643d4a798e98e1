// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_board.h"
#include "exporter/unit_state.h"
#include "exporter/units.h"
#include "platform/unit_session.h"
#include "protocol/status_reply.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>

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

    // As UnitBoard::setOutputs, for this unit.
    [[nodiscard]] UnitBoard::OutputWrite setOutputs(std::uint8_t mask, std::uint8_t values);

Q_SIGNALS:
    void changed();

private:
    void onConnected();
    void onReplied(const QByteArray& reply, bool holdsRefused, qint64 tookNs);
    void onReplyFailed(platform::UnitSession::ReplyFailure failure, qsizetype bytes);
    // The connection is gone or never came: the session waits, then tries again.
    void lost(PollFailure failure, const QString& problem);
    void fail(PollFailure failure, const QString& problem);
    void publish();

    Unit unit_;
    PollTiming timing_;
    UnitState state_;
    platform::UnitSession session_;
    QTimer tick_;
    // Why the last send failed, told as the close that follows it.
    QString sendProblem_;
    // The outputs the last frame set, until a reply to a request sent after
    // it shows them: a second write before then must not undo the first.
    std::array<int, protocol::kOutputCount> outputsSet_{};
    int repliesUntilShown_ = 0;
    bool stopped_ = true;
};

} // namespace lumora::exporter
