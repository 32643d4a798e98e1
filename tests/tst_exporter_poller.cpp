// SPDX-License-Identifier: GPL-3.0-or-later
// One unit's poller against the emulator and against fake units on loopback that misbehave in one way each.

#include "exporter/unit_poller.h"
#include "testsupport.h"
#include "unitemulator.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using lumora::exporter::PollFailure;
using lumora::exporter::PollTiming;
using lumora::exporter::Unit;
using lumora::exporter::UnitPoller;
using Link = lumora::exporter::UnitState::Link;
using testsupport::columns;

namespace {

constexpr char kStatusRequest = 'R';
constexpr int kReplyBytes = 112;
// Small, so that a case sees many polls, timeouts and attempts in well under a second.
constexpr PollTiming kQuick{.intervalMs = 20, .timeoutMs = 200, .firstRetryMs = 50, .longestRetryMs = 200};

// A unit's reply as it goes on the wire: inputs 00..11 in the first twelve bytes, outputs 01..04 in the last
// four, a state number as the byte whose hex digits read as it (0x01 is 1), counters and time gaps between.
QByteArray handMadeReply(int offset = -1, char byte = 0) {
    QByteArray reply(kReplyBytes, '\0');
    reply[0] = 0x01;
    reply[5] = 0x02;
    reply[12] = 0x7F; // a counter's top byte
    reply[109] = 0x01;
    if (offset >= 0)
        reply[offset] = byte;
    return reply;
}

// A unit on loopback that does one thing on every connection and every request.
struct FakeUnit : QObject {
    enum class Does { Answer, CloseAfterRequest, CloseAtOnce };
    Does does = Does::Answer;
    QByteArray answer; // per request; empty: stay silent
    QTcpServer server;
    QList<QTcpSocket*> links;
    QByteArray received;
    QList<qint64> acceptedAtMs;
    QElapsedTimer clock;

    FakeUnit() {
        clock.start();
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* link = server.nextPendingConnection()) {
                links.append(link);
                acceptedAtMs.append(clock.elapsed());
                if (does == Does::CloseAtOnce) {
                    link->close();
                    continue;
                }
                connect(link, &QTcpSocket::readyRead, this, [this, link] {
                    const QByteArray got = link->readAll();
                    received += got;
                    if (does == Does::CloseAfterRequest) {
                        link->close();
                        return;
                    }
                    // One answer per request byte, even when two requests arrive together.
                    for (qsizetype i = 0; i < got.size() && !answer.isEmpty(); ++i)
                        link->write(answer);
                });
            }
        });
    }
    bool listen(quint16 port = 0) { return server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return server.serverPort(); }
};

Unit onLoopback(quint16 port) {
    return {u"bench"_s, u"127.0.0.1"_s, port};
}

// Every failure of the kind, with the time it was counted.
struct FailureTimes : QObject {
    QList<qint64> ms;
    QElapsedTimer clock;
    FailureTimes(const UnitPoller& poller, PollFailure kind) {
        clock.start();
        connect(&poller, &UnitPoller::changed, this, [this, &poller, kind] {
            while (poller.state().failureCount(kind) > static_cast<std::uint64_t>(ms.size()))
                ms.append(clock.elapsed());
        });
    }
};

// A port nothing listens on: taken, then given back.
quint16 closedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return 0;
    return probe.serverPort();
}

} // namespace

class tst_Exporter_poller : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The emulator's replies are counted and timed, the unit is up.
    void pollsTheEmulator() {
        testsupport::UnitEmulator emulator;
        QVERIFY2(emulator.start(), qPrintable(emulator.errorString()));
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        UnitPoller poller(onLoopback(emulator.port), kQuick);
        int told = 0;
        connect(&poller, &UnitPoller::changed, this, [&] { ++told; });
        poller.start();
        QTRY_VERIFY_WITH_TIMEOUT(poller.state().replies >= 5, 10000);
        const auto& state = poller.state();
        QVERIFY(state.up);
        QCOMPARE(state.link, Link::Connected);
        QCOMPARE(state.reply.size(), kReplyBytes);
        QCOMPARE(state.problem, QString());
        QCOMPARE(state.failures, (decltype(state.failures){}));
        QCOMPARE(state.durations.count, state.replies);
        QVERIFY(state.durations.sumSeconds > 0);
        QVERIFY(state.lastReplyMs >= before && state.lastReplyMs <= QDateTime::currentMSecsSinceEpoch());
        QCOMPARE(state.version, static_cast<std::uint64_t>(told));
        QVERIFY(state.version > state.replies);
    }

    // After stop() the unit is asked nothing more, its connection is closed and nothing more is told.
    void stopEndsEverything() {
        FakeUnit unit;
        unit.answer = handMadeReply();
        QVERIFY(unit.listen());
        UnitPoller poller(onLoopback(unit.port()), kQuick);
        int told = 0;
        connect(&poller, &UnitPoller::changed, this, [&] { ++told; });
        poller.start();
        QTRY_VERIFY_WITH_TIMEOUT(poller.state().replies >= 2, 10000);
        poller.stop();
        const int toldBefore = told;
        const qsizetype asked = unit.received.size();
        QTRY_COMPARE(unit.links.constFirst()->state(), QAbstractSocket::UnconnectedState);
        QTest::qWait(3 * kQuick.intervalMs + kQuick.timeoutMs);
        QCOMPARE(unit.received.size(), asked);
        QCOMPARE(told, toldBefore);
    }

    void fakeUnit_data() {
        // failure: what each bad poll counts, -1 none; problem: the page's text; requests: at least this many
        // on the one connection (a timeout or wrong length keeps it)
        columns<QByteArray, int, QString, bool>("answer", "failure", "problem", "up");
        const int none = -1;
        const auto kind = [](PollFailure failure) { return static_cast<int>(failure); };
        QTest::newRow("good reply") << handMadeReply() << none << QString() << true;
        QTest::newRow("input 03 in state 33") << handMadeReply(3, 0x33) << kind(PollFailure::RefusedValue)
                                              << QString() << true;
        QTest::newRow("output 04 in state 5")
            << handMadeReply(111, 0x05) << kind(PollFailure::RefusedValue) << QString() << true;
        QTest::newRow("part of a reply") << QByteArray(50, '\1') << kind(PollFailure::Length)
                                         << u"reply of 50 bytes"_s << false;
        QTest::newRow("one byte over") << QByteArray(kReplyBytes + 1, '\1') << kind(PollFailure::Length)
                                       << u"reply of 113 bytes"_s << false;
        QTest::newRow("two replies at once") << handMadeReply() + handMadeReply() << kind(PollFailure::Length)
                                             << u"reply of 224 bytes"_s << false;
        QTest::newRow("silence") << QByteArray() << kind(PollFailure::Timeout) << u"no reply within 0.2 s"_s
                                 << false;
    }
    // A timeout or a wrong length does not drop the connection; a silent unit gets one request per timeout,
    // never one per tick.
    void fakeUnit() {
        QFETCH(QByteArray, answer);
        QFETCH(int, failure);
        FakeUnit unit;
        unit.answer = answer;
        QVERIFY(unit.listen());
        UnitPoller poller(onLoopback(unit.port()), kQuick);
        poller.start();
        const auto& state = poller.state();
        const auto failures = [&](PollFailure kind) { return state.failureCount(kind); };
        const bool good = failure < 0 || failure == static_cast<int>(PollFailure::RefusedValue);
        QTRY_VERIFY_WITH_TIMEOUT((good ? state.replies : failures(PollFailure(failure))) >= 4, 10000);

        QTEST(state.up, "up");
        QTEST(state.problem, "problem");
        QCOMPARE(state.link, Link::Connected);
        QCOMPARE(unit.links.size(), 1);
        QCOMPARE(unit.received, QByteArray(unit.received.size(), kStatusRequest));
        // Every request but the one outstanding has its outcome.
        const auto settled = state.replies + failures(PollFailure::Timeout) + failures(PollFailure::Length);
        QVERIFY2(std::uint64_t(unit.received.size()) <= settled + 1,
                 qPrintable(u"%1 requests, %2 settled"_s.arg(unit.received.size()).arg(settled)));
        for (const PollFailure kind : {PollFailure::Connect, PollFailure::Timeout, PollFailure::Length,
                                       PollFailure::Closed, PollFailure::RefusedValue}) {
            if (static_cast<int>(kind) != failure)
                QCOMPARE(failures(kind), 0u);
        }
        if (good) {
            QCOMPARE(state.reply, answer);
            QCOMPARE(state.durations.count, state.replies);
            if (failure >= 0)
                QCOMPARE(failures(PollFailure::RefusedValue), state.replies);
        } else {
            QCOMPARE(state.replies, 0u);
            QCOMPARE(state.reply, QByteArray());
        }
    }

    // A unit that takes each request and then closes: the connection is made again, after a wait.
    void closedAfterRequest() {
        FakeUnit unit;
        unit.does = FakeUnit::Does::CloseAfterRequest;
        QVERIFY(unit.listen());
        UnitPoller poller(onLoopback(unit.port()), kQuick);
        poller.start();
        QTRY_VERIFY_WITH_TIMEOUT(unit.links.size() >= 3, 10000);
        const auto& state = poller.state();
        QTRY_VERIFY(state.failureCount(PollFailure::Closed) >= 2);
        QVERIFY(!state.up);
        QCOMPARE(state.problem, u"closed by the unit"_s);
        QCOMPARE(state.failureCount(PollFailure::Timeout), 0u);
        QCOMPARE(state.replies, 0u);
    }

    // Refused while nothing listens, then the unit comes: it is polled without being started again.
    void unitAppearsAfterRefusals() {
        const quint16 port = closedPort();
        QVERIFY(port != 0);
        UnitPoller poller(onLoopback(port), kQuick);
        poller.start();
        const auto& state = poller.state();
        QTRY_VERIFY_WITH_TIMEOUT(state.failureCount(PollFailure::Connect) >= 2, 10000);
        QVERIFY(!state.up);
        QCOMPARE(state.problem, u"connection refused"_s);
        QVERIFY(state.link != Link::Connected);
        QCOMPARE(state.failureCount(PollFailure::Timeout), 0u);

        FakeUnit unit;
        unit.answer = handMadeReply();
        QVERIFY(unit.listen(port));
        QTRY_VERIFY_WITH_TIMEOUT(state.replies >= 2, 10000);
        QVERIFY(state.up);
        QCOMPARE(state.link, Link::Connected);
        QCOMPARE(state.problem, QString());
    }

    void retryWaitGrows_data() {
        columns<bool>("unitAccepts");
        QTest::newRow("refused") << false;
        // Connecting is no success: the wait grows on.
        QTest::newRow("accepted and closed at once") << true;
    }
    // The wait after each failed or lost connection doubles from the first up to the longest.
    void retryWaitGrows() {
        QFETCH(bool, unitAccepts);
        FakeUnit unit;
        unit.does = FakeUnit::Does::CloseAtOnce;
        QVERIFY(unitAccepts ? unit.listen() : true);
        UnitPoller poller(onLoopback(unitAccepts ? unit.port() : closedPort()), kQuick);
        FailureTimes failed(poller, unitAccepts ? PollFailure::Closed : PollFailure::Connect);
        poller.start();
        const QList<int> waits{50, 100, 200, 200, 200};
        QTRY_VERIFY_WITH_TIMEOUT(failed.ms.size() > waits.size(), 10000);
        for (int i = 0; i < waits.size(); ++i) {
            // The clock counts whole milliseconds; a timer may fire within the one it is due.
            const qint64 gap = failed.ms[i + 1] - failed.ms[i];
            QVERIFY2(gap >= waits[i] - 1, qPrintable(u"gap %1: %2 ms, wait %3 ms"_s.arg(i).arg(gap).arg(waits[i])));
        }
        QCOMPARE(poller.state().failureCount(PollFailure::Timeout), 0u);
        QVERIFY(!poller.state().up);
    }

    // An attempt nobody answers is given up at the timeout; the next comes after the wait.
    void connectDeadline() {
        // A listener whose queue holds one connection: the test's own fills it, later attempts get no answer.
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0);
        QVERIFY(::listen(fd, 0) == 0);
        QVERIFY(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0);
        const quint16 port = ntohs(address.sin_port);
        QTcpSocket filler;
        filler.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(filler.waitForConnected(5000));

        UnitPoller poller(onLoopback(port), kQuick);
        FailureTimes failed(poller, PollFailure::Connect);
        poller.start();
        QTRY_VERIFY_WITH_TIMEOUT(failed.ms.size() >= 2, 10000);
        QCOMPARE(poller.state().problem, u"no connection within 0.2 s"_s);
        QVERIFY(failed.ms[0] >= kQuick.timeoutMs - 1);
        QVERIFY(failed.ms[1] - failed.ms[0] >= kQuick.firstRetryMs + kQuick.timeoutMs - 1);
        poller.stop();
        ::close(fd);
    }
};

LUMORA_SUITE_CLASS(tst_Exporter_poller);
#include "tst_exporter_poller.moc"
