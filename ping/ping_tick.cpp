// SPDX-License-Identifier: GPL-3.0-or-later
#include "ping/ping_tick.h"

namespace lumora::ping {

namespace {

constexpr QChar kBlank = u' ';

// Only blanks count: tabs or other white space typed into the box stay part of
// the name, as the resolver would see them.
QString trimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype end = text.size();
    while (first < end && text.at(first) == kBlank) {
        ++first;
    }
    while (end > first && text.at(end - 1) == kBlank) {
        --end;
    }
    return text.mid(first, end - first);
}

QString replyLine(const platform::EchoReply& reply) {
    return QStringLiteral("Reply From %1: Bytes=%2 Time=%3ms TTL=%4")
        .arg(dottedText(reply.from))
        .arg(reply.dataSize)
        .arg(reply.roundTripMs)
        .arg(reply.ttl);
}

} // namespace

QString dottedText(platform::Ipv4 address) {
    constexpr int kByteBits = 8;
    constexpr platform::Ipv4 kByteMask = 0xFF;
    return QStringLiteral("%1.%2.%3.%4")
        .arg((address >> (3 * kByteBits)) & kByteMask)
        .arg((address >> (2 * kByteBits)) & kByteMask)
        .arg((address >> kByteBits) & kByteMask)
        .arg(address & kByteMask);
}

QString runTick(const QString& addressText, platform::IcmpService& icmp) {
    const QByteArray hostName = trimBlanks(addressText).left(kHostNameMax).toLocal8Bit();
    const std::optional<platform::Ipv4> destination = icmp.resolveFirstIpv4(hostName);
    if (!destination) {
        return QStringLiteral("Ping: Unknown Host ") + addressText;
    }

    const platform::EchoOutcome outcome = icmp.echo(*destination, kEchoTtl, kEchoTimeoutMs);
    switch (outcome.kind) {
    case platform::EchoOutcome::Kind::Reply:
        return replyLine(outcome.reply);
    case platform::EchoOutcome::Kind::NotAvailable:
        // Without any ICMP socket a "no answer" line would blame the unit for a
        // local restriction; the reason tells the user what to fix.
        return QStringLiteral("Ping: ICMP Not Available (") + outcome.reason + u')';
    case platform::EchoOutcome::Kind::NoAnswer:
        break;
    }
    return QStringLiteral("No answer from ") + dottedText(*destination);
}

} // namespace lumora::ping
