// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/unit_exchange.h"
#include "platform/event_gate.h"
#include "platform/timer.h"
#include "platform/unit_session.h"

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
    void onConnected();
    void onConnectFailed(const QString& reason);
    void onReplyFailed(platform::UnitSession::ReplyFailure failure, qsizetype bytes);
    void onClosed();
    void printReply(const QByteArray& bytes, bool holdsRefused);
    void report(const QString& line) { console_.fail(QStringLiteral("poll: ") + line); }

    const Invocation invocation_;
    const Endpoint endpoint_;
    Console& console_;
    platform::UnitSession session_;
    platform::EventGate gate_;
    platform::Timer timer_;
    QTimer durationEnd_;
    bool polling_ = false;
    bool stopped_ = false;
    // The close that cut a reply short is told with it, in one line.
    bool cutShortTold_ = false;
    // A unit that stays away is reported once, not on every tick.
    QString lastFailure_;
    qint64 failedInARow_ = 0;
};

} // namespace lumora::cli
