// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/poller.h"

#include "cli/exit_status.h"
#include "cli/report.h"
#include "log/time_stamp.h"
#include "protocol/command_frame.h"
#include "protocol/status_reply.h"
#include "timeline/range_export.h"

#include <QDateTime>

namespace lumora::cli {

int pollExitStatus(const platform::PollCounts& counts) {
    if (counts.failedConnects > 0)
        return kNoConnection;
    if (counts.wrongLengths > 0 || counts.timeouts > 0 || counts.cutShort > 0)
        return kNoReply;
    if (counts.refused > 0)
        return kRefusedValues;
    return kDone;
}

Poller::Poller(const Invocation& invocation, Endpoint endpoint, Console& console, QObject* parent)
    : QObject(parent)
    , invocation_(invocation)
    , endpoint_(std::move(endpoint))
    , console_(console)
    , session_(endpoint_.host, endpoint_.port, invocation.timeoutMs,
               {.mode = platform::UnitSession::Reconnect::Mode::NextTick})
    , timer_(gate_, invocation.intervalMs) {
    // Unlike the window, which starts over on every tick, an attempt gets the
    // whole --timeout: at 1 ms it would otherwise never finish.
    connect(&timer_, &platform::Timer::tick, &session_, &platform::UnitSession::tick);
    durationEnd_.setSingleShot(true);
    durationEnd_.setTimerType(Qt::PreciseTimer);
    connect(&durationEnd_, &QTimer::timeout, this, &Poller::stop);
    using platform::UnitSession;
    connect(&session_, &UnitSession::connected, this, &Poller::onConnected);
    connect(&session_, &UnitSession::replied, this, [this](const QByteArray& reply, bool holdsRefused) {
        printReply(reply, holdsRefused);
        if (invocation_.count && session_.counts().replies >= *invocation_.count)
            stop();
    });
    connect(&session_, &UnitSession::replyFailed, this, &Poller::onReplyFailed);
    connect(&session_, &UnitSession::errorOccurred, this, [this](UnitSession::Error error) {
        if (error == UnitSession::Error::ConnectError) {
            onConnectFailed(session_.errorString());
            return;
        }
        // Counted as sent and cut short: the connection is made again on the next tick.
        report(QStringLiteral("cannot send to %1: %2").arg(endpoint_.text(), session_.errorString()));
    });
    connect(&session_, &UnitSession::closed, this, &Poller::onClosed);
}

void Poller::start() {
    session_.open();
}

void Poller::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    timer_.setEnabled(false);
    durationEnd_.stop();
    session_.close();
    report(session_.summary());
    Q_EMIT finished(pollExitStatus(session_.counts()));
}

void Poller::onConnected() {
    // A unit that drops off the network is taken for closed (the
    // connection's silent-peer watch), and reconnected, rather than timing
    // out request after request.
    if (!polling_) {
        polling_ = true;
        if (invocation_.format == Format::Csv)
            console_.out(timeline::csvHeader());
        if (invocation_.durationMs)
            durationEnd_.start(*invocation_.durationMs);
        // As a click of Send in Repeat mode: the first request at once, the
        // next on the first tick, one interval later.
        timer_.setEnabled(true);
        session_.tick();
        return;
    }
    report(failedInARow_ == 0 ? QStringLiteral("reconnected to %1").arg(endpoint_.text())
                              : QStringLiteral("reconnected to %1 after %2 failed attempts")
                                    .arg(endpoint_.text())
                                    .arg(failedInARow_));
    failedInARow_ = 0;
    lastFailure_.clear();
}

void Poller::onConnectFailed(const QString& reason) {
    if (!polling_) {
        // Nothing was polled: the one line says all, no summary.
        stopped_ = true;
        timer_.setEnabled(false);
        report(QStringLiteral("cannot connect to %1: %2").arg(endpoint_.text(), reason));
        Q_EMIT finished(kNoConnection);
        return;
    }
    ++failedInARow_;
    if (reason != lastFailure_)
        report(QStringLiteral("cannot reconnect to %1: %2; trying again on each tick")
                   .arg(endpoint_.text(), reason));
    lastFailure_ = reason;
}

void Poller::onReplyFailed(platform::UnitSession::ReplyFailure failure, qsizetype bytes) {
    using Failure = platform::UnitSession::ReplyFailure;
    const QString within = platform::secondsText(invocation_.timeoutMs);
    const QString again = QStringLiteral("; reconnecting on the next tick");
    // In the words of status for the same event.
    switch (failure) {
    case Failure::Overlong:
        report(QStringLiteral("reply of %1 bytes from %2, expected %3")
                   .arg(bytes)
                   .arg(endpoint_.text())
                   .arg(protocol::kStatusReplySize));
        return;
    case Failure::Short:
        report(QStringLiteral("reply of %1 bytes from %2 within %3, expected %4")
                   .arg(bytes)
                   .arg(endpoint_.text(), within)
                   .arg(protocol::kStatusReplySize));
        return;
    case Failure::TimedOut:
        report(QStringLiteral("no reply from %1 within %2").arg(endpoint_.text(), within));
        return;
    case Failure::CutShort:
        cutShortTold_ = true;
        if (bytes == 0)
            report(QStringLiteral("no reply from %1: it closed the connection").arg(endpoint_.text()) +
                   again);
        else
            report(QStringLiteral("reply of %1 bytes from %2 cut short: it closed the connection")
                       .arg(bytes)
                       .arg(endpoint_.text()) +
                   again);
        return;
    }
}

void Poller::onClosed() {
    if (!std::exchange(cutShortTold_, false))
        report(
            QStringLiteral("connection closed by %1; reconnecting on the next tick").arg(endpoint_.text()));
}

void Poller::printReply(const QByteArray& bytes, bool holdsRefused) {
    const protocol::DecodedReply reply = protocol::decodeStatusReply(bytes);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    switch (invocation_.format) {
    case Format::Text:
        console_.out(log::formatTimeStamp(now.time()) + u' ' +
                     statusGroups(reply).join(QStringLiteral(" | ")));
        break;
    case Format::Json:
        console_.out(statusJson(reply, dateTimeText(now.date(), now.time())));
        break;
    case Format::Csv:
    case Format::Vcd: // decode's alone
        console_.out(timeline::csvRow(dateTimeText(now.date(), now.time()), timeline::sampleOf(0, bytes)));
        break;
    }
    if (holdsRefused)
        report(QStringLiteral("reply from %1 holds values the window refuses: %2")
                   .arg(endpoint_.text(), refusedValues(reply).join(QStringLiteral(", "))));
}

} // namespace lumora::cli
