// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/unit_session.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace lumora::cli {

struct Endpoint {
    QString host; // handed over as typed, as the window does
    std::uint16_t port = 0;
    // "127.0.0.1:4000", "[::1]:4000"
    QString text() const;
};

struct ExchangeOutcome {
    enum class Failure { None, NoConnection, NotSent };
    Failure failure = Failure::None;
    QString error;    // why, with a failure
    QByteArray reply; // whole
    // Else how the status request ended, and how many bytes came for it.
    std::optional<platform::UnitSession::ReplyFailure> replyFailure;
    qsizetype replyBytes = 0;
};

// One request of a single command on a session of its own: connect, hand the
// frame over, and for status await the reply. Each step gets the timeout, so
// a name lookup or a silent unit never holds the program longer.
class UnitExchange : public QObject {
    Q_OBJECT
public:
    UnitExchange(const Endpoint& endpoint, int timeoutMs, QObject* parent = nullptr);

    void requestStatus();
    // Done once the system holds the frame.
    void send(const QByteArray& frame);

Q_SIGNALS:
    void finished(const lumora::cli::ExchangeOutcome& outcome);

private:
    void fail(ExchangeOutcome::Failure failure, const QString& error);
    void finish();

    platform::UnitSession session_;
    // Empty: the status request.
    QByteArray frame_;
    ExchangeOutcome outcome_;
};

} // namespace lumora::cli
