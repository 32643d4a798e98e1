// What the window makes of the bytes a peer on loopback sends it: the
// indicators, the RECV block, the wrong-length lines, the error box and the
// daily log file.

#include "loopbackpeer.h"
#include "unitemulator.h"
#include "windowfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

using namespace testsupport;

namespace {

const QString kStamp = QStringLiteral("[09:05:03.007]");
constexpr int kReplySize = 112;
constexpr int kWaitMs = Harness::kWaitMs;
constexpr int kSettleMs = 300;
const QString kErrorText = QStringLiteral(
    "Data Display Error!!\r\nError Number : 380\r\nError Description : Invalid property value");

// The peer sends bytes; true once the window has logged that many more lines.
bool arrive(Harness& h, LoopbackPeer& peer, const QByteArray& bytes, int lines) {
    const qsizetype before = h.lines().size();
    return peer.send(bytes) && QTest::qWaitFor([&] { return h.lines().size() >= before + lines; }, kWaitMs);
}

// 112 zero bytes with the given hex bytes placed at their offsets.
QByteArray reply(std::initializer_list<std::pair<int, const char*>> fields) {
    QByteArray bytes(kReplySize, '\0');
    for (const auto& [offset, hex] : fields)
        bytes.replace(offset, QByteArray::fromHex(hex).size(), QByteArray::fromHex(hex));
    return bytes;
}

// The six lines a good reply adds to the list, stamp included.
QStringList block(const QByteArray& bytes) {
    QStringList lines{kStamp + QStringLiteral(" RECV : Status Request (112 Bytes)")};
    for (int from = 0; from < kReplySize; from += 30)
        lines.append(QString::fromLatin1(bytes.mid(from, 30).toHex(' ').toUpper() + ' '));
    return lines << QString();
}

// A box's text, or a check box as 0 unticked, 1 ticked, 2 greyed.
QString shown(const Harness& h, const char* array, int index) {
    if (const auto* box = qobject_cast<QCheckBox*>(h.find<QWidget>(array, index)))
        return QString::number(std::array{0, 2, 1}[box->checkState()]);
    return h.find<QLineEdit>(array, index)->text();
}

} // namespace

class tst_Receive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void replyShown_data();
    void replyShown();
    void nothingElseRunsWhileBoxIsUp();
    void eachArrivalJudgedByItself_data();
    void eachArrivalJudgedByItself();
    void failedFileWriteIsLogged_data();
    void failedFileWriteIsLogged();
    void randomBurstGivesOnlyWrongLengthLines();
    void floodWhileBoxIsUpIsHeldBack_data();
    void floodWhileBoxIsUpIsHeldBack();
};

void tst_Receive::replyShown_data() {
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("boxes");
    auto row = [](const char* name, QList<QByteArray> replies, const char* control, int index,
                  const char* expected, int boxes = 0) {
        QTest::newRow(name) << replies << QByteArray(control) << index << QString::fromLatin1(expected)
                            << boxes;
    };
    row("counter 01 00 00 00", {reply({{12, "01000000"}})}, "txtCounter", 0, "1");
    row("counter 00 00 00 01", {reply({{12, "00000001"}})}, "txtCounter", 0, "16777216");
    row("counter FF FF FF FF", {reply({{12, "FFFFFFFF"}})}, "txtCounter", 0, "4294967295");
    row("time gap D2 04 00 00", {reply({{60, "D2040000"}})}, "txtTimegap", 0, "1.23");
    row("time gap 12 10 27 00 00", {reply({{104, "10270000"}})}, "txtTimegap", 11, "10.00");
    // A byte a box refuses leaves it as it was and raises one box.
    row("input 02", {reply({{0, "01"}}), reply({{0, "02"}})}, "chkDIValue", 0, "2");
    row("input 1A", {reply({{0, "02"}}), reply({{0, "1A"}})}, "chkDIValue", 0, "1");
    row("input FF", {reply({{0, "01"}}), reply({{0, "FF"}})}, "chkDIValue", 0, "0");
    row("input 05", {reply({{0, "01"}}), reply({{0, "05"}})}, "chkDIValue", 0, "1", 1);
    row("input 10", {reply({{0, "02"}}), reply({{0, "10"}})}, "chkDIValue", 0, "2", 1);
    row("output A1", {reply({{108, "01"}}), reply({{108, "A1"}})}, "chkDOValue", 0, "0");
    row("three refused", {reply({{0, "05"}, {5, "10"}, {109, "99"}, {110, "01"}})}, "chkDOValue", 2, "1", 3);
}

void tst_Receive::replyShown() {
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QByteArray, control);
    QFETCH(int, index);
    QFETCH(QString, expected);
    QFETCH(int, boxes);
    Harness h;
    LoopbackPeer peer;
    QVERIFY(h.startConnected(peer));
    // Output 04, the last field, shows that decoding went on to the end.
    replies.last()[111] = 2;
    for (const QByteArray& bytes : std::as_const(replies))
        QVERIFY(arrive(h, peer, bytes, 6));
    QCOMPARE(h.lines().mid(1 + 6 * (replies.size() - 1)), block(replies.last()));
    QCOMPARE(shown(h, control.constData(), index), expected);
    QCOMPARE(shown(h, "chkDOValue", 3), QStringLiteral("2"));
    QCOMPARE(h.dialogs.shown.size(), boxes);
    for (const ShownBox& box : std::as_const(h.dialogs.shown))
        QCOMPARE(box.title + u'|' + box.text, QStringLiteral("Error|") + kErrorText);
}

void tst_Receive::nothingElseRunsWhileBoxIsUp() {
    Harness h;
    LoopbackPeer peer;
    QVERIFY(h.startConnected(peer));
    const QByteArray first = reply({{0, "05"}, {12, "01"}});
    const QByteArray second = reply({{0, "01"}, {12, "02"}});
    bool sent = false;
    qsizetype linesWhileUp = -1;
    h.dialogs.whileShown = [&] {
        if (sent)
            return;
        sent = peer.send(second);
        // Held back, as under a modal box: it must not send once the box is gone.
        QTest::mouseClick(h.button("cmdSend"), Qt::LeftButton);
        QTest::qWait(kSettleMs);
        linesWhileUp = h.lines().size();
    };
    QVERIFY(arrive(h, peer, first, 6));
    QVERIFY(sent);
    QCOMPARE(linesWhileUp, 1);
    QCOMPARE(h.dialogs.shown.size(), 1);
    QVERIFY(QTest::qWaitFor([&] { return h.lines().size() >= 1 + 12; }, kWaitMs));
    QCOMPARE(h.lines().mid(1), block(first) + block(second));
    QCOMPARE(shown(h, "txtCounter", 0), QStringLiteral("2"));
    QVERIFY(peer.received.isEmpty());
}

void tst_Receive::eachArrivalJudgedByItself_data() {
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<bool>("peerCloses");
    QTest::newRow("1 byte") << QList<int>{1} << false;
    QTest::newRow("111 bytes") << QList<int>{111} << false;
    QTest::newRow("112 bytes") << QList<int>{112} << false;
    QTest::newRow("113 bytes") << QList<int>{113} << false;
    QTest::newRow("224 bytes, two replies") << QList<int>{224} << false;
    QTest::newRow("60 then 52 bytes") << QList<int>{60, 52} << false;
    QTest::newRow("50 bytes, peer closes") << QList<int>{50} << true;
}

// Each arrival answers a status request of its own and must end its wait.
void tst_Receive::eachArrivalJudgedByItself() {
    QFETCH(QList<int>, sizes);
    QFETCH(bool, peerCloses);
    Harness h;
    // The file is named by the local date, the lines stamped in UTC.
    h.clock.local = QDate(2027, 1, 2);
    LoopbackPeer peer;
    QVERIFY(h.startConnected(peer));
    const QByteArray baseline = reply({{0, "01"}, {12, "07"}, {60, "D204"}, {108, "01"}});
    // The level is read at each reply: at "List" nothing is filed.
    QVERIFY(arrive(h, peer, baseline, 6));
    h.click("optLog", 1);
    QVERIFY(arrive(h, peer, baseline, 6));

    QStringList lines = h.lines();
    QList<QByteArray> replies{baseline};
    for (int size : std::as_const(sizes)) {
        h.click("cmdSend");
        QVERIFY(h.probe().mbStatusWait());
        // Closing at once: the bytes come with the close.
        QVERIFY(peer.send(QByteArray(size, '\0')));
        if (peerCloses)
            peer.link()->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(!h.probe().mbStatusWait(), kWaitMs);
        lines.append(kStamp + QStringLiteral(" SEND : 52 "));
        if (size == kReplySize)
            lines += block(replies.emplace_back(size, '\0'));
        else if (size > 1)
            lines.append(QStringLiteral("Different responce data length : %1 Bytes").arg(size));
    }
    if (peerCloses)
        lines.append(kStamp + QStringLiteral(" Socket Closed!!"));
    QTRY_COMPARE_WITH_TIMEOUT(h.lines(), lines, kWaitMs);
    QTest::qWait(kSettleMs);
    QCOMPARE(h.lines(), lines);
    const bool good = replies.size() > 1;
    QCOMPARE(shown(h, "chkDIValue", 0), good ? QStringLiteral("0") : QStringLiteral("1"));
    QCOMPARE(shown(h, "txtCounter", 0), good ? QStringLiteral("0") : QStringLiteral("7"));
    QCOMPARE(shown(h, "txtTimegap", 0), good ? QStringLiteral("0.00") : QStringLiteral("1.23"));
    QByteArray filed;
    for (const QByteArray& r : std::as_const(replies))
        filed += (block(r).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1();
    QFile file(h.programDir.filePath(QStringLiteral("Log/20270102.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), filed);
}

void tst_Receive::failedFileWriteIsLogged_data() {
    QTest::addColumn<bool>("folderInFilesPlace");
    QTest::newRow("Log folder removed") << false;
    QTest::newRow("a folder where the file goes") << true;
}

void tst_Receive::failedFileWriteIsLogged() {
    QFETCH(bool, folderInFilesPlace);
    Harness h;
    LoopbackPeer peer;
    QVERIFY(h.startConnected(peer));
    h.click("optLog", 1);
    // Named by the fake clock's local date.
    const QString path = h.programDir.filePath(QStringLiteral("Log/20261206.txt"));
    QVERIFY(folderInFilesPlace ? QDir().mkpath(path) : QFileInfo(path).dir().removeRecursively());
    const QByteArray bytes = reply({{0, "01"}});
    // The failure line comes from the same handler as the block.
    QVERIFY(arrive(h, peer, bytes, 6));
    const QStringList added = h.lines().mid(1);
    QCOMPARE(added.mid(0, 6), block(bytes));
    QCOMPARE(added.size(), 7);
    const QString prefix = kStamp + QStringLiteral(" Log File Write Fail!! ") + path + QStringLiteral(" : ");
    QVERIFY2(added[6].startsWith(prefix) && added[6].size() > prefix.size(), qPrintable(added[6]));
}

void tst_Receive::randomBurstGivesOnlyWrongLengthLines() {
    constexpr qsizetype kBurst = 1 << 20;
    Harness h;
    LoopbackPeer peer;
    QVERIFY(h.startConnected(peer));
    QRandomGenerator random(7150);
    QByteArray burst(kBurst, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(burst.data()), kBurst / 4);
    QVERIFY(peer.send(burst));
    const QRegularExpression line(QStringLiteral("^Different responce data length : (\\d+) Bytes$"));
    auto reported = [&] {
        qsizetype total = 0;
        for (const QString& l : h.lines().mid(1)) // after the connect line
            total += line.match(l).hasMatch() ? line.match(l).captured(1).toLongLong() : kBurst + 1;
        return total;
    };
    QTRY_COMPARE_WITH_TIMEOUT(reported(), kBurst, 3 * kWaitMs);
}

void tst_Receive::floodWhileBoxIsUpIsHeldBack_data() {
    QTest::addColumn<bool>("boxOfWebLink");
    QTest::newRow("box of the refused byte") << false;
    QTest::newRow("box of the web link, flood under way") << true;
}

// A unit that sends a refused byte and then floods: while a box waits for OK
// the client holds a bounded amount and takes nothing in, and afterwards the
// flood still comes.
void tst_Receive::floodWhileBoxIsUpIsHeldBack() {
    QFETCH(bool, boxOfWebLink);
    constexpr int kBoxUpMs = 3000;
    constexpr qint64 kMaxGrowthKiB = 16 * 1024;
    constexpr qint64 kAfterBoxBytes = 16 << 20;
    if (UnitEmulator::program().isEmpty())
        QSKIP("LUMORA_EMULATOR does not name the unit emulator");
    UnitEmulator unit;
    QVERIFY(
        unit.start({QStringLiteral("--bad-input"), QStringLiteral("--flood"), QStringLiteral("--quiet")}));
    Harness h;
    QVERIFY(h.startConnected(unit.port));
    qint64 delivered = 0;
    h.probe().Winsock1().onDataArrival = [&delivered, &h](const QByteArray& bytes) {
        delivered += bytes.size();
        h.probe().Winsock1_DataArrival(bytes);
    };
    qint64 growthKiB = -1;
    qint64 deliveredAtOk = -1;
    qint64 deliveredWhileUp = -1;
    h.dialogs.whileShown = [&] {
        if (growthKiB >= 0 || (boxOfWebLink && h.dialogs.shown.size() == 1))
            return;
        const qint64 before = residentKiB();
        const qint64 deliveredBefore = delivered;
        QTest::qWait(kBoxUpMs);
        growthKiB = residentKiB() - before;
        deliveredAtOk = delivered;
        deliveredWhileUp = delivered - deliveredBefore;
    };
    h.click("cmdSend");
    if (boxOfWebLink) {
        QTRY_VERIFY_WITH_TIMEOUT(delivered > kReplySize, kWaitMs);
        h.shell.failure = QStringLiteral("no browser");
        auto* link = h.find<QWidget>(QStringLiteral("Label11"));
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    }
    QTRY_VERIFY_WITH_TIMEOUT(growthKiB >= 0, kWaitMs + kBoxUpMs);
    qInfo("resident memory grew by %lld KiB while the box was up", growthKiB);
    QVERIFY2(growthKiB < kMaxGrowthKiB, qPrintable(QString::number(growthKiB)));
    QCOMPARE(deliveredWhileUp, 0);
    QTRY_VERIFY_WITH_TIMEOUT(delivered > deliveredAtOk + kAfterBoxBytes, kWaitMs);
    QCOMPARE(h.dialogs.shown.size(), boxOfWebLink ? 2 : 1);
    QVERIFY(unit.stop());
}

LUMORA_TEST_MAIN(tst_Receive)
#include "tst_receive.moc"
