// The system ICMP layer against real sockets. Cases that need a controlled
// network (a datagram socket the machine does not allow, an address that never
// answers, stray replies, names that must not reach a real name server) run in
// a helper process inside a network namespace of its own, so nothing is ever
// sent beyond this machine. The helper is this file built with
// LUMORA_ICMP_NETNS_HELPER.

#include "platform/icmp_service.h"

#include <QByteArray>
#include <QString>

namespace {

// The helper's exit code when the namespace cannot be set up here.
constexpr int kSkipExitCode = 77;
// The time to live of the helper's own answers, to tell them from the kernel's.
constexpr int kMirrorTtl = 77;

} // namespace

#ifdef LUMORA_ICMP_NETNS_HELPER

#include <arpa/inet.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kEchoRequestType = 8;
constexpr std::uint8_t kEchoReplyType = 0;
constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kMinIpHeaderSize = 20;
constexpr std::size_t kPacketBufferSize = 65536;
constexpr int kForgerExtraMs = 300;
constexpr std::uint16_t kOtherIdentifierBits = 0x5A5A;

struct Options {
    bool allowDatagram = false; // open ping_group_range to every group
    bool dropNetRaw = false;    // make the raw socket unavailable
    bool mute = false;          // the kernel stops answering echo requests
    bool mirror = false;        // the helper answers each request correctly
    bool forge = false;         // the helper answers each request with wrong ones
};

int fail(const std::string& why) {
    std::printf("ERROR %s\n", why.c_str());
    return 1;
}

int skip(const std::string& why) {
    std::printf("%s: %s\n", why.c_str(), std::strerror(errno));
    return kSkipExitCode;
}

class Fd {
public:
    explicit Fd(int fd)
        : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            static_cast<void>(::close(fd_));
        }
    }
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

bool bringLoopbackUp() {
    const Fd control(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (control.get() < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(control.get(), SIOCGIFFLAGS, &request) != 0) {
        return false;
    }
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    return ::ioctl(control.get(), SIOCSIFFLAGS, &request) == 0;
}

bool writeProcFile(const char* path, const char* value) {
    std::ofstream file(path);
    file << value << '\n';
    file.close();
    return !file.fail();
}

bool dropNetRawCapability() {
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
    if (::syscall(SYS_capget, &header, data.data()) != 0) {
        return false;
    }
    const auto index = CAP_TO_INDEX(CAP_NET_RAW);
    const auto mask = CAP_TO_MASK(CAP_NET_RAW);
    data[index].effective &= ~mask;
    data[index].permitted &= ~mask;
    return ::syscall(SYS_capset, &header, data.data()) == 0;
}

std::uint16_t checksum(const std::uint8_t* bytes, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        sum += static_cast<std::uint32_t>((bytes[i] << 8) | bytes[i + 1]);
    }
    if (size % 2 != 0) {
        sum += static_cast<std::uint32_t>(bytes[size - 1] << 8);
    }
    while ((sum >> 16) != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

bool sendEchoReply(int fd, const sockaddr_in& to, std::uint16_t identifier, std::uint16_t sequence,
                   bool spoilChecksum) {
    std::array<std::uint8_t, kIcmpHeaderSize> reply{};
    reply[0] = kEchoReplyType;
    reply[4] = static_cast<std::uint8_t>(identifier >> 8);
    reply[5] = static_cast<std::uint8_t>(identifier & 0xFF);
    reply[6] = static_cast<std::uint8_t>(sequence >> 8);
    reply[7] = static_cast<std::uint8_t>(sequence & 0xFF);
    std::uint16_t sum = checksum(reply.data(), reply.size());
    if (spoilChecksum) {
        sum = static_cast<std::uint16_t>(sum ^ 0x0101);
    }
    reply[2] = static_cast<std::uint8_t>(sum >> 8);
    reply[3] = static_cast<std::uint8_t>(sum & 0xFF);
    return ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(reply.size());
}

// Watches the namespace's ICMP traffic and answers every echo request it sees:
// correctly when mirroring, otherwise with replies that differ from the right
// one in exactly one respect each.
void answerRequests(int fd, bool mirror, Clock::time_point until, std::atomic<int>& sent) {
    std::vector<std::uint8_t> packet(kPacketBufferSize);
    for (Clock::time_point now = Clock::now(); now < until; now = Clock::now()) {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        pollfd watched{fd, POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(remaining.count())) <= 0) {
            continue;
        }
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t size = ::recvfrom(fd, packet.data(), packet.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size < static_cast<ssize_t>(kMinIpHeaderSize + kIcmpHeaderSize)) {
            continue;
        }
        const std::size_t headerSize = (packet[0] & 0x0F) * std::size_t{4};
        const std::uint8_t* icmp = packet.data() + headerSize;
        if (static_cast<std::size_t>(size) < headerSize + kIcmpHeaderSize || icmp[0] != kEchoRequestType) {
            continue;
        }
        const auto identifier = static_cast<std::uint16_t>((icmp[4] << 8) | icmp[5]);
        const auto sequence = static_cast<std::uint16_t>((icmp[6] << 8) | icmp[7]);
        if (mirror) {
            sent += sendEchoReply(fd, from, identifier, sequence, false) ? 1 : 0;
            continue;
        }
        sent += sendEchoReply(fd, from, identifier, static_cast<std::uint16_t>(sequence + 1), false) ? 1 : 0;
        sent += sendEchoReply(fd, from, static_cast<std::uint16_t>(identifier ^ kOtherIdentifierBits),
                              sequence, false)
                    ? 1
                    : 0;
        sent += sendEchoReply(fd, from, identifier, sequence, true) ? 1 : 0;
    }
}

std::string dotted(platform::Ipv4 address) {
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
           std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

int enterNamespace() {
    if (::unshare(CLONE_NEWNET) != 0) {
        return skip("cannot create a network namespace");
    }
    if (!bringLoopbackUp()) {
        return skip("cannot bring up loopback in the namespace");
    }
    return 0;
}

// resolve <name>: prints "Resolved a.b.c.d" or "Unresolved".
int resolveInNamespace(const char* name) {
    const std::optional<platform::Ipv4> address =
        platform::makeSystemIcmpService()->resolveFirstIpv4(QByteArray(name));
    if (address) {
        std::printf("Resolved %s\n", dotted(*address).c_str());
    } else {
        std::printf("Unresolved\n");
    }
    return 0;
}

// echo <a.b.c.d> <timeoutMs> [datagram] [noraw] [mute] [mirror] [forge]:
// prints "Reply <from> <bytes> <ttl> <rtt> <elapsed> <sent>",
// "NoAnswer <elapsed> <sent>" or "NotAvailable <reason>".
int echoInNamespace(int argc, char** argv) {
    in_addr destination{};
    if (argc < 4 || ::inet_aton(argv[2], &destination) == 0) {
        return fail("usage: echo a.b.c.d timeoutMs [options]");
    }
    const int timeoutMs = std::atoi(argv[3]);
    Options options;
    for (int i = 4; i < argc; ++i) {
        const std::string option = argv[i];
        options.allowDatagram = options.allowDatagram || option == "datagram";
        options.dropNetRaw = options.dropNetRaw || option == "noraw";
        options.mute = options.mute || option == "mute";
        options.mirror = options.mirror || option == "mirror";
        options.forge = options.forge || option == "forge";
    }

    if (options.allowDatagram && !writeProcFile("/proc/sys/net/ipv4/ping_group_range", "0 2147483647")) {
        return fail("cannot open ping_group_range in the namespace");
    }
    if (options.mute && !writeProcFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1")) {
        return fail("cannot mute echo answers in the namespace");
    }

    const bool answering = options.mirror || options.forge;
    const Fd answerer(answering ? ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP) : -1);
    if (answering && answerer.get() < 0) {
        return skip("cannot open a raw socket to answer requests");
    }
    if (answering && ::setsockopt(answerer.get(), IPPROTO_IP, IP_TTL, &kMirrorTtl, sizeof kMirrorTtl) != 0) {
        return fail("cannot set the answer's time to live");
    }

    if (options.dropNetRaw) {
        if (!dropNetRawCapability()) {
            return fail("cannot drop CAP_NET_RAW");
        }
        const Fd probe(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
        if (probe.get() >= 0) {
            return fail("a raw socket still opens without CAP_NET_RAW");
        }
    }

    std::atomic<int> sent{0};
    std::thread answerThread;
    if (answering) {
        const Clock::time_point until =
            Clock::now() + std::chrono::milliseconds(timeoutMs) + std::chrono::milliseconds(kForgerExtraMs);
        answerThread = std::thread(answerRequests, answerer.get(), options.mirror, until, std::ref(sent));
    }

    const auto service = platform::makeSystemIcmpService();
    const Clock::time_point start = Clock::now();
    const platform::EchoOutcome outcome = service->echo(ntohl(destination.s_addr), 255, timeoutMs);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (answerThread.joinable()) {
        answerThread.join();
    }

    switch (outcome.kind) {
    case platform::EchoOutcome::Kind::Reply:
        std::printf("Reply %s %u %u %u %lld %d\n", dotted(outcome.reply.from).c_str(),
                    unsigned{outcome.reply.dataSize}, unsigned{outcome.reply.ttl}, outcome.reply.roundTripMs,
                    static_cast<long long>(elapsed), sent.load());
        break;
    case platform::EchoOutcome::Kind::NoAnswer:
        std::printf("NoAnswer %lld %d\n", static_cast<long long>(elapsed), sent.load());
        break;
    case platform::EchoOutcome::Kind::NotAvailable:
        std::printf("NotAvailable %s\n", outcome.reason.toLocal8Bit().constData());
        break;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return fail("usage: resolve <name> | echo <a.b.c.d> <timeoutMs> [options]");
    }
    const int entered = enterNamespace();
    if (entered != 0) {
        return entered;
    }
    const std::string command = argv[1];
    if (command == "resolve" && argc == 3) {
        return resolveInNamespace(argv[2]);
    }
    if (command == "echo") {
        return echoInNamespace(argc, argv);
    }
    return fail("unknown command " + command);
}

#else

#include "testsupport.h"

#include <QProcess>
#include <QtTest>

#include <array>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int kDocumentTimeoutMs = 2700;
constexpr int kNamespaceTimeoutMs = 800;
// Allowance for a loaded machine on top of a time-out; only a wait far beyond
// the time-out counts as a fault.
constexpr int kGenerousSlackMs = 5000;
constexpr int kHelperRunLimitMs = 60000;
constexpr platform::Ipv4 kLoopback = 0x7F000001;

// What the helper printed, split at blanks; empty with skipReason set when the
// namespace could not be made.
struct HelperRun {
    QStringList fields;
    QString skipReason;
    QString failure;
};

HelperRun runHelper(const QStringList& arguments) {
    HelperRun run;
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(QStringLiteral(LUMORA_ICMP_NETNS_HELPER_PATH), arguments);
    if (!helper.waitForFinished(kHelperRunLimitMs)) {
        helper.kill();
        helper.waitForFinished();
        run.failure = QStringLiteral("helper did not finish: ") + helper.errorString();
        return run;
    }
    const QString output = QString::fromLocal8Bit(helper.readAllStandardOutput()).trimmed();
    if (helper.exitStatus() != QProcess::NormalExit) {
        run.failure = QStringLiteral("helper crashed");
    } else if (helper.exitCode() == kSkipExitCode) {
        run.skipReason = output;
    } else if (helper.exitCode() != 0) {
        run.failure = output;
    } else {
        run.fields = output.split(u' ');
    }
    return run;
}

QString dotted(platform::Ipv4 address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

} // namespace

#define RUN_HELPER(run, arguments)                                                                           \
    const HelperRun run = runHelper(arguments);                                                              \
    if (!run.skipReason.isEmpty())                                                                           \
        QSKIP(qPrintable(run.skipReason));                                                                   \
    QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure))

class TestIcmp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void resolveDotted_data();
    void resolveDotted();
    void resolveName_data();
    void resolveName();
    void loopbackReply_data();
    void loopbackReply();
    void concurrentEchoes();
    void namespaceReply_data();
    void namespaceReply();
    void namespaceNoAnswer_data();
    void namespaceNoAnswer();
    void namespaceNotAvailable_data();
    void namespaceNotAvailable();
};

void TestIcmp::resolveDotted_data() {
    QTest::addColumn<QByteArray>("hostName");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("127.0.0.1") << QByteArray("127.0.0.1") << quint32{kLoopback};
    QTest::newRow("10.1.2.3") << QByteArray("10.1.2.3") << quint32{0x0A010203};
    QTest::newRow("192.1.1.110") << QByteArray("192.1.1.110") << quint32{0xC001016E};
    QTest::newRow("255.255.255.255") << QByteArray("255.255.255.255") << quint32{0xFFFFFFFF};
    QTest::newRow("0.0.0.0") << QByteArray("0.0.0.0") << quint32{0};
}

// Dotted addresses never go to a name server, so they are safe on the host.
void TestIcmp::resolveDotted() {
    QFETCH(QByteArray, hostName);
    QFETCH(quint32, expected);

    const std::optional<platform::Ipv4> address =
        platform::makeSystemIcmpService()->resolveFirstIpv4(hostName);
    QVERIFY(address.has_value());
    QCOMPARE(*address, expected);
}

void TestIcmp::resolveName_data() {
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("expected");

    QTest::newRow("localhost") << QStringLiteral("localhost") << QStringLiteral("Resolved 127.0.0.1");
    QTest::newRow("no-such-host.invalid")
        << QStringLiteral("no-such-host.invalid") << QStringLiteral("Unresolved");
    QTest::newRow("10.1.2.3") << QStringLiteral("10.1.2.3") << QStringLiteral("Resolved 10.1.2.3");
}

// Names are resolved inside a namespace with loopback only, so a lookup that
// falls through to a name server cannot leave the machine.
void TestIcmp::resolveName() {
    QFETCH(QString, hostName);
    QFETCH(QString, expected);

    RUN_HELPER(run, (QStringList{QStringLiteral("resolve"), hostName}));
    QCOMPARE(run.fields.join(u' '), expected);
}

void TestIcmp::loopbackReply_data() {
    QTest::addColumn<quint32>("destination");

    QTest::newRow("127.0.0.1") << quint32{kLoopback};
    QTest::newRow("127.0.0.2") << quint32{0x7F000002};
}

void TestIcmp::loopbackReply() {
    QFETCH(quint32, destination);

    const platform::EchoOutcome outcome =
        platform::makeSystemIcmpService()->echo(destination, 255, kDocumentTimeoutMs);
    if (outcome.kind == platform::EchoOutcome::Kind::NotAvailable) {
        QSKIP(qPrintable(QStringLiteral("no ICMP socket for this user: ") + outcome.reason));
    }
    QCOMPARE(outcome.kind, platform::EchoOutcome::Kind::Reply);
    QCOMPARE(dotted(outcome.reply.from), dotted(destination));
    QCOMPARE(outcome.reply.dataSize, quint16{0});
    QVERIFY(outcome.reply.ttl > 0);
    QVERIFY(outcome.reply.roundTripMs < quint32{kDocumentTimeoutMs});
}

// Two threads ping two loopback addresses at the same time. On a raw socket
// each sees the other's replies too; every echo must still return its own.
void TestIcmp::concurrentEchoes() {
    constexpr int kEchoesPerThread = 5;
    constexpr std::array<platform::Ipv4, 2> kDestinations{kLoopback, 0x7F000002};

    const auto service = platform::makeSystemIcmpService();
    std::array<std::vector<platform::EchoOutcome>, kDestinations.size()> outcomes;
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kDestinations.size(); ++t) {
        threads.emplace_back([&service, &outcomes, t, destination = kDestinations[t]] {
            for (int i = 0; i < kEchoesPerThread; ++i) {
                outcomes[t].push_back(service->echo(destination, 255, kDocumentTimeoutMs));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    for (std::size_t t = 0; t < kDestinations.size(); ++t) {
        QCOMPARE(outcomes[t].size(), std::size_t{kEchoesPerThread});
        for (const platform::EchoOutcome& outcome : outcomes[t]) {
            if (outcome.kind == platform::EchoOutcome::Kind::NotAvailable) {
                QSKIP(qPrintable(QStringLiteral("no ICMP socket for this user: ") + outcome.reason));
            }
            QCOMPARE(outcome.kind, platform::EchoOutcome::Kind::Reply);
            QCOMPARE(dotted(outcome.reply.from), dotted(kDestinations[t]));
        }
    }
}

void TestIcmp::namespaceReply_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("expectedTtl"); // 0: any time to live above 0

    QTest::newRow("127.0.0.1 on a raw socket") << QStringList{} << 0;
    QTest::newRow("127.0.0.1 on a datagram socket")
        << QStringList{QStringLiteral("datagram"), QStringLiteral("noraw")} << 0;
    QTest::newRow("helper's answer with TTL 77 on a raw socket")
        << QStringList{QStringLiteral("mute"), QStringLiteral("mirror")} << kMirrorTtl;
    QTest::newRow("helper's answer with TTL 77 on a datagram socket")
        << QStringList{QStringLiteral("mute"), QStringLiteral("mirror"), QStringLiteral("datagram"),
                       QStringLiteral("noraw")}
        << kMirrorTtl;
}

void TestIcmp::namespaceReply() {
    QFETCH(QStringList, options);
    QFETCH(int, expectedTtl);

    const QStringList arguments = QStringList{QStringLiteral("echo"), QStringLiteral("127.0.0.1"),
                                              QString::number(kDocumentTimeoutMs)} +
                                  options;
    RUN_HELPER(run, arguments);
    QCOMPARE(run.fields.value(0), QStringLiteral("Reply"));
    QCOMPARE(run.fields.size(), 7);
    QCOMPARE(run.fields.at(1), QStringLiteral("127.0.0.1"));
    QCOMPARE(run.fields.at(2), QStringLiteral("0"));
    const int ttl = run.fields.at(3).toInt();
    if (expectedTtl == 0) {
        QVERIFY2(ttl > 0, qPrintable(run.fields.at(3)));
    } else {
        QCOMPARE(ttl, expectedTtl);
    }
    QVERIFY(run.fields.at(4).toInt() < kDocumentTimeoutMs);
}

void TestIcmp::namespaceNoAnswer_data() {
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("waitsFullTimeout");
    QTest::addColumn<bool>("strayReplies");

    const QStringList datagram{QStringLiteral("datagram"), QStringLiteral("noraw")};
    const QStringList mute{QStringLiteral("mute")};
    const QStringList stray{QStringLiteral("mute"), QStringLiteral("forge")};

    QTest::newRow("silent 127.0.0.1 on a raw socket") << QStringLiteral("127.0.0.1") << mute << true << false;
    QTest::newRow("silent 127.0.0.1 on a datagram socket")
        << QStringLiteral("127.0.0.1") << mute + datagram << true << false;
    QTest::newRow("wrong replies from 127.0.0.1 on a raw socket")
        << QStringLiteral("127.0.0.1") << stray << true << true;
    QTest::newRow("wrong replies from 127.0.0.1 on a datagram socket")
        << QStringLiteral("127.0.0.1") << stray + datagram << true << true;
    QTest::newRow("unrouted 10.200.0.1 on a raw socket")
        << QStringLiteral("10.200.0.1") << QStringList{} << false << false;
    QTest::newRow("unrouted 10.200.0.1 on a datagram socket")
        << QStringLiteral("10.200.0.1") << datagram << false << false;
}

void TestIcmp::namespaceNoAnswer() {
    QFETCH(QString, destination);
    QFETCH(QStringList, options);
    QFETCH(bool, waitsFullTimeout);
    QFETCH(bool, strayReplies);

    const QStringList arguments =
        QStringList{QStringLiteral("echo"), destination, QString::number(kNamespaceTimeoutMs)} + options;
    RUN_HELPER(run, arguments);
    QCOMPARE(run.fields.value(0), QStringLiteral("NoAnswer"));
    QCOMPARE(run.fields.size(), 3);
    const int elapsedMs = run.fields.at(1).toInt();
    if (waitsFullTimeout) {
        QVERIFY2(elapsedMs >= kNamespaceTimeoutMs, qPrintable(run.fields.at(1)));
    }
    QVERIFY2(elapsedMs < kNamespaceTimeoutMs + kGenerousSlackMs, qPrintable(run.fields.at(1)));
    if (strayReplies) {
        QVERIFY2(run.fields.at(2).toInt() > 0, "the helper sent no stray replies");
    }
}

void TestIcmp::namespaceNotAvailable_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no raw socket, no datagram socket")
        << QStringList{QStringLiteral("noraw")} << QStringLiteral("NotAvailable Operation not permitted");
}

void TestIcmp::namespaceNotAvailable() {
    QFETCH(QStringList, options);
    QFETCH(QString, expected);

    const QStringList arguments = QStringList{QStringLiteral("echo"), QStringLiteral("127.0.0.1"),
                                              QString::number(kNamespaceTimeoutMs)} +
                                  options;
    RUN_HELPER(run, arguments);
    QCOMPARE(run.fields.join(u' '), expected);
}

LUMORA_TEST_MAIN_CORE(TestIcmp)
#include "tst_icmp.moc"

#endif
