// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/unit_poller.h"

#include "protocol/command_frame.h"
#include "protocol/status_reply.h"

#include <QDateTime>

#include <cstring>
#include <utility>

namespace lumora::exporter {

namespace {

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
    , session_(unit_.host, unit_.port, timing.timeoutMs,
               {.mode = platform::UnitSession::Reconnect::Mode::BackOff,
                .firstWaitMs = timing.firstRetryMs,
                .longestWaitMs = timing.longestRetryMs}) {
    // Precise, so that a unit's ticks keep their phase: a coarse timer may
    // fire up to 5 % late and a thousand units would drift apart.
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.setInterval(timing_.intervalMs);
    using platform::UnitSession;
    connect(&tick_, &QTimer::timeout, &session_, &UnitSession::tick);
    connect(&session_, &UnitSession::connecting, this, [this] {
        state_.link = UnitState::Link::Connecting;
        publish();
    });
    connect(&session_, &UnitSession::connected, this, &UnitPoller::onConnected);
    connect(&session_, &UnitSession::replied, this, &UnitPoller::onReplied);
    connect(&session_, &UnitSession::replyFailed, this, &UnitPoller::onReplyFailed);
    connect(&session_, &UnitSession::errorOccurred, this, [this](UnitSession::Error error) {
        if (error == UnitSession::Error::ConnectError)
            lost(PollFailure::Connect, lowered(session_.errorString()));
        else
            sendProblem_ = QStringLiteral("cannot send: ") + session_.errorString();
    });
    connect(&session_, &UnitSession::closed, this, [this] {
        lost(PollFailure::Closed,
             sendProblem_.isEmpty() ? QStringLiteral("closed by the unit") : std::exchange(sendProblem_, {}));
    });
}

UnitPoller::~UnitPoller() {
    stop();
}

void UnitPoller::start() {
    if (!stopped_)
        return;
    stopped_ = false;
    session_.open();
}

void UnitPoller::stop() {
    stopped_ = true;
    tick_.stop();
    session_.close();
}

void UnitPoller::onConnected() {
    state_.link = UnitState::Link::Connected;
    publish();
    // A reader may have stopped it.
    if (stopped_)
        return;
    // As a click of Send in Repeat mode: the first request at once, the
    // next one interval later, and on that grid from then on.
    tick_.start();
    session_.tick();
}

void UnitPoller::onReplyFailed(platform::UnitSession::ReplyFailure failure, qsizetype bytes) {
    using Failure = platform::UnitSession::ReplyFailure;
    switch (failure) {
    case Failure::Overlong:
    case Failure::Short:
        fail(PollFailure::Length, QStringLiteral("reply of %1 bytes").arg(bytes));
        return;
    case Failure::TimedOut:
        // The connection stays, as the window keeps it: the next tick asks again.
        fail(PollFailure::Timeout,
             QStringLiteral("no reply within ") + platform::secondsText(timing_.timeoutMs));
        return;
    case Failure::CutShort: // told as the close
        return;
    }
}

UnitBoard::OutputWrite UnitPoller::setOutputs(std::uint8_t mask, std::uint8_t values) {
    if (!state_.up || session_.link() != platform::UnitSession::Link::Up)
        return UnitBoard::OutputWrite::UnitDown;
    std::array<int, protocol::kOutputCount> outputs{};
    for (int k = 0; k < protocol::kOutputCount; ++k) {
        if ((mask >> k) & 1U)
            outputs[std::size_t(k)] = (values >> k) & 1U;
        else if (repliesUntilShown_ > 0)
            outputs[std::size_t(k)] = outputsSet_[std::size_t(k)];
        else
            outputs[std::size_t(k)] = protocol::outputState(state_.reply, k);
        if (!protocol::isShownState(outputs[std::size_t(k)]))
            return UnitBoard::OutputWrite::RefusedValue;
    }
    // A reply already asked for may have left the unit before the frame came.
    const int replies = session_.awaitingReply() ? 2 : 1;
    if (!session_.sendFrame(protocol::buildFrame(protocol::Command::OutputSetting, outputs)))
        return UnitBoard::OutputWrite::UnitDown;
    outputsSet_ = outputs;
    repliesUntilShown_ = replies;
    return UnitBoard::OutputWrite::Sent;
}

void UnitPoller::onReplied(const QByteArray& reply, bool holdsRefused, qint64 tookNs) {
    if (repliesUntilShown_ > 0)
        --repliesUntilShown_;
    // Copied into the buffer the state already has, so a steady poll
    // allocates nothing; a reader that shares the old one keeps it.
    if (state_.reply.size() != reply.size())
        state_.reply.resize(reply.size());
    std::memcpy(state_.reply.data(), reply.constData(), static_cast<std::size_t>(reply.size()));
    state_.up = true;
    state_.lastReplyMs = QDateTime::currentMSecsSinceEpoch();
    ++state_.replies;
    state_.durations.add(static_cast<double>(tookNs) / 1e9);
    if (holdsRefused)
        ++state_.failures[static_cast<std::size_t>(PollFailure::RefusedValue)];
    state_.problem.clear();
    publish();
}

void UnitPoller::lost(PollFailure failure, const QString& problem) {
    tick_.stop();
    repliesUntilShown_ = 0;
    state_.link = UnitState::Link::Waiting;
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
