// Repeated sending through the window against a peer on loopback: the click
// and the ticks, End in each state, the mode controls, and reconnecting while
// repeating.

#include "loopbackpeer.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

using namespace testsupport;

namespace {

constexpr int kWaitMs = Harness::kWaitMs;
// Long enough for several 50 ms ticks to have come, had they been due.
constexpr int kQuietMs = 400;
constexpr int kFastMs = 50;
const QString kFast = QStringLiteral("0.05");

const QString kSend = QStringLiteral(" SEND : ");
const QString kClosed = QStringLiteral(" Socket Closed!!");
const QString kConnected = QStringLiteral(" Socket Connected!!");
const QString kSendFail = QStringLiteral(" Socket Closed... Send Fail!!");
const QString kReconnecting = QStringLiteral(" Socket Reconnecting.......");
const QString kResetHex = QStringLiteral("43 41 ");
const QByteArray kReset = QByteArray::fromHex("4341");

constexpr int kOutputSetting = 1;
constexpr int kCounterReset = 2;

// Each log line as it is added, with when, and whether Send was usable then.
struct LogWatch {
    QElapsedTimer clock;
    QStringList events;
    QList<qint64> atMs;
    QList<bool> sendEnabled;

    explicit LogWatch(Harness& h) {
        clock.start();
        QObject::connect(&h.probe().logLines(), &lumora::log::LogListModel::linesAppended, h.window.get(),
                         [this, &h](int first, int last) {
                             for (int row = first; row <= last; ++row) {
                                 events.append(h.probe().logLines().line(row).mid(14));
                                 atMs.append(clock.elapsed());
                                 sendEnabled.append(h.button("cmdSend")->isEnabled());
                             }
                         });
    }
};

void chooseRepeat(Harness& h, const QString& interval) {
    h.click("optInterval", 1);
    Harness::type(h.cboTime()->lineEdit(), interval);
}

// How many of the two mode options and the interval box can be used: 0 when
// locked; when free 3, or 2 in one-time mode, whose interval box is greyed.
int modeControlsEnabled(const Harness& h) {
    return int(h.find<QWidget>("optInterval", 0)->isEnabled()) +
           int(h.find<QWidget>("optInterval", 1)->isEnabled()) + int(h.cboTime()->isEnabled());
}

// The hex text of every SEND line, in order.
QStringList sent(const Harness& h) {
    return h.events().filter(kSend).replaceInStrings(kSend, QString());
}

// The colour set for the box, not the greyed one that Qt shows while disabled.
QColor background(const Harness& h) {
    return h.cboTime()->palette().color(QPalette::Active, QPalette::Base);
}

} // namespace

class tst_Repeat : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void repeatSendsAtClickThenWhatEachTickFinds();
    void statusRequestWaitsForAnyData_data();
    void statusRequestWaitsForAnyData();
    void replyWaitingWhenTickFallsDueIsTakenFirst();
    void endInEachState_data();
    void endInEachState();
    void closeWithRequestOutstandingStillReconnects_data();
    void closeWithRequestOutstandingStillReconnects();
    void sendWhileRepeatingKeepsCount();
    void refusedByteInEveryReplyLetsUserOut_data();
    void refusedByteInEveryReplyLetsUserOut();
};

void tst_Repeat::repeatSendsAtClickThenWhatEachTickFinds() {
    constexpr int kTicks = 10;
    LoopbackPeer peer;
    Harness h;
    QVERIFY(h.startConnected(peer));
    h.click("optCommand", kCounterReset);
    chooseRepeat(h, kFast);
    QElapsedTimer clock;
    clock.start();
    h.click("cmdSend");
    // The click sends at once; the ticks come later, neither early nor coarsened.
    QCOMPARE(sent(h), QStringList{kResetHex});
    QVERIFY(!h.button("cmdSend")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(sent(h).size() >= 1 + kTicks, kWaitMs);
    const qint64 took = clock.elapsed();
    QVERIFY2(took >= kTicks * kFastMs - kFastMs / 2 && took <= 5 * kTicks * kFastMs,
             qPrintable(QStringLiteral("%1 ticks in %2 ms").arg(kTicks).arg(took)));

    const QString output = QStringLiteral("54 00 01 00 00 ");
    h.click("optCommand", kOutputSetting);
    h.click("chkDOValue", 1);
    QTRY_VERIFY_WITH_TIMEOUT(sent(h).count(output) >= 2, kWaitMs);
    h.click("optCommand", kCounterReset);
    QTRY_VERIFY_WITH_TIMEOUT(sent(h).lastIndexOf(kResetHex) > sent(h).lastIndexOf(output) + 1, kWaitMs);
    h.click("cmdEnd");
    const QStringList lines = sent(h);
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromLatin1(peer.received.toHex(' ').toUpper() + ' '),
                              lines.join(QString()), kWaitMs);
    QStringList order = lines;
    order.erase(std::unique(order.begin(), order.end()), order.end());
    QCOMPARE(order, (QStringList{kResetHex, output, kResetHex}));
    QTest::qWait(kQuietMs);
    QCOMPARE(sent(h), lines);
}

void tst_Repeat::statusRequestWaitsForAnyData_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("one byte") << QByteArray(1, '\x01');
    QTest::newRow("50 bytes") << QByteArray(50, '\0');
    QTest::newRow("112-byte reply") << QByteArray(112, '\0');
}

void tst_Repeat::statusRequestWaitsForAnyData() {
    QFETCH(QByteArray, answer);
    LoopbackPeer peer;
    Harness h;
    QVERIFY(h.startConnected(peer));
    chooseRepeat(h, kFast);
    h.click("cmdSend");
    QTest::qWait(kQuietMs);
    QCOMPARE(sent(h), QStringList{QStringLiteral("52 ")});
    QCOMPARE(peer.received, QByteArray("R"));
    QVERIFY(h.probe().SendTimer().isEnabled());

    QVERIFY(peer.send(answer));
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("RR"), kWaitMs);
    // The second request waits for an answer of its own.
    QTest::qWait(kQuietMs);
    QCOMPARE(peer.received, QByteArray("RR"));
    QCOMPARE(sent(h).size(), 2);
}

// The window was busy while both the reply and the next tick came due: the
// reply is taken first, so that tick finds no request outstanding and sends.
void tst_Repeat::replyWaitingWhenTickFallsDueIsTakenFirst() {
    constexpr int kIntervalMs = 1000;
    LoopbackPeer peer;
    Harness h;
    QVERIFY(h.startConnected(peer));
    chooseRepeat(h, QStringLiteral("1"));
    LogWatch watch(h);
    h.click("cmdSend");
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("R"), kWaitMs);
    QVERIFY(peer.send(QByteArray(112, '\0')));
    QThread::msleep(kIntervalMs + kIntervalMs / 4 - watch.clock.elapsed());
    // Well before the tick after, which would send even had this one skipped.
    QTRY_COMPARE_WITH_TIMEOUT(sent(h).size(), 2, kIntervalMs / 2);
    const auto firstStarting = [&](const QString& start) {
        return std::find_if(watch.events.begin(), watch.events.end(),
                            [&](const QString& line) { return line.startsWith(start); }) -
               watch.events.begin();
    };
    QVERIFY(firstStarting(QStringLiteral(" RECV")) < watch.events.lastIndexOf(kSend + QStringLiteral("52 ")));
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

// An empty interval arms the timer, which then never ticks: a repeat sends
// once and stays in Repeating until End.
void tst_Repeat::endInEachState() {
    QFETCH(bool, repeat);
    QFETCH(bool, send);
    QFETCH(bool, peerCloses);
    LoopbackPeer peer;
    Harness h;
    QVERIFY(h.startConnected(peer));
    h.click("optCommand", kCounterReset);
    // There and back for one-time, so that the box has the menu colour.
    chooseRepeat(h, QString());
    if (!repeat)
        h.click("optInterval", 0);
    const QColor colour = repeat ? QColor(Qt::white) : lumora::platform::widgets::systemColour(lumora::platform::widgets::SystemColour::Menu);
    QVERIFY2(repeat || colour != QColor(Qt::white),
             "the menu colour must differ from white for this test to tell");
    QCOMPARE(background(h), colour);
    QCOMPARE(h.cboTime()->isEnabled(), repeat);
    if (send) {
        h.click("cmdSend");
        QTRY_COMPARE_WITH_TIMEOUT(peer.received, kReset, kWaitMs);
    }
    if (peerCloses) {
        // Refused reconnects keep the window closed.
        peer.server.close();
        peer.link()->close();
        QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kClosed), kWaitMs);
    }
    QTest::qWait(kQuietMs);
    QCOMPARE(peer.received, send ? kReset : QByteArray());
    QCOMPARE(h.probe().SendTimer().isEnabled(), repeat && send);
    // One-time sends may go on; the mode stays locked, even across a close.
    QCOMPARE(h.button("cmdSend")->isEnabled(), !(repeat && send) && !peerCloses);
    QCOMPARE(modeControlsEnabled(h), send ? 0 : repeat ? 3 : 2);

    QCOMPARE(h.button("cmdEnd")->isEnabled(), !peerCloses);
    // A closed window's End is out of the user's reach, not of a handler's.
    h.probe().gate().deliver([&h] { h.probe().cmdEnd_Click(); });
    QVERIFY(!h.probe().SendTimer().isEnabled());
    QCOMPARE(h.button("cmdSend")->isEnabled(), !peerCloses);
    QCOMPARE(modeControlsEnabled(h), 3);
    QCOMPARE(h.find<QWidget>("lblTime", 0)->isEnabled(), repeat);
    QCOMPARE(h.find<QWidget>("lblTime", 1)->isEnabled(), repeat);
    QCOMPARE(background(h), colour);
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
    constexpr int kFailedTicks = 3;
    LoopbackPeer peer;
    Harness h;
    QVERIFY(h.startConnected(peer));
    LogWatch watch(h);
    chooseRepeat(h, kFast);
    h.click("cmdSend");
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("R"), kWaitMs);
    QVERIFY(h.probe().mbStatusWait());

    const quint16 port = peer.port();
    peer.server.close();
    if (byPeer)
        peer.link()->close();
    else
        h.click("cmdDisconnect");
    QTRY_VERIFY_WITH_TIMEOUT(watch.events.count(kReconnecting) >= kFailedTicks, kWaitMs);
    QVERIFY(!h.button("cmdSend")->isEnabled());
    QVERIFY(!h.button("cmdEnd")->isEnabled());
    QVERIFY(h.probe().SendTimer().isEnabled());
    QVERIFY(peer.listen(port));
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("RR"), kWaitMs);
    h.click("cmdEnd");

    // Per tick, the failure line and then the reconnect line (a refused
    // attempt may say so in between).
    const qsizetype closed = watch.events.indexOf(kClosed);
    const qsizetype connected = watch.events.indexOf(kConnected, closed);
    QVERIFY(closed >= 0 && connected > closed);
    QStringList between = watch.events.mid(closed + 1, connected - closed - 1);
    between.removeIf([](const QString& e) { return e.startsWith(QLatin1String(" Socket Connect Fail!! ")); });
    QVERIFY(between.size() >= 2 * kFailedTicks);
    for (qsizetype i = 0; i < between.size(); ++i)
        QCOMPARE(between[i], i % 2 == 0 ? kSendFail : kReconnecting);

    // The connect event enables Send although repeating; the next tick that
    // sends disables it again.
    QCOMPARE(watch.events.mid(connected, 2), (QStringList{kConnected, kSend + QStringLiteral("52 ")}));
    QCOMPARE(watch.sendEnabled.mid(connected, 2), (QList<bool>{true, false}));
}

// A Send click in the middle of an interval re-applies the same interval; the
// next tick still comes when it was due, not a whole interval after the click.
void tst_Repeat::sendWhileRepeatingKeepsCount() {
    constexpr int kIntervalMs = 2000;
    LoopbackPeer peer;
    Harness h;
    QVERIFY(h.startConnected(peer));
    LogWatch watch(h);
    h.click("optCommand", kCounterReset);
    chooseRepeat(h, QStringLiteral("2"));
    h.click("cmdSend");
    peer.link()->close();

    // The first tick finds the socket closed and reconnects.
    QTRY_VERIFY_WITH_TIMEOUT(h.button("cmdSend")->isEnabled() && watch.events.contains(kReconnecting),
                             3 * kIntervalMs);
    const qint64 tick = watch.atMs[watch.events.indexOf(kReconnecting)];
    QTest::qWait(int(std::max<qint64>(0, tick + kIntervalMs / 2 - watch.clock.elapsed())));
    h.click("cmdSend");
    QVERIFY(!h.button("cmdSend")->isEnabled());
    const qsizetype sends = watch.events.count(kSend + kResetHex);
    QTRY_VERIFY_WITH_TIMEOUT(watch.events.count(kSend + kResetHex) > sends, 3 * kIntervalMs);
    h.click("cmdEnd");
    const qint64 next = watch.atMs[watch.events.lastIndexOf(kSend + kResetHex)];
    QVERIFY2(next - tick < kIntervalMs + kIntervalMs / 4,
             qPrintable(QStringLiteral("next tick %1 ms after the previous one").arg(next - tick)));
}

void tst_Repeat::refusedByteInEveryReplyLetsUserOut_data() {
    QTest::addColumn<bool>("closeWindow");
    QTest::newRow("End clicked while a box is up") << false;
    QTest::newRow("window closed while a box is up") << true;
}

// A unit that answers every request at 1 ms with a byte the input refuses:
// the system's own box comes up for each reply, and while one is up the
// user can still reach End, or close the window.
void tst_Repeat::refusedByteInEveryReplyLetsUserOut() {
    QFETCH(bool, closeWindow);
    constexpr int kBoxesBeforeUserActs = 3;
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    Harness h;
    lumora::platform::widgets::SystemDialogs systemBoxes;
    h.window = lumora::app::Main(h.services({.dialogs = &systemBoxes}));
    h.dial(QString::number(peer.port()));
    QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kConnected), kWaitMs);
    QByteArray refused(112, '\0');
    refused[0] = 0x05;
    qsizetype answered = 0;
    QObject::connect(peer.link(), &QTcpSocket::readyRead, &peer, [&] {
        for (; answered < peer.received.size(); ++answered) {
            if (peer.received[answered] == 'R')
                peer.send(refused);
        }
    });
    chooseRepeat(h, QStringLiteral("0.001"));

    int boxes = 0;
    bool windowBlocked = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, &user, [&] {
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* b = qobject_cast<QMessageBox*>(w); b != nullptr && b->isVisible())
                box = b;
        }
        if (box == nullptr)
            return;
        if (++boxes == kBoxesBeforeUserActs) {
            windowBlocked = QGuiApplication::modalWindow() != nullptr;
            if (closeWindow) {
                h.window->close();
            } else {
                // Through the window system, where a modal box would hold it back.
                QWidget* end = h.button("cmdEnd");
                QTest::mouseClick(h.window->windowHandle(), Qt::LeftButton, {},
                                  end->mapTo(h.window.get(), end->rect().center()));
            }
        }
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    user.start(kFastMs);
    h.click("cmdSend");
    QTRY_VERIFY_WITH_TIMEOUT(boxes >= kBoxesBeforeUserActs, kWaitMs);
    QTest::qWait(kQuietMs);
    // A tick that fell due before End was clicked still runs first, and its
    // reply brings one box more.
    QVERIFY2(boxes == kBoxesBeforeUserActs || (!closeWindow && boxes == kBoxesBeforeUserActs + 1),
             qPrintable(QString::number(boxes)));
    QVERIFY(!windowBlocked);
    QVERIFY(!h.probe().SendTimer().isEnabled());
    QCOMPARE(h.endRequests, closeWindow ? 1 : 0);
    QCOMPARE(sent(h).size(), boxes);
}

LUMORA_TEST_MAIN(tst_Repeat)
#include "tst_repeat.moc"
