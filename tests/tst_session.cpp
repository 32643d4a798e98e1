// The connection and the command frames, driven through the window's buttons
// against a listening socket on loopback that plays the unit.

#include "loopbackpeer.h"
#include "unitemulator.h"
#include "windowfixture.h"

#include <QFile>
#include <QProcess>

using namespace testsupport;

namespace {

const QString kStamp = QStringLiteral("[09:05:03.007]");
const QString kConnected = QStringLiteral(" Socket Connected!!");
const QString kRecv = QStringLiteral(" RECV : Status Request (112 Bytes)");
constexpr int kOutputOffset = 108;
constexpr int kWaitMs = Harness::kWaitMs;
// Long enough for a late event of the loopback connection to show up.
constexpr int kSettleMs = 400;

// Connect, Disconnect, Send, End enabled, in that order.
QList<bool> buttons(const Harness& h) {
    return {h.button("cmdConnect")->isEnabled(), h.button("cmdDisconnect")->isEnabled(),
            h.button("cmdSend")->isEnabled(), h.button("cmdEnd")->isEnabled()};
}
const QList<bool> kIdle{true, false, false, false};
const QList<bool> kConnectedButtons{false, true, true, true};

} // namespace

class tst_Session : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void closeLogsOneLine_data();
    void closeLogsOneLine();
    void twoQuickConnectClicksGiveOneConnection();
    void connectAttempt_data();
    void connectAttempt();
    void framesGoOutByteForByte_data();
    void framesGoOutByteForByte();
    void againstTheUnitEmulator();
    void unitThatNeverReadsRefusesFrames();
    void unitThatVanishesIsNoticed();
};

void tst_Session::closeLogsOneLine_data() {
    QTest::addColumn<bool>("byPeer");
    QTest::newRow("Disconnect clicked") << false;
    QTest::newRow("peer closes") << true;
}

void tst_Session::closeLogsOneLine() {
    QFETCH(bool, byPeer);
    LoopbackPeer peer;
    Harness h;
    QVERIFY(h.startConnected(peer));
    if (byPeer)
        peer.link()->disconnectFromHost();
    else
        h.click("cmdDisconnect");
    QTRY_COMPARE_WITH_TIMEOUT(
        h.lines(), (QStringList{kStamp + kConnected, kStamp + QStringLiteral(" Socket Closed!!")}), kWaitMs);
    QCOMPARE(buttons(h), kIdle);
    QTRY_COMPARE_WITH_TIMEOUT(peer.live(), 0, kWaitMs);
    // The program's own close raises no close event later on.
    QTest::qWait(kSettleMs);
    QCOMPARE(h.lines().size(), 2);
}

void tst_Session::twoQuickConnectClicksGiveOneConnection() {
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    Harness h;
    h.start();
    h.dial(QString::number(peer.port()));
    // Still connecting: the first attempt has not been reported yet.
    QVERIFY(h.button("cmdConnect")->isEnabled());
    h.click("cmdConnect");
    QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kConnected), kWaitMs);
    QTest::qWait(kSettleMs);
    QCOMPARE(h.events(), QStringList{kConnected});
    // The connection that stays is the one the window sends on.
    h.click("cmdSend");
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("R"), kWaitMs);
    QCOMPARE(peer.live(), 1);
}

void tst_Session::connectAttempt_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("listenOn");
    QTest::addColumn<QString>("event");
    const QString invalid = QStringLiteral(" Socket Connect Fail!! Invalid Port No : ");
    // A half goes to the even neighbour.
    QTest::newRow("80.5") << QStringLiteral("80.5") << 80 << kConnected;
    QTest::newRow("81.5") << QStringLiteral("81.5") << 82 << kConnected;
    QTest::newRow("40000, above a signed 16-bit port") << QStringLiteral("40000") << 40000 << kConnected;
    QTest::newRow("empty") << QString() << 0 << invalid;
    QTest::newRow("1.2.3") << QStringLiteral("1.2.3") << 0 << invalid + QStringLiteral("1.2.3");
    QTest::newRow("65536") << QStringLiteral("65536") << 0 << invalid + QStringLiteral("65536");
    // A port just given up by a listener of the test's own.
    QTest::newRow("refused") << QString() << -1
                             << QStringLiteral(" Socket Connect Fail!! Connection refused");
}

void tst_Session::connectAttempt() {
    QFETCH(QString, text);
    QFETCH(int, listenOn);
    QFETCH(QString, event);
    LoopbackPeer peer;
    if (listenOn < 0) {
        QVERIFY(peer.listen());
        text = QString::number(peer.port());
        peer.server.close();
    } else if (listenOn > 0 && !peer.listen(static_cast<quint16>(listenOn))) {
        QSKIP(qPrintable(
            QStringLiteral("cannot listen on %1: %2").arg(listenOn).arg(peer.server.errorString())));
    }
    Harness h;
    h.start();
    h.dial(text);
    // A stray attempt for a bad port would end in a line of its own.
    QTRY_COMPARE_WITH_TIMEOUT(h.lines(), QStringList{kStamp + event}, kWaitMs);
    QTest::qWait(kSettleMs);
    QCOMPARE(h.lines(), QStringList{kStamp + event});
    QCOMPARE(peer.links.size(), listenOn > 0 ? 1 : 0);
    QCOMPARE(buttons(h), listenOn > 0 ? kConnectedButtons : kIdle);
}

void tst_Session::framesGoOutByteForByte_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("outputsFromReply");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QString>("hex");
    QTest::newRow("R") << 0 << QByteArray() << QList<int>{} << QStringLiteral("52");
    QTest::newRow("T, 01 and 04 ticked")
        << 1 << QByteArray() << QList<int>{0, 3} << QStringLiteral("54 01 00 00 01");
    // A greyed box, which only a reply can give, goes out as 02.
    QTest::newRow("T, reply gave 02 01 00 01, 03 ticked after")
        << 1 << QByteArray::fromHex("02010001") << QList<int>{2} << QStringLiteral("54 02 01 01 01");
    QTest::newRow("C") << 2 << QByteArray() << QList<int>{} << QStringLiteral("43 41");
}

void tst_Session::framesGoOutByteForByte() {
    QFETCH(int, command);
    QFETCH(QByteArray, outputsFromReply);
    QFETCH(QList<int>, ticked);
    QFETCH(QString, hex);
    LoopbackPeer peer;
    Harness h;
    QVERIFY(h.startConnected(peer));
    if (!outputsFromReply.isEmpty()) {
        QVERIFY(peer.send(QByteArray(kOutputOffset, '\0') + outputsFromReply));
        QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kRecv), kWaitMs);
    }
    h.click("optCommand", command);
    for (int box : ticked)
        h.click("chkDOValue", box);

    const qsizetype before = h.lines().size();
    h.click("cmdSend");
    QCOMPARE(h.lines().mid(before), QStringList{kStamp + QStringLiteral(" SEND : ") + hex + u' '});
    const QByteArray frame = QByteArray::fromHex(hex.toLatin1());
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, frame, kWaitMs);
    QTest::qWait(kSettleMs);
    QCOMPARE(peer.received, frame);
}

void tst_Session::againstTheUnitEmulator() {
    if (UnitEmulator::program().isEmpty())
        QSKIP("LUMORA_EMULATOR does not name the unit emulator");
    // Its own port, so that it runs beside a user's; it says which.
    UnitEmulator unit;
    QVERIFY(unit.start());
    Harness h;
    QVERIFY(h.startConnected(unit.port));

    // Output 03 set, then a status request: it unticks the boxes, and the
    // reply ticks 03 again from the unit's outputs.
    h.click("optCommand", 1);
    h.click("chkDOValue", 2);
    h.click("cmdSend");
    h.click("optCommand", 0);
    QCOMPARE(h.find<QCheckBox>("chkDOValue", 2)->checkState(), Qt::Unchecked);
    const qsizetype before = h.lines().size();
    h.click("cmdSend");
    QTRY_COMPARE_WITH_TIMEOUT(h.lines().size(), before + 1 + 6, kWaitMs);
    QCOMPARE(h.lines()[before + 1], kStamp + kRecv);
    for (int k = 0; k < 4; ++k)
        QCOMPARE(h.find<QCheckBox>("chkDOValue", k)->checkState(), k == 2 ? Qt::Checked : Qt::Unchecked);
    QVERIFY(unit.stop());
}

namespace {

const char* const kInOwnNamespace = "LUMORA_TEST_IN_NETNS";

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(kWaitMs) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool setLoopback(const char* upOrDown) {
    return run(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                                      QString::fromLatin1(upOrDown)});
}

struct NamespaceRun {
    bool here = false; // this process is the one inside the namespace
    bool skipped = false;
    bool passed = false;
    QString output;
};

// Inside a network namespace of the test's own, with loopback up, where the
// test may change the network as it needs. Outside it, the current test
// function runs again in a process of its own inside a new namespace, and
// the outcome is that run's.
NamespaceRun inOwnNetworkNamespace(int timeoutMs) {
    NamespaceRun result;
    if (qEnvironmentVariableIsSet(kInOwnNamespace)) {
        result.here = true;
        result.passed = setLoopback("up");
        return result;
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kInOwnNamespace), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QCoreApplication::applicationFilePath(),
                                            QString::fromLatin1(QTest::currentTestFunction())});
    const bool finished = child.waitForFinished(timeoutMs);
    result.output = QString::fromLocal8Bit(child.readAll());
    result.skipped = result.output.startsWith(QStringLiteral("unshare:"));
    result.passed = finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    return result;
}

} // namespace

// Frames pile up nowhere: once the unsent backlog is full a send is refused
// with the send-failure line and nothing is logged as sent. The namespace's
// small send buffers make the system's share fill at once.
void tst_Session::unitThatNeverReadsRefusesFrames() {
    constexpr int kMostClicks = 200000;
    constexpr qint64 kMaxGrowthKiB = 4 * 1024;
    if (UnitEmulator::program().isEmpty())
        QSKIP("LUMORA_EMULATOR does not name the unit emulator");
    const NamespaceRun inside = inOwnNetworkNamespace(2 * kWaitMs);
    if (inside.skipped)
        QSKIP(qPrintable(inside.output));
    QVERIFY2(inside.passed, qPrintable(inside.output));
    if (!inside.here)
        return;
    QFile sendBuffers(QStringLiteral("/proc/sys/net/ipv4/tcp_wmem"));
    QVERIFY(sendBuffers.open(QIODevice::WriteOnly) && sendBuffers.write("4096 4096 4096\n") > 0);
    sendBuffers.close();
    UnitEmulator unit;
    QVERIFY(unit.start({QStringLiteral("--never-read")}));
    Harness h;
    QVERIFY(h.startConnected(unit.port));
    h.click("optCommand", 1);
    const qint64 before = residentKiB();
    const QString failed = QStringLiteral(" Socket Closed... Send Fail!!");
    const auto& log = h.probe().logLines();
    int clicks = 0;
    while (clicks < kMostClicks && !log.line(log.rowCount() - 1).endsWith(failed)) {
        h.click("cmdSend");
        ++clicks;
    }
    QCOMPARE(h.events().constLast(), failed);
    // Refused from then on, without a SEND line.
    for (int i = 0; i < 3; ++i)
        h.click("cmdSend");
    QCOMPARE(h.events().mid(h.events().size() - 4), QStringList(4, failed));
    const qint64 growthKiB = residentKiB() - before;
    qInfo("%d frames taken before the first refusal; resident memory grew by %lld KiB", clicks - 1,
          growthKiB);
    if (kResidentMemoryTellsHoldings)
        QVERIFY(growthKiB < kMaxGrowthKiB);
    QVERIFY(unit.stop());
}

// A unit that drops off the network while a status request waits for its
// answer: the connection is given up within about 20 s, with the lines of a
// closed connection. Taking the namespace's loopback down makes it vanish.
void tst_Session::unitThatVanishesIsNoticed() {
    constexpr int kNoticeWithinMs = 35000;
    const NamespaceRun inside = inOwnNetworkNamespace(2 * kNoticeWithinMs);
    if (inside.skipped)
        QSKIP(qPrintable(inside.output));
    QVERIFY2(inside.passed, qPrintable(inside.output));
    if (!inside.here)
        return;
    LoopbackPeer peer;
    Harness h;
    QVERIFY(h.startConnected(peer));
    h.click("optInterval", 1);
    Harness::type(h.cboTime()->lineEdit(), QStringLiteral("1"));
    h.click("cmdSend");
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("R"), kWaitMs);
    QVERIFY(setLoopback("down"));
    const qsizetype before = h.events().size();
    const QStringList noticed{QStringLiteral(" Socket Closed!!"),
                              QStringLiteral(" Socket Closed... Send Fail!!"),
                              QStringLiteral(" Socket Reconnecting.......")};
    QVERIFY(QTest::qWaitFor([&] { return h.events().size() >= before + 3; }, kNoticeWithinMs));
    QCOMPARE(h.events().mid(before, 3), noticed);
}

LUMORA_TEST_MAIN(tst_Session)
#include "tst_session.moc"
