// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/unit_session.h"

#include "protocol/command_frame.h"
#include "protocol/status_reply.h"

#include <algorithm>
#include <array>

namespace lumora::platform {

namespace {

// Built once for every session: a thousand units at one a second would
// otherwise build a thousand frames a second.
const QByteArray& statusRequest() {
    static const QByteArray frame = protocol::buildFrame(protocol::Command::StatusRequest, {});
    return frame;
}

} // namespace

QString secondsText(int ms) {
    constexpr double kMsPerSecond = 1000.0;
    constexpr int kDigits = 10;
    return QString::number(ms / kMsPerSecond, 'g', kDigits) + QStringLiteral(" s");
}

QString exactSecondsText(qint64 ms) {
    constexpr double kMsPerSecond = 1000.0;
    constexpr int kDecimals = 3;
    return QString::number(double(ms) / kMsPerSecond, 'f', kDecimals) + QStringLiteral(" s");
}

void PollRule::requestSent() {
    ++counts_.requests;
    awaiting_ = true;
    // Emptied, not freed: a steady poll reuses the buffer.
    collected_.resize(0);
}

PollRule::Verdict PollRule::arrived(QByteArrayView bytes) {
    // Bytes nobody asked for (a unit that floods, the tail of an overlong
    // reply) are dropped rather than glued to the next reply.
    if (!awaiting_)
        return Verdict::Ignored;
    collected_.append(bytes.data(), bytes.size());
    if (collected_.size() < replySize_)
        return Verdict::Pending;
    return settle(collected_.size() == replySize_ ? Verdict::Reply : Verdict::WrongLength);
}

PollRule::Verdict PollRule::deadlinePassed() {
    if (!awaiting_)
        return Verdict::Ignored;
    return settle(collected_.isEmpty() ? Verdict::TimedOut : Verdict::WrongLength);
}

void PollRule::connectionClosed() {
    if (!awaiting_)
        return;
    ++counts_.cutShort;
    awaiting_ = false;
}

PollRule::Verdict PollRule::settle(Verdict verdict) {
    awaiting_ = false;
    switch (verdict) {
    case Verdict::Reply:
        ++counts_.replies;
        break;
    case Verdict::WrongLength:
        ++counts_.wrongLengths;
        break;
    case Verdict::TimedOut:
        ++counts_.timeouts;
        break;
    case Verdict::Pending:
    case Verdict::Ignored:
        break;
    }
    return verdict;
}

QString PollRule::summary() const {
    return QStringLiteral("requests sent %1, replies %2, wrong lengths %3, timeouts %4, cut short %5, "
                          "reconnects %6")
        .arg(counts_.requests)
        .arg(counts_.replies)
        .arg(counts_.wrongLengths)
        .arg(counts_.timeouts)
        .arg(counts_.cutShort)
        .arg(counts_.reconnects);
}

UnitSession::UnitSession(QString host, std::uint16_t port, int timeoutMs, Reconnect policy, QObject* parent)
    : QObject(parent)
    , host_(std::move(host))
    , port_(port)
    , timeoutMs_(timeoutMs)
    , policy_(policy)
    , rule_(protocol::kStatusReplySize)
    , waitMs_(policy.firstWaitMs) {
    // Precise, so that a deadline is not late by 5 % of a long timeout.
    for (QTimer* timer : {&attempt_, &reply_, &frame_}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&attempt_, &QTimer::timeout, this, &UnitSession::attemptDeadline);
    connect(&reply_, &QTimer::timeout, this, &UnitSession::replyDeadline);
    connect(&frame_, &QTimer::timeout, this,
            [this] { drop(QStringLiteral("not sent within ") + secondsText(timeoutMs_)); });
    connect(&connection_, &UnitConnection::connected, this, &UnitSession::onConnected);
    connect(&connection_, &UnitConnection::errorOccurred, this,
            [this] { connectFailed(connection_.errorString()); });
    connect(&connection_, &UnitConnection::bytesArrived, this, &UnitSession::takeBytes);
    connect(&connection_, &UnitConnection::allSent, this, &UnitSession::onAllSent);
    connect(&connection_, &UnitConnection::closed, this, &UnitSession::onClosed);
}

UnitSession::~UnitSession() {
    close();
}

void UnitSession::open() {
    close();
    link_ = Link::Connecting;
    attempt_.start(timeoutMs_);
    connection_.open(host_, port_);
    Q_EMIT connecting();
}

void UnitSession::close() {
    // Every signal still to come in a sequence checks this, so a caller that
    // closes from a handler hears nothing more.
    ++epoch_;
    for (QTimer* timer : {&attempt_, &reply_, &frame_})
        timer->stop();
    connection_.close();
    rule_.abandon();
    framePending_ = false;
    link_ = Link::Down;
}

void UnitSession::tick() {
    switch (link_) {
    case Link::Down:
        if (policy_.mode == Reconnect::Mode::NextTick)
            open();
        return;
    case Link::Up:
        if (!rule_.awaitingReply())
            static_cast<void>(requestStatus());
        return;
    case Link::Connecting: // an attempt gets the whole timeout, however short the tick
    case Link::Waiting:
        return;
    }
}

bool UnitSession::requestStatus() {
    if (link_ != Link::Up || rule_.awaitingReply()) {
        if (link_ != Link::Up) {
            error_ = Error::NotConnectedError;
            errorString_ = QStringLiteral("not connected");
        } else {
            error_ = Error::BusyError;
            errorString_ = QStringLiteral("a reply is awaited");
        }
        return false;
    }
    rule_.requestSent();
    if (!hand(statusRequest()))
        return false;
    sinceRequest_.start();
    reply_.start(timeoutMs_);
    return true;
}

bool UnitSession::sendFrame(const QByteArray& frame) {
    if (link_ != Link::Up) {
        error_ = Error::NotConnectedError;
        errorString_ = QStringLiteral("not connected");
        return false;
    }
    framePending_ = true;
    if (!hand(frame))
        return false;
    // allSent() may have come from within the send.
    if (framePending_)
        frame_.start(timeoutMs_);
    return true;
}

bool UnitSession::hand(const QByteArray& bytes) {
    if (connection_.send(bytes))
        return true;
    drop(connection_.errorString());
    return false;
}

void UnitSession::onAllSent() {
    if (!framePending_)
        return;
    framePending_ = false;
    frame_.stop();
    Q_EMIT frameSent();
}

void UnitSession::onConnected() {
    if (link_ != Link::Connecting)
        return;
    attempt_.stop();
    // BackOff's wait is left as it is: a unit that takes the connection and
    // drops it at once would be hammered otherwise.
    link_ = Link::Up;
    if (everUp_)
        rule_.reconnected();
    everUp_ = true;
    Q_EMIT connected();
}

void UnitSession::connectFailed(const QString& reason) {
    if (link_ != Link::Connecting)
        return;
    // An attempt given up at the deadline ends here, a name lookup included.
    connection_.close();
    rule_.connectFailed();
    error_ = Error::ConnectError;
    errorString_ = reason;
    lose();
    Q_EMIT errorOccurred(error_);
}

void UnitSession::attemptDeadline() {
    if (link_ == Link::Waiting)
        open();
    else if (link_ == Link::Connecting)
        connectFailed(QStringLiteral("no connection within ") + secondsText(timeoutMs_));
}

void UnitSession::onClosed(const QString& reason) {
    if (link_ != Link::Up)
        return;
    const quint64 epoch = epoch_;
    // The bytes that came with the close may be the reply asked for.
    takeBytes();
    if (epoch != epoch_)
        return;
    const bool awaited = rule_.awaitingReply();
    const qsizetype collected = rule_.collected().size();
    connection_.close();
    rule_.connectionClosed();
    lose();
    error_ = Error::ClosedError;
    errorString_ = reason;
    if (awaited)
        Q_EMIT replyFailed(ReplyFailure::CutShort, collected);
    if (epoch == epoch_)
        Q_EMIT closed(reason);
}

void UnitSession::drop(const QString& reason) {
    const quint64 epoch = epoch_;
    connection_.close();
    rule_.connectionClosed();
    lose();
    error_ = Error::SendError;
    errorString_ = reason;
    Q_EMIT errorOccurred(error_);
    if (epoch == epoch_)
        Q_EMIT closed(reason);
}

void UnitSession::lose() {
    reply_.stop();
    frame_.stop();
    framePending_ = false;
    if (policy_.mode != Reconnect::Mode::BackOff) {
        link_ = Link::Down;
        return;
    }
    link_ = Link::Waiting;
    attempt_.start(waitMs_);
    waitMs_ = std::min(waitMs_ * 2, std::max(policy_.longestWaitMs, policy_.firstWaitMs));
}

void UnitSession::takeBytes() {
    if (link_ != Link::Up)
        return;
    const quint64 epoch = epoch_;
    // A reply fits whole; a unit that floods is read in pieces, and what
    // nobody asked for is dropped by the rule. The pieces of one arrival
    // that overran a reply are all counted in its length.
    std::array<char, 256> buffer{};
    qsizetype overlong = 0;
    qint64 size = 0;
    while (epoch == epoch_ && (size = connection_.takeArrived(buffer.data(), buffer.size())) > 0) {
        if (overlong > 0) {
            overlong += size;
            continue;
        }
        switch (rule_.arrived(QByteArrayView(buffer.data(), size))) {
        case PollRule::Verdict::Reply:
            settle(PollRule::Verdict::Reply);
            break;
        case PollRule::Verdict::WrongLength:
            reply_.stop();
            overlong = rule_.collected().size();
            break;
        case PollRule::Verdict::Pending:
        case PollRule::Verdict::TimedOut:
        case PollRule::Verdict::Ignored:
            break;
        }
    }
    if (overlong > 0 && epoch == epoch_)
        Q_EMIT replyFailed(ReplyFailure::Overlong, overlong);
}

void UnitSession::replyDeadline() {
    settle(rule_.deadlinePassed());
}

void UnitSession::settle(PollRule::Verdict verdict) {
    switch (verdict) {
    case PollRule::Verdict::Reply: {
        reply_.stop();
        const qint64 took = sinceRequest_.nsecsElapsed();
        // Shared, not copied: a caller that asks again from its handler
        // empties the rule's buffer, not this.
        const QByteArray reply = rule_.collected();
        const bool holdsRefused = protocol::hasRefusedValue(reply);
        if (holdsRefused)
            rule_.replyRefused();
        waitMs_ = policy_.firstWaitMs;
        Q_EMIT replied(reply, holdsRefused, took);
        return;
    }
    case PollRule::Verdict::WrongLength:
        Q_EMIT replyFailed(ReplyFailure::Short, rule_.collected().size());
        return;
    case PollRule::Verdict::TimedOut:
        Q_EMIT replyFailed(ReplyFailure::TimedOut, 0);
        return;
    case PollRule::Verdict::Pending:
    case PollRule::Verdict::Ignored:
        return;
    }
}

} // namespace lumora::platform
