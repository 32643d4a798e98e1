// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace lumora::platform {

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

} // namespace lumora::platform
