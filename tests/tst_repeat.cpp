#include "windowfixture.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>

using testsupport::Harness;

namespace {

constexpr int kWaitMs = 10000;
// Long enough for several 50 ms ticks to have come, had they been due.
constexpr int kQuietMs = 400;
constexpr int kFastMs = 50;
const QString kFast = QStringLiteral("0.05");

const QString kSend = QStringLiteral(" SEND : ");
const QString kClosed = QStringLiteral(" Socket Closed!!");
const QString kConnected = QStringLiteral(" Socket Connected!!");
const QString kSendFail = QStringLiteral(" Socket Closed... Send Fail!!");
const QString kReconnecting = QStringLiteral(" Socket Reconnecting.......");
const QString kCounterResetHex = QStringLiteral("43 41 ");
const QByteArray kCounterReset = QByteArray::fromHex("4341");

constexpr int kStatusRequest = 0;
constexpr int kOutputSetting = 1;
constexpr int kCounterResetIndex = 2;

// A unit stand-in on loopback: records what arrives on each connection and
// answers only when told to.
struct Peer {
    QTcpServer server;
    QList<QTcpSocket*> links;
    QList<QByteArray> received;

    Peer() {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* link = server.nextPendingConnection()) {
                const qsizetype at = received.size();
                received.append(QByteArray());
                links.append(link);
                QObject::connect(link, &QTcpSocket::readyRead, &server,
                                 [this, link, at] { received[at] += link->readAll(); });
            }
        });
    }
    bool listen(quint16 port = 0) { return server.listen(QHostAddress::LocalHost, port); }
    void closeLinks() {
        for (QTcpSocket* link : std::as_const(links))
            link->close();
    }
    // Frames carry no length; the command byte tells how long each one is.
    QList<QByteArray> frames(qsizetype link) const {
        QList<QByteArray> out;
        const QByteArray& stream = received.value(link);
        for (qsizetype i = 0; i < stream.size();) {
            const qsizetype length = stream[i] == 'T' ? 5 : stream[i] == 'C' ? 2 : 1;
            out.append(stream.mid(i, length));
            i += length;
        }
        return out;
    }
    QList<QByteArray> allFrames() const {
        QList<QByteArray> out;
        for (qsizetype i = 0; i < received.size(); ++i)
            out += frames(i);
        return out;
    }
};

// Each log line as it is added, with when, and whether Send was usable then.
struct Seen {
    QString event;
    qint64 atMs = 0;
    bool sendEnabled = false;
};

struct LogWatch {
    QElapsedTimer clock;
    QList<Seen> seen;

    explicit LogWatch(Harness& h) {
        clock.start();
        QObject::connect(
            &h.window->logLines(), &QAbstractItemModel::rowsInserted, h.window.get(),
            [this, &h](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row) {
                    const QString line = h.window->logLines().line(row);
                    seen.append({line.mid(14), clock.elapsed(), h.button("cmdSend")->isEnabled()});
                }
            });
    }
    qsizetype indexOf(const QString& event, qsizetype from = 0) const {
        for (qsizetype i = from; i < seen.size(); ++i) {
            if (seen[i].event.startsWith(event))
                return i;
        }
        return -1;
    }
};

void type(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

// Starts a window and connects it to the peer as a user would.
bool startConnected(Harness& h, quint16 port) {
    h.start();
    type(h.edit("txtDestIP"), QStringLiteral("127.0.0.1"));
    type(h.edit("txtDestPort"), QString::number(port));
    h.button("cmdConnect")->click();
    return QTest::qWaitFor([&] { return h.button("cmdSend")->isEnabled(); }, kWaitMs);
}

QAbstractButton* option(const Harness& h, const char* group, int index) {
    return h.find<QAbstractButton>(group, index);
}

void chooseRepeat(Harness& h, const QString& interval) {
    option(h, "optInterval", 1)->click();
    type(h.cboTime()->lineEdit(), interval);
}

// How many of the two mode options and the interval box can be used: 0 when
// locked, 3 when free.
int modeControlsEnabled(const Harness& h) {
    return int(option(h, "optInterval", 0)->isEnabled()) + int(option(h, "optInterval", 1)->isEnabled()) +
           int(h.cboTime()->isEnabled());
}

// The hex text of every SEND line, in order.
QStringList sent(const Harness& h) {
    QStringList out;
    for (const QString& event : h.events()) {
        if (event.startsWith(kSend))
            out.append(event.mid(kSend.size()));
    }
    return out;
}

// The colour set for the box, not the greyed one that Qt shows while disabled.
QColor background(const Harness& h) {
    return h.cboTime()->palette().color(QPalette::Active, QPalette::Base);
}

template <typename T> QList<T> runs(const QList<T>& items) {
    QList<T> out;
    for (const T& item : items) {
        if (out.isEmpty() || out.back() != item)
            out.append(item);
    }
    return out;
}

} // namespace

class tst_Repeat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void repeatSendsAtClickThenEachTick_data();
    void repeatSendsAtClickThenEachTick();
    void framesFollowChangesWhileRepeating();
    void statusRequestWaitsForAnyData_data();
    void statusRequestWaitsForAnyData();
    void noIntervalSendsOnceUntilEnd_data();
    void noIntervalSendsOnceUntilEnd();
    void modeChangeSetsLabelsAndBackground();
    void endInEachState_data();
    void endInEachState();
    void oneTimeSendLocksModeUntilEnd();
    void peerCloseWhileRepeatingReconnects();
    void closeWithRequestOutstandingStillReconnects_data();
    void closeWithRequestOutstandingStillReconnects();
    void intervalFromBoxAndCadence();
    void sendWhileRepeatingKeepsCount();
};

void tst_Repeat::repeatSendsAtClickThenEachTick_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QString>("hex");
    QTest::newRow("counter reset") << kCounterResetIndex << QList<int>{} << kCounterResetHex;
    QTest::newRow("output setting, 01 and 04 ticked")
        << kOutputSetting << QList<int>{0, 3} << QStringLiteral("54 01 00 00 01 ");
    QTest::newRow("output setting, none ticked")
        << kOutputSetting << QList<int>{} << QStringLiteral("54 00 00 00 00 ");
}

void tst_Repeat::repeatSendsAtClickThenEachTick() {
    QFETCH(int, command);
    QFETCH(QList<int>, ticked);
    QFETCH(QString, hex);
    const QByteArray frame = QByteArray::fromHex(hex.toLatin1());
    constexpr int kTicks = 5;
    Peer peer;
    Harness h;
    QVERIFY(peer.listen() && startConnected(h, peer.server.serverPort()));
    option(h, "optCommand", command)->click();
    for (int box : ticked)
        option(h, "chkDOValue", box)->click();
    chooseRepeat(h, kFast);

    QElapsedTimer clock;
    clock.start();
    h.button("cmdSend")->click();
    // The click sends at once; the ticks come later.
    QCOMPARE(sent(h), QStringList{hex});
    QVERIFY(!h.button("cmdSend")->isEnabled());
    QVERIFY(h.window->SendTimer().isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(sent(h).size() >= 1 + kTicks, kWaitMs);
    QVERIFY2(clock.elapsed() >= kTicks * kFastMs - kFastMs / 2, "ticks came before they were due");
    h.button("cmdEnd")->click();

    const QStringList lines = sent(h);
    QTRY_COMPARE(peer.allFrames().size(), lines.size());
    QCOMPARE(lines, QStringList(lines.size(), hex));
    QCOMPARE(peer.allFrames(), QList<QByteArray>(lines.size(), frame));
    QTest::qWait(kQuietMs);
    QCOMPARE(sent(h).size(), lines.size());
}

void tst_Repeat::framesFollowChangesWhileRepeating() {
    Peer peer;
    Harness h;
    QVERIFY(peer.listen() && startConnected(h, peer.server.serverPort()));
    option(h, "optCommand", kCounterResetIndex)->click();
    chooseRepeat(h, kFast);
    h.button("cmdSend")->click();
    QTRY_VERIFY_WITH_TIMEOUT(sent(h).size() >= 3, kWaitMs);

    const QString output = QStringLiteral("54 00 01 00 00 ");
    option(h, "optCommand", kOutputSetting)->click();
    option(h, "chkDOValue", 1)->click();
    QTRY_VERIFY_WITH_TIMEOUT(sent(h).count(output) >= 2, kWaitMs);
    option(h, "optCommand", kCounterResetIndex)->click();
    QTRY_VERIFY_WITH_TIMEOUT(sent(h).lastIndexOf(kCounterResetHex) > sent(h).lastIndexOf(output) + 1,
                             kWaitMs);
    h.button("cmdEnd")->click();

    QCOMPARE(runs(sent(h)), (QStringList{kCounterResetHex, output, kCounterResetHex}));
    QTRY_COMPARE(peer.allFrames().size(), sent(h).size());
    QCOMPARE(runs(peer.allFrames()),
             (QList<QByteArray>{kCounterReset, QByteArray::fromHex("5400010000"), kCounterReset}));
}

void tst_Repeat::statusRequestWaitsForAnyData_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("one byte") << QByteArray(1, '\x01');
    QTest::newRow("50 bytes") << QByteArray(50, '\0');
    QTest::newRow("112-byte reply") << QByteArray(112, '\0');
}

void tst_Repeat::statusRequestWaitsForAnyData() {
    QFETCH(QByteArray, answer);
    Peer peer;
    Harness h;
    QVERIFY(peer.listen() && startConnected(h, peer.server.serverPort()));
    QVERIFY(option(h, "optCommand", kStatusRequest)->isChecked());
    chooseRepeat(h, kFast);
    h.button("cmdSend")->click();
    QTest::qWait(kQuietMs);
    QCOMPARE(sent(h), QStringList{QStringLiteral("52 ")});
    QCOMPARE(peer.frames(0), QList<QByteArray>{QByteArray("R")});
    QVERIFY(h.window->mbStatusWait);
    QVERIFY(h.window->SendTimer().isEnabled());

    QCOMPARE(peer.links.constFirst()->write(answer), qint64(answer.size()));
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames(0).size(), 2, kWaitMs);
    // The second request waits for an answer of its own.
    QTest::qWait(kQuietMs);
    QCOMPARE(peer.frames(0).size(), 2);
    QCOMPARE(sent(h).size(), 2);
}

void tst_Repeat::noIntervalSendsOnceUntilEnd_data() {
    QTest::addColumn<QString>("interval");
    QTest::newRow("empty") << QString();
    QTest::newRow("0") << QStringLiteral("0");
    QTest::newRow(".") << QStringLiteral(".");
}

void tst_Repeat::noIntervalSendsOnceUntilEnd() {
    QFETCH(QString, interval);
    Peer peer;
    Harness h;
    QVERIFY(peer.listen() && startConnected(h, peer.server.serverPort()));
    option(h, "optCommand", kCounterResetIndex)->click();
    chooseRepeat(h, interval);
    h.button("cmdSend")->click();
    QCOMPARE(h.window->SendTimer().interval(), 0);
    QVERIFY(h.window->SendTimer().isEnabled());
    QTest::qWait(kQuietMs);
    QCOMPARE(sent(h).size(), 1);
    QCOMPARE(peer.allFrames(), QList<QByteArray>{kCounterReset});
    QVERIFY(!h.button("cmdSend")->isEnabled());
    QCOMPARE(modeControlsEnabled(h), 0);

    h.button("cmdEnd")->click();
    QVERIFY(!h.window->SendTimer().isEnabled());
    QVERIFY(h.button("cmdSend")->isEnabled());
    QCOMPARE(modeControlsEnabled(h), 3);
    option(h, "optInterval", 0)->click();
    QVERIFY(option(h, "optInterval", 0)->isChecked());
}

void tst_Repeat::modeChangeSetsLabelsAndBackground() {
    Harness h;
    h.start();
    const QColor menu = platform::systemColour(platform::SystemColour::Menu);
    QVERIFY2(menu != QColor(0xFFFFFF), "the menu colour must differ from white for this test to tell");
    option(h, "optInterval", 1)->click();
    QVERIFY(h.find<QWidget>("lblTime", 0)->isEnabled());
    QVERIFY(h.find<QWidget>("lblTime", 1)->isEnabled());
    QVERIFY(h.cboTime()->isEnabled());
    QCOMPARE(background(h), QColor(0xFFFFFF));
    option(h, "optInterval", 0)->click();
    QVERIFY(!h.find<QWidget>("lblTime", 0)->isEnabled());
    QVERIFY(!h.find<QWidget>("lblTime", 1)->isEnabled());
    QVERIFY(!h.cboTime()->isEnabled());
    QCOMPARE(background(h), menu);
}

void tst_Repeat::endInEachState_data() {
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<bool>("send");
    QTest::addColumn<bool>("peerCloses");
    QTest::newRow("free, one-time") << false << false << false;
    QTest::newRow("free, repeat chosen") << true << false << false;
    QTest::newRow("locked") << false << true << false;
    QTest::newRow("repeating") << true << true << false;
    QTest::newRow("locked, peer closed") << false << true << true;
    QTest::newRow("repeating, peer closed") << true << true << true;
}

// The status request is sent and never answered, so a repeat sends once and
// the status-wait flag is set throughout.
void tst_Repeat::endInEachState() {
    QFETCH(bool, repeat);
    QFETCH(bool, send);
    QFETCH(bool, peerCloses);
    Peer peer;
    Harness h;
    QVERIFY(peer.listen() && startConnected(h, peer.server.serverPort()));
    // There and back, so that the box has the menu colour End must keep.
    chooseRepeat(h, kFast);
    if (!repeat)
        option(h, "optInterval", 0)->click();
    if (send)
        h.button("cmdSend")->click();
    if (peerCloses) {
        QTRY_COMPARE_WITH_TIMEOUT(peer.links.size(), 1, kWaitMs);
        // Refuse the repetition's reconnects, so the window stays closed.
        peer.server.close();
        peer.closeLinks();
        QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kClosed), kWaitMs);
    }
    const QColor before = background(h);
    const bool waiting = h.window->mbStatusWait;
    // A close ends the wait: no reply can come on a closed connection.
    QCOMPARE(waiting, send && !peerCloses);

    QAbstractButton* end = h.button("cmdEnd");
    QCOMPARE(end->isEnabled(), !peerCloses);
    if (end->isEnabled())
        end->click();
    else
        h.window->gate().deliver([&h] { h.window->cmdEnd_Click(); });

    QVERIFY(!h.window->SendTimer().isEnabled());
    QCOMPARE(h.button("cmdSend")->isEnabled(), !peerCloses);
    QCOMPARE(modeControlsEnabled(h), 3);
    QCOMPARE(h.find<QWidget>("lblTime", 0)->isEnabled(), repeat);
    QCOMPARE(h.find<QWidget>("lblTime", 1)->isEnabled(), repeat);
    QCOMPARE(background(h), before);
    QCOMPARE(h.window->mbStatusWait, waiting);
}

void tst_Repeat::oneTimeSendLocksModeUntilEnd() {
    Peer peer;
    Harness h;
    QVERIFY(peer.listen() && startConnected(h, peer.server.serverPort()));
    option(h, "optCommand", kCounterResetIndex)->click();
    h.button("cmdSend")->click();
    h.button("cmdSend")->click();
    QCOMPARE(sent(h), QStringList(2, kCounterResetHex));
    QVERIFY(h.button("cmdSend")->isEnabled());
    QVERIFY(!h.window->SendTimer().isEnabled());
    option(h, "optInterval", 1)->click();
    QVERIFY(option(h, "optInterval", 0)->isChecked());
    QCOMPARE(modeControlsEnabled(h), 0);

    // Closed meanwhile: End is out of reach until a new connection.
    QTRY_COMPARE_WITH_TIMEOUT(peer.links.size(), 1, kWaitMs);
    peer.closeLinks();
    QTRY_VERIFY_WITH_TIMEOUT(!h.button("cmdEnd")->isEnabled(), kWaitMs);
    h.button("cmdEnd")->click();
    QCOMPARE(modeControlsEnabled(h), 0);
    h.button("cmdConnect")->click();
    QTRY_VERIFY_WITH_TIMEOUT(h.button("cmdEnd")->isEnabled(), kWaitMs);
    QCOMPARE(modeControlsEnabled(h), 0);

    h.button("cmdEnd")->click();
    option(h, "optInterval", 1)->click();
    QVERIFY(option(h, "optInterval", 1)->isChecked());
    QVERIFY(h.cboTime()->isEnabled());
}

void tst_Repeat::peerCloseWhileRepeatingReconnects() {
    constexpr int kFailedTicks = 3;
    Peer peer;
    QVERIFY(peer.listen());
    const quint16 port = peer.server.serverPort();
    Harness h;
    QVERIFY(startConnected(h, port));
    LogWatch watch(h);
    option(h, "optCommand", kCounterResetIndex)->click();
    chooseRepeat(h, kFast);
    h.button("cmdSend")->click();
    QTRY_VERIFY_WITH_TIMEOUT(peer.frames(0).size() >= 2, kWaitMs);

    peer.server.close();
    peer.closeLinks();
    QTRY_VERIFY_WITH_TIMEOUT(h.events().count(kSendFail) >= kFailedTicks, kWaitMs);
    QVERIFY(!h.button("cmdSend")->isEnabled());
    QVERIFY(!h.button("cmdEnd")->isEnabled());
    QVERIFY(h.window->SendTimer().isEnabled());

    const qsizetype beforeClose = peer.allFrames().size();
    QVERIFY(peer.listen(port));
    QTRY_VERIFY_WITH_TIMEOUT(peer.allFrames().size() >= beforeClose + 2, kWaitMs);
    h.button("cmdEnd")->click();

    // Between the close and the new connection: per tick, the failure line
    // and then the reconnect line (a refused attempt may say so in between).
    const qsizetype closed = watch.indexOf(kClosed);
    const qsizetype connected = watch.indexOf(kConnected, closed);
    QVERIFY(closed >= 0 && connected > closed);
    QStringList between;
    for (qsizetype i = closed + 1; i < connected; ++i) {
        if (watch.seen[i].event == kSendFail || watch.seen[i].event == kReconnecting ||
            watch.seen[i].event.startsWith(kSend))
            between.append(watch.seen[i].event);
    }
    QVERIFY(between.size() >= 2 * kFailedTicks);
    for (qsizetype i = 0; i < between.size(); ++i)
        QCOMPARE(between[i], i % 2 == 0 ? kSendFail : kReconnecting);

    // The connect event enables Send although repeating; the next tick that
    // sends disables it again.
    QVERIFY(watch.seen[connected].sendEnabled);
    const qsizetype resumed = watch.indexOf(kSend, connected);
    QVERIFY(resumed > connected);
    QVERIFY(!watch.seen[resumed].sendEnabled);
    QCOMPARE(watch.seen[resumed].event, kSend + kCounterResetHex);
}

void tst_Repeat::closeWithRequestOutstandingStillReconnects_data() {
    QTest::addColumn<bool>("byPeer");
    QTest::newRow("peer closes") << true;
    QTest::newRow("Disconnect clicked") << false;
}

// A request the unit never answered must not hold the repetition once the
// connection it went out on is gone: the ticks go on failing and reconnecting.
void tst_Repeat::closeWithRequestOutstandingStillReconnects() {
    QFETCH(bool, byPeer);
    Peer peer;
    QVERIFY(peer.listen());
    const quint16 port = peer.server.serverPort();
    Harness h;
    QVERIFY(startConnected(h, port));
    chooseRepeat(h, kFast);
    h.button("cmdSend")->click();
    QTRY_COMPARE_WITH_TIMEOUT(peer.frames(0).size(), 1, kWaitMs);
    QVERIFY(h.window->mbStatusWait);

    peer.server.close();
    if (byPeer)
        peer.closeLinks();
    else
        h.button("cmdDisconnect")->click();
    QTRY_VERIFY_WITH_TIMEOUT(h.events().count(kReconnecting) >= 2, kWaitMs);
    QVERIFY(peer.listen(port));
    QTRY_VERIFY_WITH_TIMEOUT(peer.allFrames().size() >= 2, kWaitMs);
    QCOMPARE(peer.allFrames().constLast(), QByteArray("R"));
}

void tst_Repeat::intervalFromBoxAndCadence() {
    constexpr int kTicks = 20;
    Peer peer;
    Harness h;
    QVERIFY(peer.listen() && startConnected(h, peer.server.serverPort()));
    LogWatch watch(h);
    option(h, "optCommand", kCounterResetIndex)->click();
    chooseRepeat(h, kFast);
    h.button("cmdSend")->click();
    QCOMPARE(h.window->SendTimer().interval(), kFastMs);
    QTRY_VERIFY_WITH_TIMEOUT(sent(h).size() >= 1 + kTicks, kWaitMs);
    h.button("cmdEnd")->click();

    QList<qint64> at;
    for (const Seen& s : std::as_const(watch.seen)) {
        if (s.event.startsWith(kSend))
            at.append(s.atMs);
    }
    QVERIFY(at.size() > kTicks);
    const qint64 took = at[kTicks] - at[0];
    QVERIFY2(took >= kTicks * kFastMs - kFastMs, qPrintable(QStringLiteral("%1 ms").arg(took)));
    QVERIFY2(took <= 5 * kTicks * kFastMs, qPrintable(QStringLiteral("%1 ms").arg(took)));
}

// A Send click in the middle of an interval re-applies the same interval; the
// next tick still comes when it was due, not a whole interval after the click.
void tst_Repeat::sendWhileRepeatingKeepsCount() {
    constexpr int kIntervalMs = 2000;
    Peer peer;
    Harness h;
    QVERIFY(peer.listen() && startConnected(h, peer.server.serverPort()));
    LogWatch watch(h);
    option(h, "optCommand", kCounterResetIndex)->click();
    chooseRepeat(h, QStringLiteral("2"));
    h.button("cmdSend")->click();
    QTRY_COMPARE_WITH_TIMEOUT(peer.links.size(), 1, kWaitMs);
    peer.closeLinks();
    QTRY_VERIFY_WITH_TIMEOUT(!h.button("cmdSend")->isEnabled() && h.events().contains(kClosed), kWaitMs);

    // The first tick finds the socket closed and reconnects.
    QTRY_VERIFY_WITH_TIMEOUT(h.button("cmdSend")->isEnabled(), 3 * kIntervalMs);
    const qsizetype reconnect = watch.indexOf(kReconnecting);
    QVERIFY(reconnect >= 0);
    const qint64 tick = watch.seen[reconnect].atMs;
    QTest::qWait(int(std::max<qint64>(0, tick + kIntervalMs / 2 - watch.clock.elapsed())));
    h.button("cmdSend")->click();
    QVERIFY(!h.button("cmdSend")->isEnabled());
    QCOMPARE(h.window->SendTimer().interval(), kIntervalMs);
    const qsizetype clicked = watch.indexOf(kSend, reconnect);
    QVERIFY(clicked > reconnect);
    QTRY_VERIFY_WITH_TIMEOUT(watch.indexOf(kSend, clicked + 1) > clicked, 3 * kIntervalMs);
    h.button("cmdEnd")->click();
    const qint64 next = watch.seen[watch.indexOf(kSend, clicked + 1)].atMs;
    QVERIFY2(next - tick < kIntervalMs + kIntervalMs / 4,
             qPrintable(QStringLiteral("next tick %1 ms after the previous one").arg(next - tick)));
}

LUMORA_TEST_MAIN(tst_Repeat)
#include "tst_repeat.moc"
