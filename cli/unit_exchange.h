// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/unit_connection.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

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
    QString error; // why, with a failure
    QByteArray reply;
    bool closedByUnit = false;
};

// One request of a single command: connect, hand the frame over, and, when a
// reply is awaited, collect it until it is whole, the unit closes or time runs
// out. Each step gets the timeout, so a name lookup or a silent unit never
// holds the program longer.
class UnitExchange : public QObject {
    Q_OBJECT
public:
    UnitExchange(Endpoint endpoint, int timeoutMs, QObject* parent = nullptr);

    // replySize 0: done once the system holds the frame.
    void start(const QByteArray& frame, qsizetype replySize);

Q_SIGNALS:
    void finished(const lumora::cli::ExchangeOutcome& outcome);

private:
    enum class Step { Idle, Connecting, Sending, Collecting, Done };

    void enter(Step step);
    void onConnected();
    void onAllSent();
    void onBytesArrived();
    void onClosed(const QString& reason);
    void onDeadline();
    void fail(ExchangeOutcome::Failure failure, const QString& error);
    void finish();

    const Endpoint endpoint_;
    const int timeoutMs_;
    platform::UnitConnection connection_;
    QTimer deadline_;
    Step step_ = Step::Idle;
    QByteArray frame_;
    qsizetype replySize_ = 0;
    ExchangeOutcome outcome_;
};

} // namespace lumora::cli
