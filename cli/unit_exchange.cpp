// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/unit_exchange.h"

#include "cli/console.h"

namespace lumora::cli {

QString Endpoint::text() const {
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return shownHost + u':' + QString::number(port);
}

UnitExchange::UnitExchange(Endpoint endpoint, int timeoutMs, QObject* parent)
    : QObject(parent)
    , endpoint_(std::move(endpoint))
    , timeoutMs_(timeoutMs) {
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, &UnitExchange::onDeadline);
    connect(&connection_, &platform::UnitConnection::connected, this, &UnitExchange::onConnected);
    connect(&connection_, &platform::UnitConnection::connectFailed, this,
            [this](const QString& reason) { fail(ExchangeOutcome::Failure::NoConnection, reason); });
    connect(&connection_, &platform::UnitConnection::allSent, this, &UnitExchange::onAllSent);
    connect(&connection_, &platform::UnitConnection::bytesArrived, this, &UnitExchange::onBytesArrived);
    connect(&connection_, &platform::UnitConnection::closed, this, &UnitExchange::onClosed);
}

void UnitExchange::start(const QByteArray& frame, qsizetype replySize) {
    frame_ = frame;
    replySize_ = replySize;
    enter(Step::Connecting);
    connection_.open(endpoint_.host, endpoint_.port);
}

void UnitExchange::enter(Step step) {
    step_ = step;
    deadline_.start(timeoutMs_);
}

void UnitExchange::onConnected() {
    if (step_ != Step::Connecting)
        return;
    enter(Step::Sending);
    if (!connection_.send(frame_)) {
        fail(ExchangeOutcome::Failure::NotSent, connection_.errorString());
        return;
    }
    if (connection_.unsentBytes() == 0)
        onAllSent();
}

void UnitExchange::onAllSent() {
    if (step_ != Step::Sending)
        return;
    if (replySize_ == 0) {
        finish();
        return;
    }
    enter(Step::Collecting);
    onBytesArrived();
}

void UnitExchange::onBytesArrived() {
    if (step_ != Step::Collecting)
        return;
    outcome_.reply += connection_.takeArrived();
    if (outcome_.reply.size() >= replySize_)
        finish();
}

void UnitExchange::onClosed(const QString& reason) {
    switch (step_) {
    case Step::Sending:
        fail(ExchangeOutcome::Failure::NotSent, reason);
        return;
    case Step::Collecting:
        outcome_.reply += connection_.takeArrived();
        outcome_.closedByUnit = true;
        finish();
        return;
    case Step::Idle:
    case Step::Connecting:
    case Step::Done:
        return;
    }
}

void UnitExchange::onDeadline() {
    switch (step_) {
    case Step::Connecting:
        fail(ExchangeOutcome::Failure::NoConnection,
             QStringLiteral("no connection within ") + secondsText(timeoutMs_));
        return;
    case Step::Sending:
        fail(ExchangeOutcome::Failure::NotSent, QStringLiteral("not sent within ") + secondsText(timeoutMs_));
        return;
    case Step::Collecting:
        // Whatever came is judged by the command.
        finish();
        return;
    case Step::Idle:
    case Step::Done:
        return;
    }
}

void UnitExchange::fail(ExchangeOutcome::Failure failure, const QString& error) {
    if (step_ == Step::Done)
        return;
    outcome_.failure = failure;
    outcome_.error = error;
    finish();
}

void UnitExchange::finish() {
    step_ = Step::Done;
    deadline_.stop();
    // Once the system holds every byte, so the FIN follows them at once.
    connection_.close();
    Q_EMIT finished(outcome_);
}

} // namespace lumora::cli
