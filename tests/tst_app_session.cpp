// SPDX-License-Identifier: GPL-3.0-or-later
// The client's session without a window: what it sends, logs and reports, against loopback peers.

#include "app/send_rules.h"
#include "loopbackpeer.h"
#include "netns.h"
#include "settingsfile.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>

using namespace testsupport;
using namespace testsupport::app_texts;
using namespace Qt::StringLiterals;
using lumora::app::ClientSession;
using lumora::app::Winsock;
using lumora::protocol::Command;

namespace {

struct Linked : SessionHarness {
    LoopbackPeer peer;
    bool connect() {
        if (!peer.listen())
            return false;
        dial(QString::number(peer.port()));
        return QTest::qWaitFor([this] { return session.isConnected(); }, kWaitMs);
    }
    // The peer sends bytes; true once the session has logged that many more lines.
    bool arrive(const QByteArray& bytes, int more) {
        const qsizetype before = lines().size();
        return peer.send(bytes) && QTest::qWaitFor([&] { return lines().size() >= before + more; }, kWaitMs);
    }
    void repeat(Command command, const QString& interval) {
        session.setCommand(command);
        session.setRepeat(true);
        session.setIntervalText(interval);
    }
};

// A Winsock and a loopback server; connect() gives the peer accepted once the Winsock is connected.
struct Loopback {
    QTcpServer server;
    lumora::platform::EventGate gate;
    Winsock winsock{gate};
    QTcpSocket* connect() {
        if (!server.listen(QHostAddress::LocalHost))
            return nullptr;
        winsock.setRemoteHost(u"127.0.0.1"_s);
        winsock.setRemotePort(server.serverPort());
        winsock.connectToHost();
        if (!QTest::qWaitFor([&] { return server.hasPendingConnections(); }) ||
            !QTest::qWaitFor([&] { return winsock.state() == Winsock::State::Connected; }))
            return nullptr;
        return server.nextPendingConnection();
    }
};

// Each log line as it comes, with when.
struct Watch {
    QElapsedTimer clock;
    QStringList events;
    QList<qint64> atMs;
    explicit Watch(ClientSession& session) {
        clock.start();
        QObject::connect(&session.logLines(), &lumora::log::LogListModel::linesAppended, &session,
                         [this, &session](int first, int last) {
                             for (int row = first; row <= last; ++row) {
                                 events.append(session.logLines().line(row).mid(14));
                                 atMs.append(clock.elapsed());
                             }
                         });
    }
};

} // namespace

class tst_AppSession : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { removeSettings(); }

    // --- What a send does with the connection it finds
    void sendRules_data() {
        columns<bool, bool, int, bool, bool, bool, bool>("connected", "repeating", "command", "refused",
                                                         "waitedBefore", "waitsAfter", "reconnects");
        QTest::newRow("status request out") << true << false << 0 << false << false << true << false;
        QTest::newRow("status request refused") << true << true << 0 << true << false << false << false;
        QTest::newRow("refused while awaited") << true << true << 0 << true << true << true << false;
        QTest::newRow("output setting out") << true << false << 1 << false << false << false << false;
        QTest::newRow("reset while awaited") << true << true << 2 << false << true << true << false;
        QTest::newRow("closed, one time") << false << false << 0 << false << false << false << false;
        QTest::newRow("closed, repeating") << false << true << 0 << false << false << false << true;
    }
    void sendRules() {
        QFETCH(bool, connected);
        QFETCH(bool, repeating);
        QFETCH(int, command);
        QFETCH(bool, refused);
        QFETCH(bool, waitedBefore);
        const lumora::app::SendPlan plan = lumora::app::planSend(connected, repeating);
        QCOMPARE(plan.handOver, connected);
        QTEST(plan.reconnect, "reconnects");
        if (plan.handOver) {
            const auto sent = static_cast<lumora::protocol::Command>(command);
            QTEST(lumora::app::statusWaitAfterSend(waitedBefore, sent, !refused), "waitsAfter");
        }
    }
    // --- The connection
    void connectAttempt_data() {
        columns<QString, int, QString>("text", "listenOn", "event");
        const QString invalid = u" Socket Connect Fail!! Invalid Port No : "_s;
        // The port as the text reads it: a half goes to the even neighbour.
        QTest::newRow("81.5") << u"81.5"_s << 82 << kConnected;
        QTest::newRow("1.2.3") << u"1.2.3"_s << 0 << invalid + u"1.2.3"_s;
        // A port just given up by a listener of the test's own.
        QTest::newRow("refused") << QString() << -1 << u" Socket Connect Fail!! Connection refused"_s;
    }
    void connectAttempt() {
        QFETCH(QString, text);
        QFETCH(int, listenOn);
        QFETCH(QString, event);
        LoopbackPeer peer;
        if (listenOn < 0) {
            QVERIFY(peer.listen());
            text = QString::number(peer.port());
            peer.server.close();
        } else if (listenOn > 0 && !peer.listen(static_cast<quint16>(listenOn))) {
            QSKIP(qPrintable(u"cannot listen on %1: %2"_s.arg(listenOn).arg(peer.server.errorString())));
        }
        SessionHarness h;
        QSignalSpy connected(&h.session, &ClientSession::connected);
        h.dial(text);
        // A stray attempt for a bad port would end in a line of its own.
        QTRY_COMPARE_WITH_TIMEOUT(h.lines(), QStringList{kStamp + event}, kWaitMs);
        QTest::qWait(kSettleMs);
        QCOMPARE(h.lines(), QStringList{kStamp + event});
        QCOMPARE(peer.links.size(), listenOn > 0 ? 1 : 0);
        QCOMPARE(connected.size(), listenOn > 0 ? 1 : 0);
    }
    // A send refused at the backlog bound: the failure line alone, no reconnect, no request awaited.
    void sendRefusedWhileConnected() {
        Linked h;
        QVERIFY(h.connect());
        // The unit stops reading: the system's buffers fill, then the socket's backlog.
        QObject::disconnect(h.peer.link(), &QTcpSocket::readyRead, &h.peer, nullptr);
        h.peer.link()->setReadBufferSize(1);
        for (qint64 size = Winsock::kMaxUnsentBytes; size > 0; size /= 2)
            while (h.session.Winsock1().sendData(QByteArray(size, 'T')))
                QCoreApplication::processEvents();
        h.session.send();
        QCOMPARE(h.events(), (QStringList{kConnected, kSendFail}));
        QVERIFY(!h.session.isStatusAwaited());
    }

    // While a handler runs (one that waits for a box's OK, say), a flooding peer is held back by TCP instead
    // of filling memory; afterwards it all comes.
    void readAheadIsBoundedWhileHandlerRuns() {
        constexpr qint64 kFlood = 32 << 20; // well beyond what the system's loopback buffers hold
        Loopback link;
        qint64 delivered = 0;
        QObject::connect(&link.winsock, &Winsock::dataArrival, &link.winsock,
                         [&delivered](const QByteArray& bytes) { delivered += bytes.size(); });
        QTcpSocket* peer = link.connect();
        QVERIFY(peer != nullptr);
        link.gate.deliver([&] {
            peer->write(QByteArray(kFlood, 'F'));
            QTest::qWait(1000);
            QCOMPARE(delivered, 0);
            QVERIFY2(peer->bytesToWrite() > kFlood / 2, qPrintable(QString::number(peer->bytesToWrite())));
        });
        QTRY_COMPARE_WITH_TIMEOUT(delivered, kFlood, 10000);
    }
    // A peer gone off the network with data unacknowledged ends the connection, as a close, within about
    // kPeerSilenceLimitMs instead of the system's quarter of an hour.
    void silentPeerEndsConnection() {
        const testsupport::SilentLoopbackNamespace own;
        if (!own.failure().empty())
            QSKIP(own.failure().c_str());
        Loopback link;
        bool closed = false;
        QObject::connect(&link.winsock, &Winsock::closed, &link.winsock, [&closed] { closed = true; });
        QVERIFY(link.connect() != nullptr);
        // `ip` started from this thread takes down the namespace's loopback, the peer's only way here.
        QCOMPARE(QProcess::execute(u"ip"_s, {u"link"_s, u"set"_s, u"lo"_s, u"down"_s}), 0);
        QVERIFY(link.winsock.sendData("R"));
        QTRY_VERIFY_WITH_TIMEOUT(closed, Winsock::kPeerSilenceLimitMs + 15000);
    }

    // --- What the session makes of a peer's bytes
    // A clock that moves on at every reading, and a user who takes 5 s over a refused value: the
    // store, the log line and the day file still place the reply at the one moment it came.
    void oneMomentPerReply() {
        Linked h;
        QVERIFY(h.connect());
        h.session.setWriteToFile(true);
        h.clock.stepMs = 1;
        QSignalSpy refused(&h.session, &ClientSession::displayRefused);
        QObject::connect(&h.session, &ClientSession::displayRefused, &h.session,
                         [&h] { h.clock.utc = h.clock.utc.addSecs(5); });
        const QDateTime came = h.clock.utc;
        QVERIFY(h.arrive(reply({{0, "05"}}), 6));
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused.first().first().toString(), kErrorText);
        const QString stamp = u"["_s + came.time().toString(u"hh:mm:ss.zzz"_s) + u"]"_s;
        QCOMPARE(h.lines().at(1), stamp + kRecv);
        QCOMPARE(h.session.liveReplies().store().msAt(0), came.toMSecsSinceEpoch());
        QFile file(h.programDir.filePath(u"Log/20261206.txt"_s));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readLine(), (stamp + kRecv + u"\r\n"_s).toLatin1());
    }
    void endWhileToldEndsReplyThere_data() {
        columns<QByteArray>("bytes");
        QTest::newRow("refused input, then an output") << reply({{1, "05"}, {109, "99"}});
        QTest::newRow("refused last output") << reply({{111, "07"}});
    }
    // The program ends while the user is told of a refused value: nothing more of the reply is told,
    // logged or filed.
    void endWhileToldEndsReplyThere() {
        QFETCH(QByteArray, bytes);
        Linked h;
        QVERIFY(h.connect());
        h.session.setWriteToFile(true);
        QSignalSpy refused(&h.session, &ClientSession::displayRefused);
        QObject::connect(&h.session, &ClientSession::displayRefused, &h.session, [&h] { h.session.shutDown(); });
        QVERIFY(h.peer.send(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(refused.size(), 1, kWaitMs);
        QTest::qWait(kSettleMs);
        QCOMPARE(refused.size(), 1);
        QCOMPARE(h.events(), QStringList{kConnected});
        QVERIFY(!QFileInfo::exists(h.programDir.filePath(u"Log/20261206.txt"_s)));
    }
    void eachArrivalJudgedByItself_data() {
        columns<QList<int>, bool>("sizes", "peerCloses");
        for (int size : {1, 111, 112, 113, 224})
            QTest::addRow("%d bytes", size) << QList<int>{size} << false;
        QTest::newRow("60 then 52 bytes") << QList<int>{60, 52} << false;
        QTest::newRow("50 bytes, peer closes") << QList<int>{50} << true;
    }
    // Each arrival answers a status request of its own and must end its wait.
    void eachArrivalJudgedByItself() {
        QFETCH(QList<int>, sizes);
        QFETCH(bool, peerCloses);
        Linked h;
        // The file is named by the local date, the lines stamped in UTC.
        h.clock.local = QDate(2027, 1, 2);
        QVERIFY(h.connect());
        QSignalSpy inputs(&h.session, &ClientSession::inputShown);
        QSignalSpy counters(&h.session, &ClientSession::counterShown);
        QSignalSpy gaps(&h.session, &ClientSession::timeGapShown);
        const QByteArray baseline = reply({{0, "01"}, {12, "07"}, {60, "D204"}, {108, "01"}});
        // The level is read at each reply: at "List" nothing is filed.
        QVERIFY(h.arrive(baseline, 6));
        h.session.setWriteToFile(true);
        QVERIFY(h.arrive(baseline, 6));
        QStringList lines = h.lines();
        QList<QByteArray> replies{baseline};
        for (int size : std::as_const(sizes)) {
            h.session.send();
            QVERIFY(h.session.isStatusAwaited());
            // Closing at once: the bytes come with the close.
            QVERIFY(h.peer.send(QByteArray(size, '\0')));
            if (peerCloses)
                h.peer.link()->disconnectFromHost();
            QTRY_VERIFY_WITH_TIMEOUT(!h.session.isStatusAwaited(), kWaitMs);
            lines.append(kStamp + kSend + u"52 "_s);
            if (size == kReplySize)
                lines += block(replies.emplace_back(size, '\0'));
            else if (size > 1)
                lines.append(u"Different responce data length : %1 Bytes"_s.arg(size));
        }
        if (peerCloses)
            lines.append(kStamp + kClosed);
        QTRY_COMPARE_WITH_TIMEOUT(h.lines(), lines, kWaitMs);
        QTest::qWait(kSettleMs);
        QCOMPARE(h.lines(), lines);
        // Counters and time gaps are told again only when they change.
        const bool good = replies.size() > 1;
        QCOMPARE(inputs.size(), qsizetype{12} * (1 + replies.size()));
        QCOMPARE(inputs.at(qsizetype{12} * replies.size()), (QVariantList{0, good ? 0 : 1}));
        QCOMPARE(counters.size(), 12 + (good ? 1 : 0));
        QCOMPARE(counters.at(good ? 12 : 0), (QVariantList{0, good ? u"0"_s : u"7"_s}));
        QCOMPARE(gaps.size(), 12 + (good ? 1 : 0));
        QCOMPARE(gaps.at(good ? 12 : 0), (QVariantList{0, good ? u"0.00"_s : u"1.23"_s}));
        QByteArray filed;
        for (const QByteArray& r : std::as_const(replies))
            filed += (block(r).join(u"\r\n"_s) + u"\r\n"_s).toLatin1();
        QFile file(h.programDir.filePath(u"Log/20270102.txt"_s));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), filed);
    }
    // The outputs a reply shows are what the next output setting sends, greyed as 02.
    void outputSettingSendsWhatTheUnitSays() {
        Linked h;
        QVERIFY(h.connect());
        QVERIFY(h.arrive(QByteArray(108, '\0') + QByteArray::fromHex("02010001"), 6));
        h.session.setCommand(Command::OutputSetting);
        h.session.send();
        QCOMPARE(sent(h.events()), QStringList{u"54 02 01 00 01 "_s});
    }
    void failedFileWriteIsLogged() {
        Linked h;
        QVERIFY(h.connect());
        h.session.setWriteToFile(true);
        // Named by the fake clock's local date.
        const QString path = h.programDir.filePath(u"Log/20261206.txt"_s);
        QVERIFY(QFileInfo(path).dir().removeRecursively());
        const QByteArray bytes = reply({{0, "01"}});
        // The failure line comes from the same handler as the block.
        QVERIFY(h.arrive(bytes, 6));
        const QStringList added = h.lines().mid(1);
        QCOMPARE(added.mid(0, 6), block(bytes));
        QCOMPARE(added.size(), 7);
        const QString prefix = kStamp + u" Log File Write Fail!! "_s + path + u" : "_s;
        QVERIFY2(added[6].startsWith(prefix) && added[6].size() > prefix.size(), qPrintable(added[6]));
    }

    // --- Repeated sending
    void repeatSendsAtOnceThenWhatEachTickFinds() {
        constexpr int kTicks = 10;
        Linked h;
        QVERIFY(h.connect());
        QSignalSpy started(&h.session, &ClientSession::sendStarted);
        h.repeat(Command::CounterReset, kFast);
        QElapsedTimer clock;
        clock.start();
        h.session.send();
        // The send goes at once; the ticks come later, neither early nor coarsened.
        QCOMPARE(sent(h.events()), QStringList{kResetHex});
        QCOMPARE(started.first(), QVariantList{true});
        QTRY_VERIFY_WITH_TIMEOUT(sent(h.events()).size() >= 1 + kTicks, kWaitMs);
        const qint64 took = clock.elapsed();
        QVERIFY2(took >= kTicks * kFastMs - kFastMs / 2 && took <= qint64{5} * kTicks * kFastMs,
                 qPrintable(u"%1 ticks in %2 ms"_s.arg(kTicks).arg(took)));
        const QString output = u"54 00 01 00 00 "_s;
        h.session.setCommand(Command::OutputSetting);
        h.session.setOutput(1, 1);
        QTRY_VERIFY_WITH_TIMEOUT(sent(h.events()).count(output) >= 2, kWaitMs);
        h.session.setCommand(Command::CounterReset);
        QTRY_VERIFY_WITH_TIMEOUT(sent(h.events()).lastIndexOf(kResetHex) > sent(h.events()).lastIndexOf(output) + 1,
                                 kWaitMs);
        h.session.end();
        QVERIFY(!h.session.isRepeating());
        const QStringList lines = sent(h.events());
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromLatin1(h.peer.received.toHex(' ').toUpper() + ' '),
                                  lines.join(QString()), kWaitMs);
        QStringList order = lines;
        order.erase(std::unique(order.begin(), order.end()), order.end());
        QCOMPARE(order, (QStringList{kResetHex, output, kResetHex}));
        QTest::qWait(kSettleMs);
        QCOMPARE(sent(h.events()), lines);
    }
    // Any bytes end a status request's wait; an answer due with the next tick is taken first.
    void statusRequestWaitsForAnyData() {
        constexpr int kIntervalMs = 1000;
        Linked h;
        QVERIFY(h.connect());
        h.repeat(Command::StatusRequest, u"1"_s);
        Watch watch(h.session);
        h.session.send();
        QTest::qWait(kIntervalMs + kIntervalMs / 4);
        QCOMPARE(h.peer.received, QByteArray("R"));
        QVERIFY(h.session.isRepeating());
        QVERIFY(h.peer.send(QByteArray(1, '\x01')));
        QThread::msleep(2 * kIntervalMs + kIntervalMs / 4 - watch.clock.elapsed());
        // Well before the tick after, which would send even had this one skipped.
        QTRY_COMPARE_WITH_TIMEOUT(sent(h.events()).size(), 2, kIntervalMs / 2);
        // The second request waits for an answer of its own.
        QTest::qWait(kIntervalMs + kIntervalMs / 4);
        QCOMPARE(h.peer.received, QByteArray("RR"));
        QCOMPARE(sent(h.events()).size(), 2);
    }
    void closeWithRequestOutstandingStillReconnects_data() {
        columns<bool>("byPeer");
        QTest::newRow("Disconnect") << false;
        QTest::newRow("peer closes") << true;
    }
    // A request never answered must not hold the repetition once its connection is gone.
    void closeWithRequestOutstandingStillReconnects() {
        QFETCH(bool, byPeer);
        constexpr int kFailedTicks = 3;
        Linked h;
        QVERIFY(h.connect());
        Watch watch(h.session);
        QSignalSpy closed(&h.session, &ClientSession::closed);
        h.repeat(Command::StatusRequest, kFast);
        h.session.send();
        QTRY_COMPARE_WITH_TIMEOUT(h.peer.received, QByteArray("R"), kWaitMs);
        QVERIFY(h.session.isStatusAwaited());
        const quint16 port = h.peer.port();
        h.peer.server.close();
        if (byPeer)
            h.peer.link()->close();
        else
            h.session.disconnectFromUnit();
        QTRY_VERIFY_WITH_TIMEOUT(watch.events.count(kReconnecting) >= kFailedTicks, kWaitMs);
        QCOMPARE(closed.size(), 1);
        QVERIFY(!h.session.isConnected());
        QTRY_COMPARE_WITH_TIMEOUT(h.peer.live(), 0, kWaitMs);
        QVERIFY(h.session.isRepeating());
        QVERIFY(h.peer.listen(port));
        QTRY_COMPARE_WITH_TIMEOUT(h.peer.received, QByteArray("RR"), kWaitMs);
        h.session.end();
        // Per tick a failure and a reconnect line; the program's own close raises no close event later.
        const qsizetype closedAt = watch.events.indexOf(kClosed);
        const qsizetype connected = watch.events.indexOf(kConnected, closedAt);
        QVERIFY(closedAt >= 0 && connected > closedAt);
        QStringList between = watch.events.mid(closedAt + 1, connected - closedAt - 1);
        between.removeIf([](const QString& e) { return e.startsWith(" Socket Connect Fail!! "_L1); });
        QVERIFY(between.size() >= qsizetype{2} * kFailedTicks);
        for (qsizetype i = 0; i < between.size(); ++i)
            QCOMPARE(between[i], i % 2 == 0 ? kSendFail : kReconnecting);
        QCOMPARE(watch.events.mid(connected, 2), (QStringList{kConnected, kSend + u"52 "_s}));
    }
    // A send mid-interval re-applies it; the next tick still comes when it was due.
    void sendWhileRepeatingKeepsCount() {
        constexpr int kIntervalMs = 2000;
        Linked h;
        QVERIFY(h.connect());
        Watch watch(h.session);
        h.repeat(Command::CounterReset, u"2"_s);
        h.session.send();
        h.peer.link()->close();
        QTRY_VERIFY_WITH_TIMEOUT(h.session.isConnected() && watch.events.contains(kReconnecting), 3 * kIntervalMs);
        const qint64 tick = watch.atMs[watch.events.indexOf(kReconnecting)];
        QTest::qWait(int(std::max<qint64>(0, tick + kIntervalMs / 2 - watch.clock.elapsed())));
        h.session.send();
        const qsizetype sends = watch.events.count(kSend + kResetHex);
        QTRY_VERIFY_WITH_TIMEOUT(watch.events.count(kSend + kResetHex) > sends, 3 * kIntervalMs);
        h.session.end();
        const qint64 next = watch.atMs[watch.events.lastIndexOf(kSend + kResetHex)];
        QVERIFY2(next - tick < kIntervalMs + kIntervalMs / 4,
                 qPrintable(u"next tick %1 ms after the previous one"_s.arg(next - tick)));
    }

    // --- The ping test
    // The first line comes with the start's own echo, before any tick; then about one a second.
    void pingLogsAtOnceThenAboutOncePerSecond() {
        SessionHarness h;
        h.session.stopPing();
        QVERIFY(h.lines().isEmpty());
        h.session.setAddress(u"10.1.2.3"_s);
        h.icmp.resolve = [](const QByteArray&) { return std::optional<lumora::platform::Ipv4>(0x0A010203); };
        h.session.startPing();
        h.session.startPing();
        QTRY_COMPARE_WITH_TIMEOUT(h.lines(),
                                  QStringList(2, u"Reply From 10.1.2.3: Bytes=0 Time=0ms TTL=64"_s), 800);
        QCOMPARE(h.icmp.echoes.load(), 2);
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(h.lines().size(), 4, 5000);
        QVERIFY2(clock.elapsed() >= 1500 && clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
        h.session.stopPing();
        QCOMPARE(h.lines().filter(kPingEnd), QStringList{kPingEnd});
        QCOMPARE(h.lines().last(), kPingEnd);
        const qsizetype after = h.lines().size();
        QTest::qWait(1300);
        QCOMPARE(h.lines().size(), after);
    }
    void pingWaitsOffTheSession_data() {
        columns<bool, bool>("slowLookup", "close");
        QTest::newRow("slow lookup, Ping Stop") << true << false;
        QTest::newRow("slow echo, Ping Stop") << false << false;
        QTest::newRow("slow echo, program ends") << false << true;
    }
    // A slow lookup or echo holds a thread of its own, not the session; stop drops the awaited line.
    void pingWaitsOffTheSession() {
        QFETCH(bool, slowLookup);
        QFETCH(bool, close);
        SessionHarness h;
        QSemaphore answer;
        std::atomic<int> waiting = 0;
        std::atomic<int> left = 0;
        auto hold = [&] {
            ++waiting;
            // Bounded, so that a session that waits for it still ends the test.
            static_cast<void>(answer.tryAcquire(1, 5000));
            ++left;
        };
        const auto releaseHeld = qScopeGuard([&] {
            answer.release(waiting);
            QVERIFY(QTest::qWaitFor([&] { return left == waiting; }));
            QTest::qWait(50);
        });
        if (slowLookup)
            h.icmp.resolve = [&](const QByteArray&) {
                hold();
                return std::optional<lumora::platform::Ipv4>(0x7F000001);
            };
        else
            h.icmp.reply = [&](lumora::platform::Ipv4) {
                hold();
                return lumora::platform::EchoOutcome{};
            };
        QElapsedTimer started;
        started.start();
        h.session.startPing();
        QVERIFY2(started.elapsed() < 1000, qPrintable(QString::number(started.elapsed())));
        QTRY_COMPARE(waiting.load(), 1);
        QVERIFY(h.lines().isEmpty());
        if (close)
            h.session.shutDown();
        else
            h.session.stopPing();
        const QStringList expected = close ? QStringList{} : QStringList{kPingEnd};
        QCOMPARE(h.lines(), expected);
        answer.release();
        QTRY_COMPARE(left.load(), 1);
        QTest::qWait(200);
        QCOMPARE(h.lines(), expected);
    }
    // The system's ICMP layer against a silent 127.0.0.1: one request at a time, every 2.7 s or more.
    void pingSilentAddressInOwnNamespace() {
        const SilentLoopbackNamespace silent;
        if (!silent.failure().empty())
            QSKIP(silent.failure().c_str());
        const auto icmp = lumora::platform::makeSystemIcmpService();
        SessionHarness h;
        ClientSession session({.clock = h.clock, .settings = h.settings, .icmp = *icmp, .programDir = h.programDir.path()});
        session.setAddress(u"127.0.0.1"_s);
        Watch watch(session);
        session.startPing();
        QTRY_VERIFY_WITH_TIMEOUT(watch.atMs.size() >= 2, 10000);
        if (watch.events.first().startsWith("Ping: ICMP Not Available"_L1))
            QSKIP(qPrintable(u"this machine allows no ICMP socket: "_s + linesOf(session.logLines()).first()));
        session.stopPing();
        const QString noAnswer = u"No answer from 127.0.0.1"_s;
        QCOMPARE(linesOf(session.logLines()), (QStringList{noAnswer, noAnswer, kPingEnd}));
        for (const qint64 gap : {watch.atMs[0], watch.atMs[1] - watch.atMs[0]})
            QVERIFY2(gap >= 2700 && gap < 4500, qPrintable(QString::number(gap)));
        // The echo awaited at Ping Stop logs nothing when its time is up.
        QTest::qWait(3000);
        QCOMPARE(session.logLines().rowCount(), 3);
    }
};

LUMORA_SUITE_CLASS(tst_AppSession);
#include "tst_app_session.moc"
