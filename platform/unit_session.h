// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/unit_connection.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

namespace lumora::platform {

// "3 s", "0.5 s": how every command and the exporter word a timeout.
[[nodiscard]] QString secondsText(int ms);
// "0.500 s", "12.030 s": a measured time to the millisecond, as a test plan's
// gap checks word what they wanted and what came.
[[nodiscard]] QString exactSecondsText(qint64 ms);

struct PollCounts {
    qint64 requests = 0;
    qint64 replies = 0;
    qint64 wrongLengths = 0;
    qint64 timeouts = 0;
    // Requests whose reply the unit's close cut off, wholly or in part.
    qint64 cutShort = 0;
    qint64 reconnects = 0;
    // Not in the summary, but the command line's exit status weighs them.
    qint64 failedConnects = 0;
    qint64 refused = 0;
};

// The window's repeat rule for status requests: a tick sends only when the
// previous request has been answered, or has timed out. Unlike the window,
// which judges every arrival by itself, a reply is collected until it is
// complete, so one split by the network still counts as one reply.
class PollRule {
public:
    enum class Verdict {
        Pending,     // part of a reply; more may come
        Reply,       // exactly one whole reply: collected() holds it
        WrongLength, // more than a reply, or part of one when time ran out
        TimedOut,    // nothing at all came
        Ignored,     // no request was outstanding
    };

    explicit PollRule(qsizetype replySize)
        : replySize_(replySize) {}

    bool awaitingReply() const { return awaiting_; }
    void requestSent();
    Verdict arrived(QByteArrayView bytes);
    Verdict deadlinePassed();
    // A closed connection cannot bring the reply any more.
    void connectionClosed();
    // The program closed: a request still awaited is counted nowhere.
    void abandon() { awaiting_ = false; }
    void reconnected() { ++counts_.reconnects; }
    void connectFailed() { ++counts_.failedConnects; }
    void replyRefused() { ++counts_.refused; }

    const QByteArray& collected() const { return collected_; }
    const PollCounts& counts() const { return counts_; }
    // Every request sent that polling did not stop waiting for is in exactly
    // one of replies, wrong lengths, timeouts and cut short.
    QString summary() const;

private:
    Verdict settle(Verdict verdict);

    qsizetype replySize_ = 0;
    bool awaiting_ = false;
    QByteArray collected_;
    PollCounts counts_;
};

// What a program holds of one unit: its connection, the status request and
// its reply, the output and reset frames on the same connection, and what
// happens when the connection goes. poll, serve, the single commands and the
// plan runner differ only in the reconnect policy and in what they make of
// the signals, so the deadlines and the counts are kept alike for all.
class UnitSession : public QObject {
    Q_OBJECT
public:
    struct Reconnect {
        enum class Mode {
            // Never by itself: the caller calls open() again (a plan that
            // still wants its teardown after the unit closed mid-plan).
            Caller,
            // On the caller's next tick(), as the window's Repeat does.
            NextTick,
            // After a wait that starts at firstWaitMs and doubles up to
            // longestWaitMs. Only a good reply brings it back to the first, so
            // a unit that takes the connection and drops it at once is not
            // hammered.
            BackOff,
        };
        Mode mode = Mode::Caller;
        int firstWaitMs = 1000;
        int longestWaitMs = 30000;
    };

    enum class Link {
        Down,       // closed, or lost; see Reconnect
        Connecting, // an attempt, bounded by the timeout
        Up,
        Waiting, // BackOff's wait before the next attempt
    };

    // How a status request ended without a whole reply. Each is counted once
    // in counts(), as wrong lengths, timeouts or cut short.
    enum class ReplyFailure {
        Overlong, // more than a reply came
        Short,    // part of a reply when the timeout ran out
        TimedOut, // nothing came within the timeout
        CutShort, // the unit closed the connection first, with `bytes` of it
    };
    Q_ENUM(ReplyFailure)

    // What went wrong with the session itself; the unit's answers are
    // judged by replied() and replyFailed().
    enum class Error {
        NoError,
        ConnectError,      // refused, unreachable, not found, or no connection in time
        NotConnectedError, // a request or frame with the link not up
        BusyError,         // a request while one is awaited
        SendError,         // a request or frame refused, or a frame not gone in time
        ClosedError,       // the unit closed the connection or it broke
    };
    Q_ENUM(Error)

    // timeoutMs bounds each attempt, each reply and each frame's leaving.
    UnitSession(QString host, std::uint16_t port, int timeoutMs, Reconnect policy, QObject* parent = nullptr);
    ~UnitSession() override;
    UnitSession(const UnitSession&) = delete;
    UnitSession& operator=(const UnitSession&) = delete;

    // Starts an attempt (after ending the connection there was, as close()
    // does): connected() or errorOccurred(ConnectError) within the timeout.
    void open();
    // The program's own close: nothing more is signalled, and a request still
    // awaited is counted nowhere.
    void close();
    // A repeat tick: a status request when up and none is awaited; under
    // NextTick a new attempt when down.
    void tick();

    // Hands the status request over; false when not up, a reply is already
    // awaited, or the connection refused it (errorString(), errorOccurred()).
    // Ends in replied() or replyFailed().
    [[nodiscard]] bool requestStatus();
    // Output setting or counter reset, which the unit does not answer; fine
    // while a reply is awaited. frameSent() once the system holds it; false
    // when not up or refused (errorString(), errorOccurred()).
    [[nodiscard]] bool sendFrame(const QByteArray& frame);

    [[nodiscard]] Link link() const { return link_; }
    [[nodiscard]] bool awaitingReply() const { return rule_.awaitingReply(); }
    [[nodiscard]] const PollCounts& counts() const { return rule_.counts(); }
    // "requests sent 3, replies 3, ...", poll's closing line.
    [[nodiscard]] QString summary() const { return rule_.summary(); }
    [[nodiscard]] Error error() const { return error_; }
    [[nodiscard]] QString errorString() const { return errorString_; }
    [[nodiscard]] const QString& host() const { return host_; }
    [[nodiscard]] std::uint16_t port() const { return port_; }

Q_SIGNALS:
    // An attempt starts: open(), tick() under NextTick, the end of a wait.
    void connecting();
    void connected();
    // ConnectError: refused, unreachable, not found, or "no connection
    // within 3 s". SendError: the connection refused a request or frame, or
    // a frame did not leave within the timeout; the link is then dropped:
    // closed() follows, and a request this cut off is counted cut short
    // without a replyFailed(). errorString() says which.
    void errorOccurred(lumora::platform::UnitSession::Error error);
    // Emitted as soon as the bytes are whole, so a caller's own time stamp
    // is the reply's. holdsRefused: a state number the window refuses (also
    // counted); took: request handed over to reply whole.
    void replied(const QByteArray& reply, bool holdsRefused, qint64 tookNs);
    void replyFailed(lumora::platform::UnitSession::ReplyFailure failure, qsizetype bytes);
    // The system holds every frame handed over: it has left.
    void frameSent();
    // The unit closed the connection or it broke; the link is down (or
    // waiting) until the policy or the caller opens it again.
    void closed(const QString& reason);

private:
    void onConnected();
    void connectFailed(const QString& reason);
    void onClosed(const QString& reason);
    void takeBytes();
    void onAllSent();
    void attemptDeadline();
    void replyDeadline();
    void settle(PollRule::Verdict verdict);
    [[nodiscard]] bool hand(const QByteArray& bytes);
    // A send refused or stuck: the link goes as if the unit had closed it.
    void drop(const QString& reason);
    // The link is gone: down, or BackOff's wait.
    void lose();

    const QString host_;
    const std::uint16_t port_;
    const int timeoutMs_;
    const Reconnect policy_;
    UnitConnection connection_;
    PollRule rule_;
    // The attempt's deadline, or BackOff's wait, as link_ says.
    QTimer attempt_;
    QTimer reply_;
    QTimer frame_;
    QElapsedTimer sinceRequest_;
    Link link_ = Link::Down;
    bool everUp_ = false;
    bool framePending_ = false;
    int waitMs_ = 0;
    // Counts close() and open(), so that a handler that closes is not
    // followed by the rest of a sequence of signals.
    quint64 epoch_ = 0;
    Error error_ = Error::NoError;
    QString errorString_;
};

} // namespace lumora::platform
