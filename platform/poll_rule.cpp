// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/poll_rule.h"

namespace lumora::platform {

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

} // namespace lumora::platform
