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
    , rule_(protocol::kStatusReplySize)
    , timer_(gate_, invocation.intervalMs) {
    timer_.onTick = [this] { tick(); };
    for (QTimer* timer : {&replyDeadline_, &connectDeadline_, &durationEnd_}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&replyDeadline_, &QTimer::timeout, this, &Poller::replyDeadlinePassed);
    connect(&connectDeadline_, &QTimer::timeout, this, [this] {
        onConnectFailed(QStringLiteral("no connection within ") + secondsText(invocation_.timeoutMs));
    });
    connect(&durationEnd_, &QTimer::timeout, this, &Poller::stop);
    connect(&connection_, &platform::UnitConnection::connected, this, &Poller::onConnected);
    connect(&connection_, &platform::UnitConnection::bytesArrived, this, &Poller::takeBytes);
    connect(&connection_, &platform::UnitConnection::closed, this, [this] {
        // Bytes that came with the close still count.
        takeBytes();
        onClosedByUnit();
    });
    connect(&connection_, &platform::UnitConnection::connectFailed, this, [this](const QString& reason) {
        if (link_ == Link::Connecting)
            onConnectFailed(reason);
    });
}

void Poller::start() {
    connectNow();
}

void Poller::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    timer_.setEnabled(false);
    replyDeadline_.stop();
    connectDeadline_.stop();
    durationEnd_.stop();
    connection_.close();
    report(rule_.summary());
    Q_EMIT finished(pollExitStatus(rule_.counts()));
}

void Poller::connectNow() {
    link_ = Link::Connecting;
    connectDeadline_.start(invocation_.timeoutMs);
    connection_.open(endpoint_.host, endpoint_.port);
}

void Poller::onConnected() {
    connectDeadline_.stop();
    // A unit that drops off the network is taken for closed (the
    // connection's silent-peer watch), and reconnected, rather than timing
    // out request after request.
    link_ = Link::Up;
    if (!polling_) {
        polling_ = true;
        if (invocation_.format == Format::Csv)
            console_.out(timeline::csvHeader());
        if (invocation_.durationMs)
            durationEnd_.start(*invocation_.durationMs);
        // As a click of Send in Repeat mode: the first request at once, the
        // next on the first tick, one interval later.
        timer_.setEnabled(true);
        sendRequest();
        return;
    }
    rule_.reconnected();
    report(failedInARow_ == 0 ? QStringLiteral("reconnected to %1").arg(endpoint_.text())
                              : QStringLiteral("reconnected to %1 after %2 failed attempts")
                                    .arg(endpoint_.text())
                                    .arg(failedInARow_));
    failedInARow_ = 0;
    lastFailure_.clear();
}

void Poller::onConnectFailed(const QString& reason) {
    if (link_ != Link::Connecting)
        return;
    connectDeadline_.stop();
    link_ = Link::Down;
    // An attempt given up at the deadline ends here, a name lookup included.
    connection_.close();
    rule_.connectFailed();
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

void Poller::onClosedByUnit() {
    // The bytes that came with the close may have been the last reply asked for.
    if (stopped_ || link_ != Link::Up)
        return;
    link_ = Link::Down;
    replyDeadline_.stop();
    const bool awaited = rule_.awaitingReply();
    const qsizetype collected = rule_.collected().size();
    rule_.connectionClosed();
    const QString again = QStringLiteral("; reconnecting on the next tick");
    // In the words of status for the same event.
    if (!awaited)
        report(QStringLiteral("connection closed by %1").arg(endpoint_.text()) + again);
    else if (collected == 0)
        report(QStringLiteral("no reply from %1: it closed the connection").arg(endpoint_.text()) + again);
    else
        report(QStringLiteral("reply of %1 bytes from %2 cut short: it closed the connection")
                   .arg(collected)
                   .arg(endpoint_.text()) +
               again);
}

void Poller::tick() {
    if (stopped_)
        return;
    switch (link_) {
    case Link::Down:
        connectNow();
        return;
    case Link::Connecting:
        // Unlike the window, which starts over on every tick, an attempt
        // gets the whole --timeout: at 1 ms it would otherwise never finish.
        return;
    case Link::Up:
        if (!rule_.awaitingReply())
            sendRequest();
        return;
    }
}

void Poller::sendRequest() {
    const QByteArray frame = protocol::buildFrame(protocol::Command::StatusRequest, {});
    rule_.requestSent();
    if (!connection_.send(frame)) {
        // Counted as sent and cut short: the connection is closed here and
        // made again on the next tick.
        report(QStringLiteral("cannot send to %1: %2").arg(endpoint_.text(), connection_.errorString()));
        connection_.close();
        link_ = Link::Down;
        rule_.connectionClosed();
        report(QStringLiteral("connection closed by %1; reconnecting on the next tick").arg(endpoint_.text()));
        return;
    }
    replyDeadline_.start(invocation_.timeoutMs);
}

void Poller::takeBytes() {
    if (stopped_)
        return;
    const QByteArray bytes = connection_.takeArrived();
    if (bytes.isEmpty())
        return;
    switch (rule_.arrived(bytes)) {
    case platform::PollRule::Verdict::Reply:
        replyDeadline_.stop();
        printReply();
        if (invocation_.count && rule_.counts().replies >= *invocation_.count)
            stop();
        return;
    case platform::PollRule::Verdict::WrongLength:
        replyDeadline_.stop();
        report(QStringLiteral("reply of %1 bytes from %2, expected %3")
                   .arg(rule_.collected().size())
                   .arg(endpoint_.text())
                   .arg(protocol::kStatusReplySize));
        return;
    case platform::PollRule::Verdict::Pending:
    case platform::PollRule::Verdict::TimedOut:
    case platform::PollRule::Verdict::Ignored:
        return;
    }
}

void Poller::replyDeadlinePassed() {
    const QString within = secondsText(invocation_.timeoutMs);
    switch (rule_.deadlinePassed()) {
    case platform::PollRule::Verdict::TimedOut:
        report(QStringLiteral("no reply from %1 within %2").arg(endpoint_.text(), within));
        return;
    case platform::PollRule::Verdict::WrongLength:
        report(QStringLiteral("reply of %1 bytes from %2 within %3, expected %4")
                   .arg(rule_.collected().size())
                   .arg(endpoint_.text(), within)
                   .arg(protocol::kStatusReplySize));
        return;
    case platform::PollRule::Verdict::Pending:
    case platform::PollRule::Verdict::Reply:
    case platform::PollRule::Verdict::Ignored:
        return;
    }
}

void Poller::printReply() {
    const protocol::DecodedReply reply = protocol::decodeStatusReply(rule_.collected());
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
        console_.out(
            timeline::csvRow(dateTimeText(now.date(), now.time()), timeline::sampleOf(0, rule_.collected())));
        break;
    }
    const QStringList refused = refusedValues(reply);
    if (!refused.isEmpty()) {
        rule_.replyRefused();
        report(QStringLiteral("reply from %1 holds values the window refuses: %2")
                   .arg(endpoint_.text(), refused.join(QStringLiteral(", "))));
    }
}

} // namespace lumora::cli
