// SPDX-License-Identifier: GPL-3.0-or-later
// One unit's poller against fake units on loopback that misbehave in one way each.

#include "exporter/unit_poller.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <numeric>

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
    enum class Does { Answer, AnswerThenClose, CloseAfterRequest, CloseAtOnce, Refuse, NeverAccept };
    Does does = Does::Answer;
    QByteArray answer; // per request; empty: stay silent
    QTcpServer server;
    QList<QTcpSocket*> links;
    QByteArray received;
    QTcpSocket filler;
    quint16 port = 0;

    explicit FakeUnit(Does what, const QByteArray& reply = {})
        : does(what)
        , answer(reply) {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* link = server.nextPendingConnection()) {
                links.append(link);
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
                    // One answer per status request, even when two arrive together.
                    for (qsizetype i = 0; i < got.count(kStatusRequest) && !answer.isEmpty(); ++i)
                        link->write(answer);
                    if (does == Does::AnswerThenClose)
                        link->close();
                });
            }
        });
    }
    bool listen(quint16 at = 0) {
        // A queue of one, taken by the test's own connection: later attempts get no answer at all.
        if (does == Does::NeverAccept)
            server.setListenBacklogSize(0);
        if (!server.listen(QHostAddress::LocalHost, at))
            return false;
        port = server.serverPort();
        if (does == Does::Refuse)
            server.close();
        if (does != Does::NeverAccept)
            return true;
        server.pauseAccepting();
        filler.connectToHost(QHostAddress::LocalHost, port);
        return filler.waitForConnected(5000);
    }
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

} // namespace

Q_DECLARE_METATYPE(FakeUnit::Does)
Q_DECLARE_METATYPE(PollFailure)

class tst_Exporter_poller : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each change is told, and replies are timed. After stop() the unit is asked nothing more, its connection
    // is closed and nothing more is told.
    void stopEndsEverything() {
        FakeUnit unit(FakeUnit::Does::Answer, handMadeReply());
        QVERIFY(unit.listen());
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        int told = 0;
        UnitPoller poller(onLoopback(unit.port), kQuick);
        connect(&poller, &UnitPoller::changed, this, [&] { ++told; });
        poller.start();
        const auto& state = poller.state();
        QTRY_VERIFY_WITH_TIMEOUT(state.replies >= 2, 10000);
        QVERIFY(state.durations.sumSeconds > 0);
        QVERIFY(state.lastReplyMs >= before && state.lastReplyMs <= QDateTime::currentMSecsSinceEpoch());
        QCOMPARE(state.version, static_cast<std::uint64_t>(told));
        poller.stop();
        const int toldBefore = told;
        const qsizetype asked = unit.received.size();
        QTRY_COMPARE(unit.links.constFirst()->state(), QAbstractSocket::UnconnectedState);
        QTest::qWait(3 * kQuick.intervalMs + kQuick.timeoutMs);
        QCOMPARE(unit.received.size(), asked);
        QCOMPARE(told, toldBefore);
    }

    void fakeUnit_data() {
        // failure: what each bad poll counts, -1 none; problem: the page's text
        columns<QByteArray, int, QString, bool>("answer", "failure", "problem", "up");
        const int none = -1;
        const auto kind = [](PollFailure failure) { return static_cast<int>(failure); };
        QTest::newRow("good reply") << handMadeReply() << none << QString() << true;
        const int refused = kind(PollFailure::RefusedValue);
        const int length = kind(PollFailure::Length);
        QTest::newRow("input 03 in state 33") << handMadeReply(3, 0x33) << refused << QString() << true;
        QTest::newRow("output 04 in state 5") << handMadeReply(111, 0x05) << refused << QString() << true;
        QTest::newRow("part of a reply") << QByteArray(50, '\1') << length << u"reply of 50 bytes"_s << false;
        QTest::newRow("one byte over") << QByteArray(113, '\1') << length << u"reply of 113 bytes"_s << false;
        QTest::newRow("two replies at once")
            << handMadeReply() + handMadeReply() << length << u"reply of 224 bytes"_s << false;
        QTest::newRow("silence") << QByteArray() << kind(PollFailure::Timeout) << u"no reply within 0.2 s"_s << false;
    }
    // A timeout or a wrong length does not drop the connection; a silent unit gets one request per timeout,
    // never one per tick.
    void fakeUnit() {
        QFETCH(QByteArray, answer);
        QFETCH(int, failure);
        FakeUnit unit(FakeUnit::Does::Answer, answer);
        QVERIFY(unit.listen());
        UnitPoller poller(onLoopback(unit.port), kQuick);
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
        const auto all = std::accumulate(state.failures.begin(), state.failures.end(), std::uint64_t{0});
        QCOMPARE(all, failure < 0 ? 0 : failures(PollFailure(failure)));
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

    // An output frame sets what it is asked and keeps the rest as last reported; a second write before a reply
    // has shown the first keeps the first's, or it would undo it. Nothing goes out that is not known.
    void setOutputsKeepsTheOthers() {
        FakeUnit unit(FakeUnit::Does::Answer, handMadeReply(110, 0x07)); // outputs 0 1 7 0
        QVERIFY(unit.listen());
        UnitPoller poller(onLoopback(unit.port), {.intervalMs = 400, .timeoutMs = 200});
        using Write = lumora::exporter::UnitBoard::OutputWrite;
        QCOMPARE(poller.setOutputs(0b0001, 0b0001), Write::UnitDown);
        poller.start();
        QTRY_VERIFY_WITH_TIMEOUT(poller.state().up, 10000);
        QCOMPARE(poller.setOutputs(0b0001, 0b0001), Write::RefusedValue);
        QCOMPARE(poller.setOutputs(0b0100, 0b0000), Write::Sent);
        QCOMPARE(poller.setOutputs(0b1001, 0b1001), Write::Sent);
        QTRY_COMPARE(unit.received, "R" + QByteArray::fromHex("5400010000") + QByteArray::fromHex("5401010001"));
        QTRY_VERIFY_WITH_TIMEOUT(poller.state().replies == 2, 10000);
        QCOMPARE(poller.setOutputs(0b0100, 0b0000), Write::Sent); // the unit took none of them
        QTRY_COMPARE(unit.received.right(5), QByteArray::fromHex("5400010000"));
    }

    void retryWaitGrows_data() {
        // attemptMs: how long each attempt lasts before it counts as failed, at least
        columns<FakeUnit::Does, PollFailure, QString, int>("does", "failure", "problem", "attemptMs");
        using Does = FakeUnit::Does;
        QTest::newRow("refused") << Does::Refuse << PollFailure::Connect << u"connection refused"_s << 0;
        QTest::newRow("attempt never answered")
            << Does::NeverAccept << PollFailure::Connect << u"no connection within 0.2 s"_s << kQuick.timeoutMs;
        // Connecting is no success: the wait grows on.
        QTest::newRow("accepted and closed at once")
            << Does::CloseAtOnce << PollFailure::Closed << u"closed by the unit"_s << 0;
        QTest::newRow("closed after each request")
            << Does::CloseAfterRequest << PollFailure::Closed << u"closed by the unit"_s << 0;
    }
    // The wait after each failed or lost connection doubles from the first up to the longest; no request is
    // counted as timed out meanwhile.
    void retryWaitGrows() {
        QFETCH(FakeUnit::Does, does);
        QFETCH(PollFailure, failure);
        QFETCH(int, attemptMs);
        FakeUnit unit(does);
        QVERIFY(unit.listen());
        UnitPoller poller(onLoopback(unit.port), kQuick);
        FailureTimes failed(poller, failure);
        poller.start();
        const QList<int> waits{50, 100, 200, 200, 200};
        QTRY_VERIFY_WITH_TIMEOUT(failed.ms.size() > waits.size(), 10000);
        // The clock counts whole milliseconds; a timer may fire within the one it is due.
        QVERIFY(failed.ms[0] >= attemptMs - 1);
        for (int i = 0; i < waits.size(); ++i) {
            const qint64 gap = failed.ms[i + 1] - failed.ms[i];
            QVERIFY2(gap >= waits[i] + attemptMs - 1,
                     qPrintable(u"gap %1: %2 ms, wait %3 ms"_s.arg(i).arg(gap).arg(waits[i])));
        }
        const auto& state = poller.state();
        QTEST(state.problem, "problem");
        QCOMPARE(state.failureCount(PollFailure::Timeout), 0u);
        // One request per connection: the rule waits for its reply, which never comes.
        QVERIFY(unit.received.size() <= unit.links.size());
        if (does != FakeUnit::Does::Refuse)
            return;
        // Then the unit comes: it is polled without the poller being started again.
        FakeUnit comes(FakeUnit::Does::Answer, handMadeReply());
        QVERIFY(comes.listen(unit.port));
        QTRY_VERIFY_WITH_TIMEOUT(state.replies >= 2, 10000);
        QVERIFY(state.up);
        QCOMPARE(state.link, Link::Connected);
        QCOMPARE(state.problem, QString());
    }
    // A good reply brings the wait back to the first: a unit that answers once a connection, then closes it,
    // is tried again after the first wait each time. Ten rounds take about a second; with the wait doubling
    // on, the tenth alone would come 51 s after the first.
    void goodReplyResetsRetryWait() {
        FakeUnit unit(FakeUnit::Does::AnswerThenClose, handMadeReply());
        QVERIFY(unit.listen());
        PollTiming timing = kQuick;
        timing.longestRetryMs = 51200;
        UnitPoller poller(onLoopback(unit.port), timing);
        FailureTimes closed(poller, PollFailure::Closed);
        poller.start();
        QTRY_VERIFY_WITH_TIMEOUT(closed.ms.size() >= 10, 20000);
        QVERIFY(poller.state().replies >= 10);
    }
};

LUMORA_SUITE_CLASS(tst_Exporter_poller);
#include "tst_exporter_poller.moc"
