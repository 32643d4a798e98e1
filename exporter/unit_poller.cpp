// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/unit_poller.h"

#include "protocol/command_frame.h"
#include "protocol/status_reply.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cstring>

namespace lumora::exporter {

namespace {

// Built once for every poller: a thousand units at one a second would
// otherwise build a thousand frames a second.
const QByteArray& statusRequest() {
    static const QByteArray frame = protocol::buildFrame(protocol::Command::StatusRequest, {});
    return frame;
}

QString seconds(int ms) {
    return QString::number(ms / 1000.0) + QStringLiteral(" s");
}

// "connection refused" for the page, from the socket's "Connection refused".
QString lowered(QString reason) {
    if (!reason.isEmpty())
        reason[0] = reason[0].toLower();
    return reason;
}

} // namespace

UnitPoller::UnitPoller(Unit unit, PollTiming timing, QObject* parent)
    : QObject(parent)
    , unit_(std::move(unit))
    , timing_(timing)
    , rule_(protocol::kStatusReplySize)
    , retryMs_(timing.firstRetryMs) {
    // Precise, so that a unit's ticks keep their phase: a coarse timer may
    // fire up to 5 % late and a thousand units would drift apart.
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.setInterval(timing_.intervalMs);
    deadline_.setTimerType(Qt::PreciseTimer);
    deadline_.setSingleShot(true);
    connect(&tick_, &QTimer::timeout, this, &UnitPoller::tick);
    connect(&deadline_, &QTimer::timeout, this, &UnitPoller::deadlinePassed);
    connect(&connection_, &platform::UnitConnection::connected, this, &UnitPoller::onConnected);
    connect(&connection_, &platform::UnitConnection::connectFailed, this, &UnitPoller::onConnectFailed);
    connect(&connection_, &platform::UnitConnection::bytesArrived, this, &UnitPoller::takeBytes);
    connect(&connection_, &platform::UnitConnection::closed, this, &UnitPoller::onClosed);
}

UnitPoller::~UnitPoller() {
    stop();
}

void UnitPoller::start() {
    if (!stopped_)
        return;
    stopped_ = false;
    connectNow();
}

void UnitPoller::stop() {
    stopped_ = true;
    tick_.stop();
    deadline_.stop();
    connection_.close();
}

void UnitPoller::connectNow() {
    state_.link = UnitState::Link::Connecting;
    deadline_.start(timing_.timeoutMs);
    connection_.open(unit_.host, unit_.port);
    publish();
}

void UnitPoller::onConnected() {
    if (stopped_ || state_.link != UnitState::Link::Connecting)
        return;
    deadline_.stop();
    // The wait before the next attempt is left as it is: a unit that takes
    // the connection and drops it at once would be hammered otherwise. Only
    // a good reply brings it back to the first.
    state_.link = UnitState::Link::Connected;
    publish();
    // A reader may have stopped it.
    if (stopped_)
        return;
    // As a click of Send in Repeat mode: the first request at once, the
    // next one interval later, and on that grid from then on.
    tick_.start();
    sendRequest();
}

void UnitPoller::onConnectFailed(const QString& reason) {
    if (stopped_ || state_.link != UnitState::Link::Connecting)
        return;
    dropAndWait(PollFailure::Connect, lowered(reason));
}

void UnitPoller::onClosed() {
    if (stopped_ || state_.link != UnitState::Link::Connected)
        return;
    // The bytes that came with the close may be the reply asked for.
    takeBytes();
    rule_.connectionClosed();
    dropAndWait(PollFailure::Closed, QStringLiteral("closed by the unit"));
}

void UnitPoller::tick() {
    if (state_.link == UnitState::Link::Connected && !rule_.awaitingReply())
        sendRequest();
}

void UnitPoller::sendRequest() {
    rule_.requestSent();
    if (!connection_.send(statusRequest())) {
        rule_.connectionClosed();
        dropAndWait(PollFailure::Closed, QStringLiteral("cannot send: ") + connection_.errorString());
        return;
    }
    sinceRequest_.start();
    deadline_.start(timing_.timeoutMs);
}

void UnitPoller::takeBytes() {
    if (stopped_ || state_.link != UnitState::Link::Connected)
        return;
    // A reply fits whole; a unit that floods is read in pieces, and what
    // nobody asked for is dropped by the rule.
    std::array<char, 256> buffer{};
    qint64 size = 0;
    while ((size = connection_.takeArrived(buffer.data(), buffer.size())) > 0) {
        settle(rule_.arrived(QByteArrayView(buffer.data(), size)));
    }
}

void UnitPoller::settle(platform::PollRule::Verdict verdict) {
    switch (verdict) {
    case platform::PollRule::Verdict::Reply:
        deadline_.stop();
        takeReply();
        return;
    case platform::PollRule::Verdict::WrongLength:
        deadline_.stop();
        fail(PollFailure::Length, QStringLiteral("reply of %1 bytes").arg(rule_.collected().size()));
        return;
    case platform::PollRule::Verdict::TimedOut:
        fail(PollFailure::Timeout, QStringLiteral("no reply within ") + seconds(timing_.timeoutMs));
        return;
    case platform::PollRule::Verdict::Pending:
    case platform::PollRule::Verdict::Ignored:
        return;
    }
}

void UnitPoller::deadlinePassed() {
    if (stopped_)
        return;
    switch (state_.link) {
    case UnitState::Link::Connecting:
        dropAndWait(PollFailure::Connect, QStringLiteral("no connection within ") + seconds(timing_.timeoutMs));
        return;
    case UnitState::Link::Waiting:
        connectNow();
        return;
    case UnitState::Link::Connected:
        break;
    }
    // The connection stays, as the window keeps it: the next tick asks again.
    settle(rule_.deadlinePassed());
}

void UnitPoller::takeReply() {
    const double took = static_cast<double>(sinceRequest_.nsecsElapsed()) / 1e9;
    const QByteArray& reply = rule_.collected();
    // Copied into the buffer the state already has, so a steady poll
    // allocates nothing; a reader that shares the old one keeps it.
    if (state_.reply.size() != reply.size())
        state_.reply.resize(reply.size());
    std::memcpy(state_.reply.data(), reply.constData(), static_cast<std::size_t>(reply.size()));
    state_.up = true;
    state_.lastReplyMs = QDateTime::currentMSecsSinceEpoch();
    ++state_.replies;
    state_.durations.add(took);
    if (hasRefusedValue(state_.reply))
        ++state_.failures[static_cast<std::size_t>(PollFailure::RefusedValue)];
    state_.problem.clear();
    retryMs_ = timing_.firstRetryMs;
    publish();
}

void UnitPoller::dropAndWait(PollFailure failure, const QString& problem) {
    tick_.stop();
    connection_.close();
    state_.link = UnitState::Link::Waiting;
    deadline_.start(retryMs_);
    retryMs_ = std::min(retryMs_ * 2, std::max(timing_.longestRetryMs, timing_.firstRetryMs));
    fail(failure, problem);
}

void UnitPoller::fail(PollFailure failure, const QString& problem) {
    ++state_.failures[static_cast<std::size_t>(failure)];
    state_.up = false;
    state_.problem = problem;
    publish();
}

void UnitPoller::publish() {
    ++state_.version;
    Q_EMIT changed();
}

} // namespace lumora::exporter
