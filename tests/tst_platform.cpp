// SPDX-License-Identifier: GPL-3.0-or-later
// The runtime layer on real timers and sockets; ICMP cases run in namespaces of their own, unheard outside.

#include "loopbackpeer.h"
#include "netns.h"
#include "platform/epoll_dispatcher.h"
#include "platform/event_gate.h"
#include "platform/icmp_service.h"
#include "platform/timer.h"
#include "platform/unit_connection.h"
#include "platform/unit_session.h"
#include "testsupport.h"

#include <QSocketNotifier>
#include <QTcpServer>
#include <QtTest>

#include <linux/capability.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <memory>
#include <thread>

using namespace lumora::platform;
using namespace Qt::StringLiterals;
using Kind = EchoOutcome::Kind;
using testsupport::columns;

Q_DECLARE_METATYPE(Kind)

namespace {

constexpr int kNamespaceTimeoutMs = 800;
// Only a wait far beyond the time-out counts as a fault on a loaded machine.
constexpr int kGenerousSlackMs = 5000;
constexpr Ipv4 kLoopback = 0x7F000001;
constexpr qsizetype kStatusReplyBytes = 112;

bool dropNetRawCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
    data[CAP_TO_INDEX(CAP_NET_RAW)].permitted &= ~CAP_TO_MASK(CAP_NET_RAW);
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Runs call in a thread and namespace of its own, loopback up; gives why that failed, or nothing. "datagram"
// allows datagram ICMP sockets, "noraw" drops the right to a raw one, "mute" keeps loopback from answering.
QString inOwnNamespace(const QStringList& options, const std::function<void()>& call) {
    QString failure;
    std::jthread([&] {
        if (::unshare(CLONE_NEWNET) != 0 || !testsupport::bringLoopbackUp())
            failure = u"no network namespace here: "_s + qt_error_string(errno);
        else if (options.contains(u"datagram"_s) &&
                 !testsupport::writeProcFile("/proc/sys/net/ipv4/ping_group_range", "0 2147483647"))
            failure = u"cannot allow datagram ICMP sockets"_s;
        else if (options.contains(u"mute"_s) &&
                 !testsupport::writeProcFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"))
            failure = u"cannot mute echo answers"_s;
        else if (options.contains(u"noraw"_s) && !dropNetRawCapability())
            failure = u"cannot drop CAP_NET_RAW"_s;
        else
            call();
    }).join();
    return failure;
}

// A unit connection, a loopback peer, and what the connection said, in order.
struct PeerLink {
    QTcpServer server;
    UnitConnection connection;
    QTcpSocket* peer = nullptr;
    QStringList said;
    QByteArray taken;
    PeerLink() {
        QObject::connect(&connection, &UnitConnection::closed, &connection,
                         [this](const QString&) { said << u"closed"_s; });
        QObject::connect(&connection, &UnitConnection::errorOccurred, &connection,
                         [this] { said << u"failed: "_s + connection.errorString(); });
    }
    bool open() {
        if (!server.listen(QHostAddress::LocalHost))
            return false;
        connection.open(u"127.0.0.1"_s, server.serverPort());
        if (!QTest::qWaitFor([&] { return server.hasPendingConnections(); }) ||
            !QTest::qWaitFor([&] { return connection.state() == UnitConnection::State::Connected; }))
            return false;
        peer = server.nextPendingConnection();
        return true;
    }
    // Takes the bytes as they come, and what came with the close.
    void takeAsTheyCome() {
        const auto take = [this] { taken += connection.takeArrived(); };
        QObject::connect(&connection, &UnitConnection::bytesArrived, &connection, take);
        QObject::connect(&connection, &UnitConnection::closed, &connection, take);
    }
};

// The descriptor of this process's socket whose far end is the peer.
int descriptorLinkedTo(const QTcpSocket& peer) {
    for (const QString& entry : QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System)) {
        const int fd = entry.toInt();
        sockaddr_in local{};
        socklen_t size = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0 &&
            local.sin_family == AF_INET && ntohs(local.sin_port) == peer.peerPort())
            return fd;
    }
    return -1;
}

struct CountingTimer {
    EventGate gate;
    Timer timer;
    int ticks = 0;
    explicit CountingTimer(int intervalMs)
        : timer(gate, intervalMs) {
        QObject::connect(&timer, &Timer::tick, &timer, [this] { ++ticks; });
    }
};

// One situation of the command line's event loop, which runs this suite; gives what happened, in order.
QString loopScenario(const QString& name) {
    std::vector<int> fds;
    QStringList log;
    {
        QEventLoop loop;
        const auto after = [&](int ms, const std::function<void()>& call) {
            QTimer::singleShot(ms, Qt::PreciseTimer, &loop, call);
        };
        // A socket with a byte waiting; its notifier reads one a round, and says so if there was none.
        const auto readable = [&](const QString& label) {
            int pair[2];
            if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0 || ::write(pair[1], "x", 1) != 1)
                log << u"no socket"_s;
            fds.insert(fds.end(), {pair[0], pair[1]});
            auto* notifier = new QSocketNotifier(pair[0], QSocketNotifier::Read, &loop);
            QObject::connect(notifier, &QSocketNotifier::activated, &loop, [&log, label, fd = pair[0]] {
                char byte = 0;
                log << (::read(fd, &byte, 1) == 1 ? label : label + u" again"_s);
            });
            return QPointer<QSocketNotifier>(notifier);
        };
        std::jthread poster;
        QTimer repeat;
        int ticks = 0;
        QObject::connect(&repeat, &QTimer::timeout, &loop, [&] {
            log << u"tick"_s;
            if (++ticks == 3)
                repeat.stop();
        });
        if (name == u"order") {
            for (const int ms : {30, 10, 20})
                after(ms, [&log, ms] { log << QString::number(ms); });
            QTimer stopped;
            stopped.start(5);
            stopped.stop();
            QThread::msleep(40); // all due in one round
        } else if (name == u"repeat" || name == u"zero") {
            repeat.start(name == u"zero" ? 0 : 1);
            QMetaObject::invokeMethod(&loop, [&] { log << u"posted"_s; }, Qt::QueuedConnection);
        } else if (name == u"notifiers") {
            readable(u"a"_s);
            readable(u"b"_s);
            auto* writable = new QSocketNotifier(fds.at(fds.size() - 2), QSocketNotifier::Write, &loop); // b's, too
            QObject::connect(writable, &QSocketNotifier::activated, &loop, [&log, writable] {
                log << u"w"_s;
                writable->setEnabled(false);
            });
        } else if (name == u"delete") {
            const QPointer<QSocketNotifier> a = readable(u"a"_s);
            const QPointer<QSocketNotifier> b = readable(u"b"_s);
            QObject::connect(a, &QSocketNotifier::activated, &loop, [b] { delete b; });
            QObject::connect(b, &QSocketNotifier::activated, &loop, [a] { delete a; });
        } else if (name == u"reuse") {
            const QPointer<QSocketNotifier> a = readable(u"a"_s);
            after(5, [&, a] {
                delete a;
                for (const int fd : fds)
                    ::close(fd);
                fds.clear();
                // Most likely the numbers just closed, which the kernel forgot with them.
                const QPointer<QSocketNotifier> b = readable(u"b"_s);
                QObject::connect(b, &QSocketNotifier::activated, &loop, [&, b] {
                    b->setEnabled(false);
                    if (log.size() == 2 && ::write(fds.back(), "x", 1) == 1)
                        b->setEnabled(true);
                });
            });
        } else if (name == u"thread") {
            // Posted while the loop waits, so only the wake-up brings it in.
            poster = std::jthread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                QMetaObject::invokeMethod(&loop, [&] { log << u"from thread"_s; loop.quit(); }, Qt::QueuedConnection);
            });
        } else if (name == u"nested") {
            repeat.start(5);
            QObject::connect(&repeat, &QTimer::timeout, &loop, [&] {
                if (ticks != 1)
                    return;
                readable(u"read"_s);
                QEventLoop inner;
                QTimer::singleShot(30, &inner, [&] { log << u"inner done"_s; inner.quit(); });
                inner.exec();
            });
        } else if (name == u"exit") {
            after(5, [] { QCoreApplication::exit(3); });
            log << QString::number(QCoreApplication::exec());
        }
        after(name == u"thread" ? 5000 : 200, [&] { loop.quit(); });
        if (name != u"exit")
            loop.exec();
    }
    for (const int fd : fds)
        ::close(fd);
    return log.join(u' ');
}

} // namespace

class tst_Platform : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The command line's event loop: timers in deadline order, re-armed and stopped, posted events, ready
    // sockets each activated once a round, a notifier deleted or re-made meanwhile, a wake-up from another
    // thread, a handler's nested loop (its own timer not re-entered) and an exit from a slot.
    void eventLoop_data() {
        columns<QString, QString>("scenario", "happened");
        QTest::newRow("order") << u"order"_s << u"10 20 30"_s;
        QTest::newRow("repeat") << u"repeat"_s << u"posted tick tick tick"_s;
        QTest::newRow("zero") << u"zero"_s << u"posted tick tick tick"_s;
        QTest::newRow("notifiers") << u"notifiers"_s << u"a b w"_s;
        QTest::newRow("delete") << u"delete"_s << u"a"_s;
        QTest::newRow("reuse") << u"reuse"_s << u"a b b"_s;
        QTest::newRow("thread") << u"thread"_s << u"from thread"_s;
        QTest::newRow("nested") << u"nested"_s << u"tick read inner done tick tick"_s;
        QTest::newRow("exit") << u"exit"_s << u"3"_s;
    }
    void eventLoop() {
        QFETCH(QString, scenario);
        QFETCH(QString, happened);
        QVERIFY(qobject_cast<EpollDispatcher*>(QAbstractEventDispatcher::instance()));
        QCOMPARE(loopScenario(scenario), happened);
    }
    // Events raised while a handler runs wait for it, in order; after shut-down none run.
    void gateQueuesEventsWhileHandlerRuns() {
        EventGate gate;
        QStringList order;
        gate.deliver([&] {
            order << u"a-begin"_s;
            gate.deliver([&] { order << u"b"_s; });
            gate.deliver([&] { order << u"c"_s; });
            order << u"a-end"_s;
        });
        QCOMPARE(order, (QStringList{u"a-begin"_s, u"a-end"_s, u"b"_s, u"c"_s}));
        gate.shutDown();
        gate.deliver([&] { order << u"late"_s; });
        QCOMPARE(order.size(), 4);
    }
    // Unlike QTimer's, an interval of 0 never ticks; a positive one does, and 0 stops it again. Repeated
    // sending re-applies the unchanged interval all the time: a restart would starve the count.
    void timerRules() {
        CountingTimer counting(0);
        counting.timer.setEnabled(true);
        QTest::qWait(150);
        QCOMPARE(counting.ticks, 0);
        QTimer poke;
        QObject::connect(&poke, &QTimer::timeout, &poke, [&] { counting.timer.setInterval(100); });
        poke.start(30);
        QTRY_VERIFY_WITH_TIMEOUT(counting.ticks >= 5, 2000);
        poke.stop();
        counting.timer.setInterval(0);
        const int before = counting.ticks;
        QTest::qWait(150);
        QCOMPARE(counting.ticks, before);
        // Ticks due while a handler runs, like a modal box's event loop, come once it ends, as one.
        counting.gate.deliver([&] {
            counting.timer.setInterval(10);
            QTest::qWait(200);
            QCOMPARE(counting.ticks, before);
        });
        QCOMPARE(counting.ticks, before + 1);
    }
    // A tick held up for over two intervals leaves later ticks on the grid counted from arming; shifted, they
    // would sit half an interval off it, far more than a busy machine delays each one.
    void lateTickKeepsPhase() {
        constexpr int kInterval = 100;
        EventGate gate;
        Timer timer(gate, kInterval);
        QElapsedTimer clock;
        QList<qint64> ticks;
        QObject::connect(&timer, &Timer::tick, &timer, [&] {
            ticks.append(clock.elapsed());
            if (ticks.size() == 1)
                QThread::msleep(2 * kInterval + kInterval / 2);
        });
        clock.start();
        timer.setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 8, 5000);
        timer.setEnabled(false);
        QList<qint64> offsets;
        for (qsizetype i = 3; i < ticks.size(); ++i)
            offsets.append(ticks[i] % kInterval);
        std::sort(offsets.begin(), offsets.end());
        const qint64 median = offsets[offsets.size() / 2];
        QVERIFY2(median < kInterval / 4, qPrintable(u"median offset %1 ms"_s.arg(median)));
    }
    // Keep-alive probes end an idle connection to a vanished unit, the user timeout one with data in flight,
    // both within about 20 s.
    void silentPeerWatchIsOnForConnectedSocket() {
        PeerLink link;
        QVERIFY(link.open());
        const int fd = descriptorLinkedTo(*link.peer);
        QVERIFY(fd >= 0);
        const auto option = [fd](int level, int name) {
            int value = -1;
            socklen_t size = sizeof value;
            return ::getsockopt(fd, level, name, &value, &size) == 0 ? value : -1;
        };
        QCOMPARE(option(SOL_SOCKET, SO_KEEPALIVE), 1);
        QCOMPARE(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 20000);
        const int idle = option(IPPROTO_TCP, TCP_KEEPIDLE);
        const int interval = option(IPPROTO_TCP, TCP_KEEPINTVL);
        const int probes = option(IPPROTO_TCP, TCP_KEEPCNT);
        QVERIFY2(idle > 0 && interval > 0 && probes > 0 && idle + interval * probes <= 20,
                 qPrintable(u"idle %1 s, then %2 probes %3 s apart"_s.arg(idle).arg(probes).arg(interval)));
    }
    // A unit that stops reading: the system's buffers fill, then the backlog reaches its bound and further
    // sends are refused, each saying why, instead of queueing without end.
    void peerThatNeverReadsRefusesSends() {
        PeerLink link;
        QVERIFY(link.open());
        link.peer->setReadBufferSize(1);
        const QByteArray chunk(4096, 'T');
        qint64 handed = 0;
        while (handed < (qint64{64} << 20) && link.connection.send(chunk)) {
            handed += chunk.size();
            QCoreApplication::processEvents();
        }
        QCOMPARE(link.connection.error(), UnitConnection::Error::BacklogError);
        QVERIFY2(link.connection.errorString().endsWith(u"bytes still unsent: the unit is not taking data"_s),
                 qPrintable(link.connection.errorString()));
        QVERIFY2(link.connection.unsentBytes() <= qint64{64} * 1024,
                 qPrintable(QString::number(link.connection.unsentBytes())));
        QVERIFY(!link.connection.send(chunk));
        QVERIFY(link.said.isEmpty());
    }
    // Until taken, a flood waits in the peer, held back by TCP; whatever the peer did before closing is there
    // to be taken once the close is said, and nothing follows the close.
    void peerMisbehaves_data() {
        // end: the peer's "close" or "reset" after writing, "" none; holdMs: nothing taken for so long first
        columns<qint64, QString, int>("bytes", "end", "holdMs");
        QTest::newRow("closes mid-reply") << qint64{50} << u"close"_s << 0;
        QTest::newRow("closes mid-reply while nothing is taken") << qint64{50} << u"close"_s << 300;
        QTest::newRow("vanishes mid-reply, unread bytes behind it") << qint64{50} << u"reset"_s << 0;
        QTest::newRow("floods while nothing is taken") << qint64{32 << 20} << QString() << 1000;
    }
    void peerMisbehaves() {
        QFETCH(qint64, bytes);
        QFETCH(QString, end);
        QFETCH(int, holdMs);
        PeerLink link;
        QVERIFY(link.open());
        if (end == u"reset") {
            // Bytes the peer leaves unread make its close a reset.
            link.peer->setReadBufferSize(1);
            QVERIFY(link.connection.send("RRRR"));
            QTRY_COMPARE(link.peer->bytesAvailable(), 1);
        }
        link.peer->write(QByteArray(bytes, 'F'));
        if (!end.isEmpty())
            link.peer->disconnectFromHost();
        if (holdMs > 0) {
            QTest::qWait(holdMs);
            if (bytes > 4 * UnitConnection::kReadBufferBytes)
                QVERIFY2(link.peer->bytesToWrite() > bytes / 2,
                         qPrintable(QString::number(link.peer->bytesToWrite())));
        }
        link.takeAsTheyCome();
        link.taken += link.connection.takeArrived();
        QTRY_COMPARE_WITH_TIMEOUT(link.taken.size(), bytes, 10000);
        if (!end.isEmpty()) {
            QTRY_COMPARE(link.said, QStringList{u"closed"_s});
            QCOMPARE(link.connection.state(), UnitConnection::State::Closed);
        }
        QCOMPARE(link.taken, QByteArray(bytes, 'F'));
    }
    // The program's own close says nothing, and nothing of that connection comes after it.
    void ownCloseIsSilent() {
        PeerLink link;
        QVERIFY(link.open());
        bool arrived = false;
        QObject::connect(&link.connection, &UnitConnection::bytesArrived, &link.connection,
                         [&arrived] { arrived = true; });
        link.peer->write("late");
        link.peer->flush();
        link.connection.close();
        link.peer->disconnectFromHost();
        QTest::qWait(200);
        QVERIFY(!arrived);
        QCOMPARE(link.said, QStringList());
        QCOMPARE(link.connection.takeArrived(), QByteArray());
        QCOMPARE(link.connection.state(), UnitConnection::State::Closed);
    }
    // A name is looked up off the event loop, from the hosts file here; an attempt given up says nothing
    // more.
    void nameIsLookedUp_data() {
        columns<QString, bool, QStringList>("host", "giveUp", "said");
        QTest::newRow("localhost") << u"localhost"_s << false << QStringList{u"connected"_s};
        QTest::newRow("no name") << QString() << false << QStringList{u"failed: Host not found"_s};
        QTest::newRow("localhost, given up at once") << u"localhost"_s << true << QStringList();
    }
    void nameIsLookedUp() {
        QFETCH(QString, host);
        QFETCH(bool, giveUp);
        QFETCH(QStringList, said);
        PeerLink link;
        QVERIFY(link.server.listen(QHostAddress::LocalHost));
        QObject::connect(&link.connection, &UnitConnection::connected, &link.connection,
                         [&link] { link.said << u"connected"_s; });
        link.connection.open(host, link.server.serverPort());
        QCOMPARE(link.connection.state(), UnitConnection::State::Resolving);
        if (giveUp)
            link.connection.close();
        QTest::qWait(300);
        QTRY_COMPARE(link.said, said);
        QCOMPARE(link.connection.state(), said.contains(u"connected"_s) ? UnitConnection::State::Connected
                                                                        : UnitConnection::State::Closed);
    }
    // A raw socket sees the other thread's replies too, and only many loopback echoes make a stray one land
    // between opening and sending. A held-up thread may lose its reply: silence is no fault here.
    void concurrentEchoesSeeOwnReplies() {
        constexpr std::array<Ipv4, 2> kDestinations{kLoopback, 0x7F000002};
        constexpr int kEchoes = 1000;
        const auto service = makeSystemIcmpService();
        std::array<QList<EchoOutcome>, 2> outcomes;
        const auto echoes = [&](std::size_t t) {
            for (int i = 0; i < kEchoes; ++i)
                outcomes[t].append(service->echo(kDestinations[t], 255, 2700));
        };
        std::jthread other(echoes, 1);
        echoes(0);
        other.join();
        for (std::size_t t = 0; t < outcomes.size(); ++t) {
            int replies = 0;
            for (const EchoOutcome& outcome : outcomes[t]) {
                if (outcome.kind == EchoOutcome::Kind::NotAvailable)
                    QSKIP(qPrintable(u"no ICMP socket for this user: "_s + outcome.reason));
                if (outcome.kind == EchoOutcome::Kind::Reply) {
                    ++replies;
                    QCOMPARE(outcome.reply.from, kDestinations[t]);
                }
            }
            QVERIFY2(replies > kEchoes / 2, qPrintable(QString::number(replies)));
        }
    }
    // A lookup that falls through to a name server cannot leave the namespace.
    void resolveInNamespace_data() {
        // address -1: none
        columns<QByteArray, qint64>("name", "address");
        QTest::newRow("localhost") << "localhost"_ba << qint64{kLoopback};
        QTest::newRow("10.1.2.3") << "10.1.2.3"_ba << qint64{0x0A010203};
        QTest::newRow("no-such-host.invalid") << "no-such-host.invalid"_ba << qint64{-1};
    }
    void resolveInNamespace() {
        QFETCH(QByteArray, name);
        std::optional<Ipv4> resolved;
        const QString failure =
            inOwnNamespace({}, [&] { resolved = makeSystemIcmpService()->resolveFirstIpv4(name); });
        if (!failure.isEmpty())
            QSKIP(qPrintable(failure));
        QTEST(resolved ? qint64{*resolved} : -1, "address");
    }
    // The system chooses which ICMP socket may be had; a reply has a time to live, silence the time-out.
    void echoInNamespace_data() {
        columns<QStringList, Kind, QString>("options", "kind", "reason");
        const QStringList datagram{u"datagram"_s, u"noraw"_s};
        QTest::newRow("127.0.0.1, raw socket") << QStringList() << Kind::Reply << QString();
        QTest::newRow("silent 127.0.0.1, raw socket")
            << QStringList{u"mute"_s} << Kind::NoAnswer << QString();
        QTest::newRow("127.0.0.1, datagram socket") << datagram << Kind::Reply << QString();
        QTest::newRow("silent 127.0.0.1, datagram socket")
            << datagram + QStringList{u"mute"_s} << Kind::NoAnswer << QString();
        QTest::newRow("neither socket allowed")
            << QStringList{u"noraw"_s} << Kind::NotAvailable << u"Operation not permitted"_s;
    }
    void echoInNamespace() {
        QFETCH(QStringList, options);
        QFETCH(Kind, kind);
        EchoOutcome outcome;
        QElapsedTimer clock;
        const QString failure = inOwnNamespace(options, [&] {
            clock.start();
            outcome = makeSystemIcmpService()->echo(kLoopback, 255, kNamespaceTimeoutMs);
        });
        const qint64 elapsedMs = clock.elapsed();
        if (failure.startsWith(u"no network namespace"_s))
            QSKIP(qPrintable(failure));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(outcome.kind, kind);
        QTEST(outcome.reason, "reason");
        if (kind == Kind::Reply) {
            QCOMPARE(outcome.reply.from, kLoopback);
            QCOMPARE(outcome.reply.dataSize, 0);
            QVERIFY2(outcome.reply.ttl > 0, "time to live");
        }
        if (kind == Kind::NoAnswer)
            QVERIFY2(elapsedMs >= kNamespaceTimeoutMs && elapsedMs < kNamespaceTimeoutMs + kGenerousSlackMs,
                     qPrintable(QString::number(elapsedMs)));
    }
    void echoRequestCarriesTtl_data() {
        columns<QStringList, int>("options", "ttl");
        QTest::newRow("raw socket, 255") << QStringList() << 255;
        QTest::newRow("datagram socket, 255") << QStringList{u"datagram"_s} << 255;
        QTest::newRow("raw socket, 9") << QStringList() << 9;
    }
    // The request on the wire carries the time to live asked for, as a raw listener on loopback sees it.
    void echoRequestCarriesTtl() {
        QFETCH(QStringList, options);
        QFETCH(int, ttl);
        constexpr std::uint8_t kEchoRequest = 8;
        constexpr std::size_t kTtlOffset = 8;
        EchoOutcome outcome;
        QList<int> requestTtls;
        QString listenFailure;
        const QString failure = inOwnNamespace(options, [&] {
            const int listener = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
            if (listener < 0) {
                listenFailure = u"no raw socket to listen on: "_s + qt_error_string(errno);
                return;
            }
            outcome = makeSystemIcmpService()->echo(kLoopback, ttl, kNamespaceTimeoutMs);
            std::array<std::uint8_t, 1500> packet{};
            ssize_t size = 0;
            while ((size = ::recv(listener, packet.data(), packet.size(), MSG_DONTWAIT)) > 0) {
                const auto header = std::size_t{packet[0] & 0x0Fu} * 4;
                if (std::size_t(size) > header && packet[header] == kEchoRequest)
                    requestTtls.append(packet[kTtlOffset]);
            }
            ::close(listener);
        });
        if (failure.startsWith(u"no network namespace"_s) || !listenFailure.isEmpty())
            QSKIP(qPrintable(failure + listenFailure));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(outcome.kind, Kind::Reply);
        QCOMPARE(requestTtls, QList<int>{ttl});
    }
    void pollRule_data() {
        // S: a request goes out if the rule lets it; a number: that many bytes arrive; T: the reply's time
        // runs out; C: the unit closes.
        // counts: sent, replies, wrong, timeouts, cut short
        columns<QString, QList<qint64>>("events", "counts");
        QTest::newRow("whole reply") << u"S 112 S 112"_s << QList<qint64>{2, 2, 0, 0, 0};
        QTest::newRow("ticks wait for the reply") << u"S S S 112 S"_s << QList<qint64>{2, 1, 0, 0, 0};
        QTest::newRow("reply in two pieces") << u"S 60 52"_s << QList<qint64>{1, 1, 0, 0, 0};
        QTest::newRow("two replies at once") << u"S 224"_s << QList<qint64>{1, 0, 1, 0, 0};
        QTest::newRow("bytes nobody asked for") << u"40 S 112 7"_s << QList<qint64>{1, 1, 0, 0, 0};
        QTest::newRow("silence") << u"S T S 112"_s << QList<qint64>{2, 1, 0, 1, 0};
        QTest::newRow("part, then silence") << u"S 50 T"_s << QList<qint64>{1, 0, 1, 0, 0};
        QTest::newRow("closed while waiting") << u"S C S 112"_s << QList<qint64>{2, 1, 0, 0, 1};
        QTest::newRow("closed while idle") << u"S 112 C S 112"_s << QList<qint64>{2, 2, 0, 0, 0};
        QTest::newRow("part, then closed") << u"S 30 C T"_s << QList<qint64>{1, 0, 0, 0, 1};
    }
    void pollRule() {
        QFETCH(QString, events);
        QFETCH(QList<qint64>, counts);
        PollRule rule(kStatusReplyBytes);
        for (const QString& event : events.split(u' ')) {
            if (event == u"S" && !rule.awaitingReply())
                rule.requestSent();
            else if (event == u"T")
                static_cast<void>(rule.deadlinePassed());
            else if (event == u"C")
                rule.connectionClosed();
            else if (event != u"S")
                static_cast<void>(rule.arrived(QByteArray(event.toInt(), '\0')));
        }
        const PollCounts& c = rule.counts();
        QCOMPARE((QList<qint64>{c.requests, c.replies, c.wrongLengths, c.timeouts, c.cutShort}), counts);
    }
    // The plan runner's session: each outcome told once and in order, a frame leaving while a reply is
    // awaited, no attempt but the caller's, and nothing at all after close().
    void unitSession_data() {
        // steps: O open, S status request, F output frame, a number: the unit sends so many bytes, C: the
        // unit closes, T: the timeout passes, X: close(), R: open with nothing listening counts: sent,
        // replies, wrong, timeouts, cut short, reconnects, failed connects
        columns<QString, QString, QList<qint64>>("steps", "told", "counts");
        QTest::newRow("reply in two pieces")
            << u"O S 111 1 S 112"_s << u"up, 112, 112"_s << QList<qint64>{2, 2, 0, 0, 0, 0, 0};
        QTest::newRow("frame while awaited")
            << u"O S F 112"_s << u"up, sent, 112"_s << QList<qint64>{1, 1, 0, 0, 0, 0, 0};
        QTest::newRow("overlong, then part")
            << u"O S 113 S 50 T"_s << u"up, Overlong 113, Short 50"_s << QList<qint64>{2, 0, 2, 0, 0, 0, 0};
        QTest::newRow("silence") << u"O S T"_s << u"up, TimedOut 0"_s << QList<qint64>{1, 0, 0, 1, 0, 0, 0};
        QTest::newRow("cut short, open again")
            << u"O S 50 C T O S 112"_s << u"up, CutShort 50, closed, up, 112"_s
            << QList<qint64>{2, 1, 0, 0, 1, 1, 0};
        QTest::newRow("own close") << u"O S X 112 T O S 112"_s << u"up, up, 112"_s
                                   << QList<qint64>{2, 1, 0, 0, 0, 1, 0};
        QTest::newRow("refused") << u"R"_s << u"failed: Connection refused"_s
                                 << QList<qint64>{0, 0, 0, 0, 0, 0, 1};
    }
    void unitSession() {
        QFETCH(QString, steps);
        constexpr int kTimeoutMs = 300;
        testsupport::LoopbackPeer peer;
        QVERIFY(peer.listen());
        UnitSession session(u"127.0.0.1"_s, peer.port(), kTimeoutMs,
                            {.mode = UnitSession::Reconnect::Mode::Caller});
        QStringList told;
        connect(&session, &UnitSession::connected, this, [&] { told << u"up"_s; });
        connect(&session, &UnitSession::errorOccurred, this,
                [&] { told << u"failed: "_s + session.errorString(); });
        connect(&session, &UnitSession::replied, this,
                [&](const QByteArray& reply) { told << QString::number(reply.size()); });
        connect(&session, &UnitSession::replyFailed, this,
                [&](UnitSession::ReplyFailure failure, qsizetype bytes) {
                    told << QString::fromLatin1(
                                QMetaEnum::fromType<UnitSession::ReplyFailure>().valueToKey(int(failure))) +
                                u' ' + QString::number(bytes);
                });
        connect(&session, &UnitSession::frameSent, this, [&] { told << u"sent"_s; });
        connect(&session, &UnitSession::closed, this, [&] { told << u"closed"_s; });
        for (const QString& step : steps.split(u' ')) {
            const qsizetype heard = told.size();
            if (step == u"O" || step == u"R") {
                if (step == u"R")
                    peer.server.close();
                session.open();
                QTRY_VERIFY(told.size() > heard);
            } else if (step == u"S" || step == u"F") {
                const qsizetype received = peer.received.size();
                QVERIFY(step == u"S" ? session.requestStatus() : session.sendFrame("T\x01\x00\x00\x00"_ba));
                QTRY_VERIFY(peer.received.size() > received);
            } else if (step == u"C") {
                peer.links.constLast()->disconnectFromHost();
                QTRY_VERIFY(session.link() == UnitSession::Link::Down);
            } else if (step == u"T") {
                QTest::qWait(kTimeoutMs + 100);
            } else if (step == u"X") {
                session.close();
            } else {
                QVERIFY(peer.send(QByteArray(step.toInt(), '\1')));
                QTest::qWait(50);
            }
        }
        QTEST(told.join(u", "_s), "told");
        const PollCounts& c = session.counts();
        QTEST((QList<qint64>{c.requests, c.replies, c.wrongLengths, c.timeouts, c.cutShort, c.reconnects,
                             c.failedConnects}),
              "counts");
    }
};

// Under the command line's event loop, as the command line runs all of this.
int main(int argc, char** argv) {
    installCommandLineDispatcher();
    return testsupport::runIsolated<QCoreApplication, tst_Platform>(argc, argv);
}
#include "tst_platform.moc"
