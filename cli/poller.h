// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/unit_exchange.h"
#include "platform/event_gate.h"
#include "platform/poll_rule.h"
#include "platform/timer.h"
#include "platform/unit_connection.h"

#include <QObject>
#include <QTimer>

namespace lumora::cli {

// The lowest of 2, 3 and 4 that happened, else 0.
[[nodiscard]] int pollExitStatus(const platform::PollCounts& counts);

// The poll command: the window's repeated status request, on the window's
// kernel timer, printing one line per reply.
class Poller : public QObject {
    Q_OBJECT
public:
    Poller(const Invocation& invocation, Endpoint endpoint, Console& console, QObject* parent = nullptr);

    void start();
    // Ctrl-C, SIGTERM, --count or --duration: the summary, then finished().
    void stop();

Q_SIGNALS:
    void finished(int exitStatus);

private:
    enum class Link { Down, Connecting, Up };

    void connectNow();
    void onConnected();
    void onConnectFailed(const QString& reason);
    void onClosedByUnit();
    void tick();
    void sendRequest();
    void takeBytes();
    void replyDeadlinePassed();
    void printReply();
    void report(const QString& line) { console_.fail(QStringLiteral("poll: ") + line); }

    const Invocation invocation_;
    const Endpoint endpoint_;
    Console& console_;
    platform::PollRule rule_;
    platform::EventGate gate_;
    platform::Timer timer_;
    QTimer replyDeadline_;
    QTimer connectDeadline_;
    QTimer durationEnd_;
    platform::UnitConnection connection_;
    Link link_ = Link::Down;
    bool polling_ = false;
    bool stopped_ = false;
    // A unit that stays away is reported once, not on every tick.
    QString lastFailure_;
    qint64 failedInARow_ = 0;
};

} // namespace lumora::cli
