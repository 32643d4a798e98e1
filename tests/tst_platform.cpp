// The runtime layer: the event gate, the kernel timer, the socket control and
// the system ICMP layer against real sockets. ICMP cases that need a controlled
// network (a socket kind the machine does not allow, an address that never
// answers, names that must not reach a real name server) run in a helper
// process inside a network namespace of its own, so nothing is ever sent
// beyond this machine. The helper is this file built with
// LUMORA_ICMP_NETNS_HELPER.

#include "platform/icmp_service.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace {

// The helper's exit code when the namespace cannot be set up here.
constexpr int kSkipExitCode = 77;

std::string dotted(lumora::platform::Ipv4 address) {
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
           std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

} // namespace

#ifdef LUMORA_ICMP_NETNS_HELPER

#include "netns.h"

#include <arpa/inet.h>
#include <linux/capability.h>
#include <sys/syscall.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using testsupport::bringLoopbackUp;
using testsupport::writeProcFile;

int report(int exitCode, const std::string& text) {
    std::printf("%s\n", text.c_str());
    return exitCode;
}

bool dropNetRawCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
    data[CAP_TO_INDEX(CAP_NET_RAW)].permitted &= ~CAP_TO_MASK(CAP_NET_RAW);
    return ::syscall(SYS_capset, &header, data) == 0;
}

// echo <a.b.c.d> <timeoutMs> [datagram] [noraw] [mute]: prints
// "Reply <from> <bytes> <ttl>", "NoAnswer <elapsedMs>" or "NotAvailable <reason>".
int echo(int argc, char** argv) {
    in_addr destination{};
    if (argc < 4 || ::inet_aton(argv[2], &destination) == 0)
        return report(1, "usage: echo a.b.c.d timeoutMs [datagram] [noraw] [mute]");
    for (int i = 4; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "datagram" && !writeProcFile("/proc/sys/net/ipv4/ping_group_range", "0 2147483647"))
            return report(1, "cannot allow datagram ICMP sockets");
        if (option == "mute" && !writeProcFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"))
            return report(1, "cannot mute echo answers");
        if (option == "noraw" && !dropNetRawCapability())
            return report(1, "cannot drop CAP_NET_RAW");
    }
    const auto start = std::chrono::steady_clock::now();
    const lumora::platform::EchoOutcome outcome =
        lumora::platform::makeSystemIcmpService()->echo(ntohl(destination.s_addr), 255, std::atoi(argv[3]));
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    switch (outcome.kind) {
    case lumora::platform::EchoOutcome::Kind::Reply:
        return report(0, "Reply " + dotted(outcome.reply.from) + ' ' +
                             std::to_string(outcome.reply.dataSize) + ' ' +
                             std::to_string(outcome.reply.ttl));
    case lumora::platform::EchoOutcome::Kind::NoAnswer:
        return report(0, "NoAnswer " + std::to_string(elapsed.count()));
    case lumora::platform::EchoOutcome::Kind::NotAvailable:
        return report(0, "NotAvailable " + outcome.reason.toStdString());
    }
    return report(1, "unknown outcome");
}

} // namespace

// resolve <name>: prints "Resolved a.b.c.d" or "Unresolved"; echo: see above.
int main(int argc, char** argv) {
    if (::unshare(CLONE_NEWNET) != 0 || !bringLoopbackUp())
        return report(kSkipExitCode, std::string("no network namespace here: ") + std::strerror(errno));
    if (argc == 3 && std::string(argv[1]) == "resolve") {
        const auto address = lumora::platform::makeSystemIcmpService()->resolveFirstIpv4(QByteArray(argv[2]));
        return report(0, address ? "Resolved " + dotted(*address) : std::string("Unresolved"));
    }
    if (argc >= 2 && std::string(argv[1]) == "echo")
        return echo(argc, argv);
    return report(1, "usage: resolve <name> | echo <a.b.c.d> <timeoutMs> [options]");
}

#else

#include "platform/event_gate.h"
#include "platform/settings_store.h"
#include "platform/timer.h"
#include "platform/winsock.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <array>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr int kTimeoutMs = 2700;
constexpr int kNamespaceTimeoutMs = 800;
// Only a wait far beyond the time-out counts as a fault on a loaded machine.
constexpr int kGenerousSlackMs = 5000;
constexpr int kHelperRunLimitMs = 60000;
constexpr lumora::platform::Ipv4 kLoopback = 0x7F000001;
constexpr lumora::platform::Ipv4 kLoopback2 = 0x7F000002;

// The helper's exit code and the words of what it printed.
std::pair<int, QStringList> runHelper(const QStringList& arguments) {
    QProcess helper;
    helper.start(QStringLiteral(LUMORA_ICMP_NETNS_HELPER_PATH), arguments);
    const bool finished = helper.waitForFinished(kHelperRunLimitMs);
    const QString output = QString::fromLocal8Bit(helper.readAllStandardOutput()).trimmed();
    const bool exited = finished && helper.exitStatus() == QProcess::NormalExit;
    return {exited ? helper.exitCode() : -1, output.split(u' ')};
}

} // namespace

class tst_Platform : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void gateQueuesEventsWhileHandlerRuns();
    void zeroIntervalTimerNeverTicks();
    void reapplyingIntervalKeepsCadence();
    void ticksDueDuringHandlerAreDeliveredOnce();
    void lateTickKeepsPhase();
    void sendDataOnlyWhenConnected();
    void settingsStore();
    void concurrentEchoesSeeOwnReplies();
    void inNamespace_data();
    void inNamespace();
};

void tst_Platform::zeroIntervalTimerNeverTicks() {
    lumora::platform::EventGate gate;
    lumora::platform::Timer timer(gate, 0);
    int ticks = 0;
    timer.onTick = [&] { ++ticks; };
    timer.setEnabled(true);
    QTest::qWait(150);
    QCOMPARE(ticks, 0);
    // A positive interval makes the same timer tick; 0 stops it again.
    timer.setInterval(10);
    QTRY_VERIFY(ticks > 0);
    timer.setInterval(0);
    const int before = ticks;
    QTest::qWait(100);
    QCOMPARE(ticks, before);
}

void tst_Platform::reapplyingIntervalKeepsCadence() {
    lumora::platform::EventGate gate;
    lumora::platform::Timer timer(gate, 100);
    int ticks = 0;
    // Re-applying the unchanged interval on every tick, as repeated sending does.
    timer.onTick = [&] {
        ++ticks;
        timer.setInterval(100);
    };
    QElapsedTimer clock;
    clock.start();
    timer.setEnabled(true);
    // A restart on each re-apply would still tick; restarting from a fresh
    // setInterval every 30 ms must not (the count would never run out).
    QTimer poke;
    QObject::connect(&poke, &QTimer::timeout, &poke, [&] { timer.setInterval(100); });
    poke.start(30);
    QTRY_COMPARE_WITH_TIMEOUT(ticks, 5, 5000);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

void tst_Platform::ticksDueDuringHandlerAreDeliveredOnce() {
    lumora::platform::EventGate gate;
    lumora::platform::Timer timer(gate, 10);
    int ticks = 0;
    timer.onTick = [&] { ++ticks; };
    gate.deliver([&] {
        timer.setEnabled(true);
        // Like a modal box: the event loop runs, many ticks fall due.
        QTest::qWait(200);
        QCOMPARE(ticks, 0);
    });
    QCOMPARE(ticks, 1);
}

// A tick held up for more than two intervals must not shift every later
// tick: they stay on the interval's grid, counted from when it was armed.
// Shifted, they would sit half an interval off it; a busy machine delays
// each tick a little, far less than that.
void tst_Platform::lateTickKeepsPhase() {
    constexpr int kInterval = 100;
    lumora::platform::EventGate gate;
    lumora::platform::Timer timer(gate, kInterval);
    QElapsedTimer clock;
    QList<qint64> ticks;
    timer.onTick = [&] {
        ticks.append(clock.elapsed());
        if (ticks.size() == 1)
            QThread::msleep(2 * kInterval + kInterval / 2);
    };
    clock.start();
    timer.setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 8, 5000);
    timer.setEnabled(false);
    QList<qint64> offsets;
    for (qsizetype i = 3; i < ticks.size(); ++i)
        offsets.append(ticks[i] % kInterval);
    std::sort(offsets.begin(), offsets.end());
    const qint64 median = offsets[offsets.size() / 2];
    QVERIFY2(median < kInterval / 4, qPrintable(QStringLiteral("median offset %1 ms").arg(median)));
}

void tst_Platform::gateQueuesEventsWhileHandlerRuns() {
    lumora::platform::EventGate gate;
    QStringList order;
    gate.deliver([&] {
        order << QStringLiteral("a-begin");
        gate.deliver([&] { order << QStringLiteral("b"); });
        gate.deliver([&] { order << QStringLiteral("c"); });
        order << QStringLiteral("a-end");
    });
    QCOMPARE(order, (QStringList{QStringLiteral("a-begin"), QStringLiteral("a-end"), QStringLiteral("b"),
                                 QStringLiteral("c")}));
    gate.shutDown();
    gate.deliver([&] { order << QStringLiteral("late"); });
    QCOMPARE(order.size(), 4);
}

// A frame goes out only on a connected socket; a refusal says why.
void tst_Platform::sendDataOnlyWhenConnected() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    lumora::platform::EventGate gate;
    lumora::platform::Winsock winsock(gate);
    QVERIFY(!winsock.sendData("R"));
    QCOMPARE(winsock.errorString(), u"Socket is not connected"_s);

    winsock.setRemoteHost(u"127.0.0.1"_s);
    winsock.setRemotePort(server.serverPort());
    winsock.connectToHost();
    QTRY_COMPARE(winsock.state(), lumora::platform::Winsock::kStateConnected);
    QTRY_VERIFY(server.hasPendingConnections());
    QTcpSocket* peer = server.nextPendingConnection();
    QVERIFY(!winsock.sendData(QByteArray(lumora::platform::Winsock::kMaxUnsentBytes + 1, 'T')));
    QVERIFY2(winsock.errorString().contains(u"not taking data"_s), qPrintable(winsock.errorString()));
    QVERIFY2(winsock.sendData("R"), qPrintable(winsock.errorString()));
    QTRY_COMPARE(peer->bytesAvailable(), 1);
    QCOMPARE(peer->readAll(), QByteArray("R"));
}

// A store that cannot be read gives fallbacks and refuses saves, leaving the
// user's file as it is; a readable one keeps what is saved.
void tst_Platform::settingsStore() {
    lumora::platform::IniSettingsStore store;
    QVERIFY2(store.save(u"GoodApp"_s, u"S"_s, u"K"_s, u"v1"_s), qPrintable(store.errorString()));
    QVERIFY(store.isReadable(u"GoodApp"_s));
    QCOMPARE(store.read(u"GoodApp"_s, u"S"_s, u"K"_s, u"fallback"_s), u"v1"_s);
    QCOMPARE(store.read(u"GoodApp"_s, u"S"_s, u"L"_s, u"fallback"_s), u"fallback"_s);

    QFile damaged(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/DamagedApp.ini"_s);
    const QByteArray content("[S\nK = v0\n");
    QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(content) == content.size());
    damaged.close();
    QCOMPARE(store.read(u"DamagedApp"_s, u"S"_s, u"K"_s, u"fallback"_s), u"fallback"_s);
    QVERIFY(!store.isReadable(u"DamagedApp"_s));
    QCOMPARE(store.errorString(), u"unreadable settings file "_s + damaged.fileName());
    QVERIFY(!store.save(u"DamagedApp"_s, u"S"_s, u"K"_s, u"v1"_s));
    QCOMPARE(store.errorString(), u"unreadable settings file "_s + damaged.fileName() + u", left as it is"_s);
    QVERIFY(damaged.open(QIODevice::ReadOnly));
    QCOMPARE(damaged.readAll(), content);
}

// On a raw socket each thread sees the other's replies too; every echo must
// still return its own. A loopback echo takes microseconds, so only many of
// them make a stray reply land in the window between opening and sending.
// A thread held up on a loaded machine may find its socket's queue overrun by
// the other's packets and its reply dropped: silence is no fault here, a
// reply from the wrong address is.
void tst_Platform::concurrentEchoesSeeOwnReplies() {
    constexpr std::array<lumora::platform::Ipv4, 2> kDestinations{kLoopback, kLoopback2};
    constexpr int kEchoes = 1000;
    const auto service = lumora::platform::makeSystemIcmpService();
    std::array<QList<lumora::platform::EchoOutcome>, 2> outcomes;
    {
        std::array<std::jthread, 2> threads;
        for (std::size_t t = 0; t < threads.size(); ++t)
            threads[t] = std::jthread([&, t] {
                for (int i = 0; i < kEchoes; ++i)
                    outcomes[t].append(service->echo(kDestinations[t], 255, kTimeoutMs));
            });
    }
    for (std::size_t t = 0; t < outcomes.size(); ++t) {
        int replies = 0;
        for (const lumora::platform::EchoOutcome& outcome : outcomes[t]) {
            if (outcome.kind == lumora::platform::EchoOutcome::Kind::NotAvailable)
                QSKIP(qPrintable(u"no ICMP socket for this user: "_s + outcome.reason));
            if (outcome.kind != lumora::platform::EchoOutcome::Kind::Reply)
                continue;
            ++replies;
            QCOMPARE(QString::fromStdString(dotted(outcome.reply.from)),
                     QString::fromStdString(dotted(kDestinations[t])));
        }
        QVERIFY2(replies > kEchoes / 2, qPrintable(QString::number(replies)));
    }
}

// In a namespace of its own with loopback only: a lookup that falls through
// to a name server cannot leave the machine, and the echo cases choose which
// ICMP socket the system allows and whether loopback answers.
void tst_Platform::inNamespace_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("expected");
    const QString echo = u"echo 127.0.0.1 %1 "_s.arg(kNamespaceTimeoutMs);
    QTest::newRow("resolve localhost") << u"resolve localhost"_s << u"Resolved 127.0.0.1"_s;
    QTest::newRow("resolve 10.1.2.3") << u"resolve 10.1.2.3"_s << u"Resolved 10.1.2.3"_s;
    QTest::newRow("resolve no-such-host.invalid") << u"resolve no-such-host.invalid"_s << u"Unresolved"_s;
    QTest::newRow("127.0.0.1, raw socket") << echo << u"Reply 127.0.0.1 0"_s;
    QTest::newRow("silent 127.0.0.1, raw socket") << echo + u"mute"_s << u"NoAnswer"_s;
    QTest::newRow("127.0.0.1, datagram socket") << echo + u"datagram noraw"_s << u"Reply 127.0.0.1 0"_s;
    QTest::newRow("silent 127.0.0.1, datagram socket") << echo + u"mute datagram noraw"_s << u"NoAnswer"_s;
    QTest::newRow("neither socket allowed") << echo + u"noraw"_s << u"NotAvailable Operation not permitted"_s;
}

void tst_Platform::inNamespace() {
    QFETCH(QString, command);
    QFETCH(QString, expected);
    const auto [exitCode, fields] = runHelper(command.split(u' ', Qt::SkipEmptyParts));
    if (exitCode == kSkipExitCode)
        QSKIP(qPrintable(fields.join(u' ')));
    QVERIFY2(exitCode == 0, qPrintable(fields.join(u' ')));
    const QStringList expectedFields = expected.split(u' ');
    QCOMPARE(fields.mid(0, expectedFields.size()), expectedFields);
    if (fields.first() == u"Reply"_s)
        QVERIFY2(fields.value(3).toInt() > 0, "time to live");
    if (fields.first() == u"NoAnswer"_s) {
        const int elapsedMs = fields.value(1).toInt();
        QVERIFY2(elapsedMs >= kNamespaceTimeoutMs && elapsedMs < kNamespaceTimeoutMs + kGenerousSlackMs,
                 qPrintable(fields.value(1)));
    }
}

LUMORA_TEST_MAIN_CORE(tst_Platform)
#include "tst_platform.moc"

#endif
