// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace lumora::platform {

// An IPv4 address with the first dotted component in the most significant
// byte (10.1.2.3 is 0x0A010203).
using Ipv4 = std::uint32_t;

struct EchoReply {
    Ipv4 from = 0;
    std::uint32_t roundTripMs = 0;
    std::uint16_t dataSize = 0;
    std::uint8_t ttl = 0;
};

struct EchoOutcome {
    enum class Kind { Reply, NoAnswer, NotAvailable };
    Kind kind = Kind::NoAnswer;
    EchoReply reply; // valid for Reply
    QString reason;  // why no ICMP socket could be opened, for NotAvailable
};

// Name resolution and one ICMP echo round trip. Both calls block; they may
// be made from any thread, several at a time.
class IcmpService {
public:
    virtual ~IcmpService() = default;
    // The first IPv4 address of a host name or dotted address, or none.
    [[nodiscard]] virtual std::optional<Ipv4> resolveFirstIpv4(const QByteArray& hostName) = 0;
    // One echo request without data, waiting at most timeoutMs for its reply.
    [[nodiscard]] virtual EchoOutcome echo(Ipv4 destination, int ttl, int timeoutMs) = 0;
};

std::unique_ptr<IcmpService> makeSystemIcmpService();

} // namespace lumora::platform
