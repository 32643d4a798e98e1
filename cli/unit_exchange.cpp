// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/unit_exchange.h"

#include "settings/host_port.h"

namespace lumora::cli {

QString Endpoint::text() const {
    return settings::hostPortText(host, port);
}

UnitExchange::UnitExchange(const Endpoint& endpoint, int timeoutMs, QObject* parent)
    : QObject(parent)
    , session_(endpoint.host, endpoint.port, timeoutMs,
               {.mode = platform::UnitSession::Reconnect::Mode::Caller}) {
    using platform::UnitSession;
    connect(&session_, &UnitSession::connected, this, [this] {
        // A refusal is told by errorOccurred().
        static_cast<void>(frame_.isEmpty() ? session_.requestStatus() : session_.sendFrame(frame_));
    });
    connect(&session_, &UnitSession::errorOccurred, this, [this](UnitSession::Error error) {
        fail(error == UnitSession::Error::ConnectError ? ExchangeOutcome::Failure::NoConnection
                                                       : ExchangeOutcome::Failure::NotSent,
             session_.errorString());
    });
    // Only a frame can still be on its way here: a status request's close
    // ends in replyFailed() first.
    connect(&session_, &UnitSession::closed, this,
            [this](const QString& reason) { fail(ExchangeOutcome::Failure::NotSent, reason); });
    connect(&session_, &UnitSession::frameSent, this, &UnitExchange::finish);
    connect(&session_, &UnitSession::replied, this, [this](const QByteArray& reply) {
        outcome_.reply = reply;
        finish();
    });
    connect(&session_, &UnitSession::replyFailed, this,
            [this](UnitSession::ReplyFailure failure, qsizetype bytes) {
                outcome_.replyFailure = failure;
                outcome_.replyBytes = bytes;
                finish();
            });
}

void UnitExchange::requestStatus() {
    session_.open();
}

void UnitExchange::send(const QByteArray& frame) {
    frame_ = frame;
    session_.open();
}

void UnitExchange::fail(ExchangeOutcome::Failure failure, const QString& error) {
    outcome_.failure = failure;
    outcome_.error = error;
    finish();
}

void UnitExchange::finish() {
    // Once the system holds every byte, so the FIN follows them at once; and
    // nothing more is heard.
    session_.close();
    Q_EMIT finished(outcome_);
}

} // namespace lumora::cli
