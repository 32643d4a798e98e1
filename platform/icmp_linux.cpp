// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/icmp_service.h"

#include <QRandomGenerator>
#include <QtGlobal>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <vector>

namespace lumora::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kEchoRequestType = 8;
constexpr std::uint8_t kEchoReplyType = 0;
constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kTypeOffset = 0;
constexpr std::size_t kChecksumOffset = 2;
constexpr std::size_t kIdentifierOffset = 4;
constexpr std::size_t kSequenceOffset = 6;

constexpr std::size_t kMinIpHeaderSize = 20;
constexpr std::uint8_t kIpVersion4 = 4;
constexpr std::size_t kIpTtlOffset = 8;
constexpr std::size_t kIpSourceOffset = 12;
constexpr unsigned kIpHeaderWordBytes = 4;
constexpr std::uint8_t kIpHeaderLengthMask = 0x0F;
constexpr unsigned kIpVersionShift = 4;

// Large enough for any IPv4 datagram, so a reply is never cut short and its
// data size is always the true one.
constexpr std::size_t kReceiveBufferSize = 65536;

constexpr int kMaxTtl = 255;

// Process-wide, so that concurrent echoes never share a sequence number and
// each one can tell its own reply from the others'.
std::atomic<std::uint16_t> g_nextSequence{1};

class SocketFd {
public:
    explicit SocketFd(int fd)
        : fd_(fd) {}
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;
    ~SocketFd() {
        if (fd_ >= 0) {
            // A close failure leaves nothing to recover here; the descriptor is
            // released either way.
            static_cast<void>(::close(fd_));
        }
    }
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

enum class SocketKind { Datagram, Raw };

std::uint16_t readBigEndian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

void writeBigEndian16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value >> 8);
    bytes[1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint32_t readBigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

// The Internet checksum: ones' complement of the ones' complement sum of the
// 16-bit words. Over a message that carries its checksum it yields 0.
std::uint16_t internetChecksum(const std::uint8_t* bytes, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        sum += readBigEndian16(bytes + i);
    }
    if (size % 2 != 0) {
        sum += std::uint32_t{bytes[size - 1]} << 8;
    }
    while ((sum >> 16) != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

struct EchoKey {
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
};

// What a received packet says about itself, once it is known to be an echo
// reply; the caller still decides whether it answers our request.
struct ParsedReply {
    EchoKey key;
    EchoReply reply;
};

std::optional<ParsedReply> parseIcmpReply(const std::uint8_t* icmp, std::size_t size) {
    if (size < kIcmpHeaderSize || icmp[kTypeOffset] != kEchoReplyType) {
        return std::nullopt;
    }
    ParsedReply parsed;
    parsed.key.identifier = readBigEndian16(icmp + kIdentifierOffset);
    parsed.key.sequence = readBigEndian16(icmp + kSequenceOffset);
    parsed.reply.dataSize = static_cast<std::uint16_t>(size - kIcmpHeaderSize);
    return parsed;
}

// A raw socket hands over the whole IP datagram, and every ICMP packet of the
// host arrives there, including our own request when it goes over loopback.
std::optional<ParsedReply> parseRawPacket(const std::uint8_t* packet, std::size_t size) {
    if (size < kMinIpHeaderSize || (packet[0] >> kIpVersionShift) != kIpVersion4) {
        return std::nullopt;
    }
    const std::size_t headerSize = (packet[0] & kIpHeaderLengthMask) * std::size_t{kIpHeaderWordBytes};
    if (headerSize < kMinIpHeaderSize || size < headerSize + kIcmpHeaderSize) {
        return std::nullopt;
    }
    const std::uint8_t* icmp = packet + headerSize;
    const std::size_t icmpSize = size - headerSize;
    // The kernel checks the checksum for its own ICMP handling only after
    // copying the packet to raw sockets.
    if (internetChecksum(icmp, icmpSize) != 0) {
        return std::nullopt;
    }
    std::optional<ParsedReply> parsed = parseIcmpReply(icmp, icmpSize);
    if (parsed) {
        parsed->reply.from = readBigEndian32(packet + kIpSourceOffset);
        parsed->reply.ttl = packet[kIpTtlOffset];
    }
    return parsed;
}

// The datagram socket delivers the ICMP message alone; the TTL comes as
// ancillary data and the sender as the source address.
std::optional<ParsedReply> parseDatagram(const std::uint8_t* icmp, std::size_t size, const msghdr& message,
                                         const sockaddr_in& source) {
    std::optional<ParsedReply> parsed = parseIcmpReply(icmp, size);
    if (!parsed) {
        return std::nullopt;
    }
    parsed->reply.from = ntohl(source.sin_addr.s_addr);
    for (cmsghdr* control = CMSG_FIRSTHDR(&message); control != nullptr;
         control = CMSG_NXTHDR(const_cast<msghdr*>(&message), control)) {
        if (control->cmsg_level == IPPROTO_IP && control->cmsg_type == IP_TTL &&
            control->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(control), sizeof ttl);
            parsed->reply.ttl = static_cast<std::uint8_t>(ttl);
        }
    }
    return parsed;
}

EchoOutcome noAnswer() {
    EchoOutcome outcome;
    outcome.kind = EchoOutcome::Kind::NoAnswer;
    return outcome;
}

bool prepareSocket(int fd, SocketKind kind, int ttl) {
    if (::setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) {
        return false;
    }
    if (kind == SocketKind::Datagram) {
        constexpr int kEnable = 1;
        return ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &kEnable, sizeof kEnable) == 0;
    }
    return true;
}

bool sendRequest(int fd, Ipv4 destination, const EchoKey& key) {
    std::array<std::uint8_t, kIcmpHeaderSize> request{};
    request[kTypeOffset] = kEchoRequestType;
    writeBigEndian16(request.data() + kIdentifierOffset, key.identifier);
    writeBigEndian16(request.data() + kSequenceOffset, key.sequence);
    writeBigEndian16(request.data() + kChecksumOffset, internetChecksum(request.data(), request.size()));

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(destination);
    const ssize_t sent = ::sendto(fd, request.data(), request.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent == static_cast<ssize_t>(request.size());
}

struct Received {
    enum class Kind { OwnReply, Other, Failed };
    Kind kind = Kind::Other;
    EchoReply reply;
};

bool isTransient(int error) {
    return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

// Reads one packet. Anything but the reply to our request (someone else's
// reply, our own request seen on loopback, other ICMP) counts as Other and the
// caller goes on waiting.
Received receiveOne(int fd, SocketKind kind, const EchoKey& key, std::vector<std::uint8_t>& buffer) {
    Received result;
    iovec data{buffer.data(), buffer.size()};
    sockaddr_in source{};
    std::array<std::uint8_t, CMSG_SPACE(sizeof(int))> control{};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();

    const ssize_t received = ::recvmsg(fd, &message, MSG_DONTWAIT);
    if (received < 0) {
        if (!isTransient(errno)) {
            result.kind = Received::Kind::Failed;
        }
        return result;
    }
    const auto size = static_cast<std::size_t>(received);
    const std::optional<ParsedReply> parsed = kind == SocketKind::Raw
                                                  ? parseRawPacket(buffer.data(), size)
                                                  : parseDatagram(buffer.data(), size, message, source);
    if (!parsed || parsed->key.sequence != key.sequence) {
        return result;
    }
    // The kernel puts its own identifier into what a datagram socket sends and
    // delivers only replies that carry it, so only the raw socket checks it.
    if (kind == SocketKind::Raw && parsed->key.identifier != key.identifier) {
        return result;
    }
    result.kind = Received::Kind::OwnReply;
    result.reply = parsed->reply;
    return result;
}

EchoOutcome echoOn(int fd, SocketKind kind, Ipv4 destination, int ttl, int timeoutMs) {
    if (ttl < 1 || ttl > kMaxTtl || !prepareSocket(fd, kind, ttl)) {
        return noAnswer();
    }

    EchoKey key;
    key.identifier = static_cast<std::uint16_t>(QRandomGenerator::global()->bounded(0x10000));
    key.sequence = g_nextSequence.fetch_add(1, std::memory_order_relaxed);

    const Clock::time_point sentAt = Clock::now();
    const Clock::time_point deadline = sentAt + std::chrono::milliseconds(timeoutMs);
    if (!sendRequest(fd, destination, key)) {
        return noAnswer();
    }

    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            return noAnswer();
        }
        // Rounded up, so that the wait never ends just short of the deadline.
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(remaining.count()));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return noAnswer();
        }
        if (ready == 0) {
            continue;
        }
        const Received received = receiveOne(fd, kind, key, buffer);
        if (received.kind == Received::Kind::Failed) {
            return noAnswer();
        }
        if (received.kind == Received::Kind::OwnReply) {
            EchoOutcome outcome;
            outcome.kind = EchoOutcome::Kind::Reply;
            outcome.reply = received.reply;
            outcome.reply.roundTripMs = static_cast<std::uint32_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sentAt).count());
            return outcome;
        }
    }
}

class SystemIcmpService final : public IcmpService {
public:
    std::optional<Ipv4> resolveFirstIpv4(const QByteArray& hostName) override;
    EchoOutcome echo(Ipv4 destination, int ttl, int timeoutMs) override;
};

std::optional<Ipv4> SystemIcmpService::resolveFirstIpv4(const QByteArray& hostName) {
    // The name ends at its first zero byte, as any C text does.
    const char* name = hostName.constData();
    in_addr dotted{};
    if (::inet_aton(name, &dotted) != 0) {
        return ntohl(dotted.s_addr);
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One entry per address rather than one per socket type.
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return std::nullopt;
    }
    std::optional<Ipv4> first;
    if (found != nullptr && found->ai_family == AF_INET && found->ai_addrlen >= sizeof(sockaddr_in)) {
        sockaddr_in address{};
        std::memcpy(&address, found->ai_addr, sizeof address);
        first = ntohl(address.sin_addr.s_addr);
    }
    ::freeaddrinfo(found);
    return first;
}

EchoOutcome SystemIcmpService::echo(Ipv4 destination, int ttl, int timeoutMs) {
    // The datagram socket needs no privilege where the system allows it; the
    // raw one needs root or CAP_NET_RAW.
    const SocketFd datagram(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (datagram.get() >= 0) {
        return echoOn(datagram.get(), SocketKind::Datagram, destination, ttl, timeoutMs);
    }
    const SocketFd raw(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    const int rawError = errno;
    if (raw.get() >= 0) {
        return echoOn(raw.get(), SocketKind::Raw, destination, ttl, timeoutMs);
    }
    EchoOutcome outcome;
    outcome.kind = EchoOutcome::Kind::NotAvailable;
    outcome.reason = qt_error_string(rawError);
    return outcome;
}

} // namespace

std::unique_ptr<IcmpService> makeSystemIcmpService() {
    return std::make_unique<SystemIcmpService>();
}

} // namespace lumora::platform
