// What the window makes of the bytes a peer on loopback sends it: the
// indicators, the RECV block, the wrong-length lines, the error box and the
// daily log file.

#include "windowfixture.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>

using testsupport::Harness;

namespace {

const QString kStamp = QStringLiteral("[09:05:03.007]");
const QString kConnected = QStringLiteral(" Socket Connected!!");
constexpr int kReplySize = 112;
constexpr int kWaitMs = 10000;
constexpr int kSettleMs = 300;
const QString kErrorText = QStringLiteral(
    "Data Display Error!!\r\nError Number : 380\r\nError Description : Invalid property value");

class Peer : public QObject {
public:
    QTcpServer server;
    QList<QTcpSocket*> accepted;
    QByteArray received;

    Peer() {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                accepted.append(socket);
                connect(socket, &QTcpSocket::readyRead, this,
                        [this, socket] { received += socket->readAll(); });
            }
        });
    }
    QTcpSocket* socket() const { return accepted.isEmpty() ? nullptr : accepted.last(); }
    bool send(const QByteArray& bytes) {
        return socket() != nullptr && socket()->write(bytes) == bytes.size() && socket()->flush();
    }
};

void click(QAbstractButton* button) {
    const bool push = qobject_cast<QPushButton*>(button) != nullptr;
    QTest::mouseClick(button, Qt::LeftButton, {},
                      push ? button->rect().center() : QPoint(6, button->height() / 2));
}

// A window connected to a fresh peer.
bool connectWindow(Harness& h, Peer& peer) {
    if (!peer.server.listen(QHostAddress::LocalHost))
        return false;
    h.start();
    h.edit("txtDestIP")->clear();
    QTest::keyClicks(h.edit("txtDestIP"), QStringLiteral("127.0.0.1"));
    h.edit("txtDestPort")->clear();
    QTest::keyClicks(h.edit("txtDestPort"), QString::number(peer.server.serverPort()));
    click(h.button("cmdConnect"));
    return QTest::qWaitFor([&] { return peer.socket() != nullptr && h.events().contains(kConnected); },
                           kWaitMs);
}

// The peer sends bytes; true once the window has logged that many more lines.
bool arrive(Harness& h, Peer& peer, const QByteArray& bytes, int lines) {
    const qsizetype before = h.lines().size();
    return peer.send(bytes) && QTest::qWaitFor([&] { return h.lines().size() >= before + lines; }, kWaitMs);
}

// 112 zero bytes with the given hex bytes placed at their offsets.
QByteArray reply(std::initializer_list<std::pair<int, const char*>> fields) {
    QByteArray bytes(kReplySize, '\0');
    for (const auto& [offset, hex] : fields) {
        const QByteArray field = QByteArray::fromHex(hex);
        bytes.replace(offset, field.size(), field);
    }
    return bytes;
}

// The six lines a good reply adds to the list, stamp included.
QStringList block(const QByteArray& bytes) {
    QStringList lines{kStamp + QStringLiteral(" RECV : Status Request (112 Bytes)")};
    for (const auto& [from, to] : {std::pair{0, 30}, {30, 60}, {60, 90}, {90, kReplySize}}) {
        QString line;
        for (int i = from; i < to; ++i)
            line +=
                QStringLiteral("%1 ").arg(static_cast<quint8>(bytes[i]), 2, 16, QLatin1Char('0')).toUpper();
        lines.append(line);
    }
    lines.append(QString());
    return lines;
}

QByteArray filed(const QList<QByteArray>& replies) {
    QByteArray bytes;
    for (const QByteArray& r : replies)
        bytes += (block(r).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1();
    return bytes;
}

QString wrongLength(qsizetype size) {
    return QStringLiteral("Different responce data length : %1 Bytes").arg(size);
}

// 0 unticked, 1 ticked, 2 greyed.
int state(const Harness& h, const char* array, int index) {
    const Qt::CheckState shown = h.find<QCheckBox>(array, index)->checkState();
    return shown == Qt::Checked ? 1 : shown == Qt::PartiallyChecked ? 2 : 0;
}

QString text(const Harness& h, const char* array, int index) {
    return h.find<QLineEdit>(array, index)->text();
}

QString logFolder(const Harness& h) {
    return h.programDir.filePath(QStringLiteral("Log"));
}

QString dayFile(const Harness& h) {
    return logFolder(h) + QStringLiteral("/") + h.clock.local.toString(QStringLiteral("yyyyMMdd")) +
           QStringLiteral(".txt");
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class tst_Receive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void numbersShown_data();
    void numbersShown();
    void indicatorStates_data();
    void indicatorStates();
    void oneBoxPerRefusedByte();
    void nothingElseRunsWhileBoxIsUp();
    void arrivalJudgedByItself_data();
    void arrivalJudgedByItself();
    void splitReplyGivesTwoLines();
    void fileHoldsBlocksWithCrLf();
    void listLevelWritesNoFile();
    void failedFileWriteIsLogged_data();
    void failedFileWriteIsLogged();
    void randomBurstGivesOnlyWrongLengthLines();
    void peerClosesMidReply_data();
    void peerClosesMidReply();
};

void tst_Receive::numbersShown_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("shown");
    QTest::newRow("counter 01 00 00 00")
        << reply({{12, "01000000"}}) << QByteArray("txtCounter") << 0 << QStringLiteral("1");
    QTest::newRow("counter 00 00 00 01")
        << reply({{12, "00000001"}}) << QByteArray("txtCounter") << 0 << QStringLiteral("16777216");
    QTest::newRow("counter FF FF FF FF")
        << reply({{12, "FFFFFFFF"}}) << QByteArray("txtCounter") << 0 << QStringLiteral("4294967295");
    QTest::newRow("counter 12 E8 03 00 00")
        << reply({{56, "E8030000"}}) << QByteArray("txtCounter") << 11 << QStringLiteral("1000");
    QTest::newRow("counter zero") << reply({}) << QByteArray("txtCounter") << 5 << QStringLiteral("0");
    QTest::newRow("time gap D2 04 00 00")
        << reply({{60, "D2040000"}}) << QByteArray("txtTimegap") << 0 << QStringLiteral("1.23");
    QTest::newRow("time gap 0F 27 00 00")
        << reply({{60, "0F270000"}}) << QByteArray("txtTimegap") << 0 << QStringLiteral("10.00");
    QTest::newRow("time gap 01 00 00 00")
        << reply({{60, "01000000"}}) << QByteArray("txtTimegap") << 0 << QStringLiteral("0.00");
    QTest::newRow("time gap 12 10 27 00 00")
        << reply({{104, "10270000"}}) << QByteArray("txtTimegap") << 11 << QStringLiteral("10.00");
    QTest::newRow("time gap 00 00 01 00")
        << reply({{60, "00000100"}}) << QByteArray("txtTimegap") << 0 << QStringLiteral("65.54");
}

void tst_Receive::numbersShown() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, box);
    QFETCH(int, index);
    QFETCH(QString, shown);
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    QVERIFY(arrive(h, peer, bytes, 6));
    QCOMPARE(h.lines().mid(1), block(bytes));
    QCOMPARE(text(h, box.constData(), index), shown);
    QVERIFY(h.dialogs.shown.isEmpty());
}

void tst_Receive::indicatorStates_data() {
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("byte");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("boxes");
    QTest::newRow("input 02") << 0 << QByteArray("01") << QByteArray("02") << 2 << 0;
    QTest::newRow("input 1A") << 0 << QByteArray("02") << QByteArray("1A") << 1 << 0;
    QTest::newRow("input FF") << 0 << QByteArray("01") << QByteArray("FF") << 0 << 0;
    QTest::newRow("input 05") << 0 << QByteArray("01") << QByteArray("05") << 1 << 1;
    QTest::newRow("input 10") << 0 << QByteArray("02") << QByteArray("10") << 2 << 1;
    QTest::newRow("output 02") << 108 << QByteArray("01") << QByteArray("02") << 2 << 0;
    QTest::newRow("output A1") << 108 << QByteArray("01") << QByteArray("A1") << 0 << 0;
    QTest::newRow("output 10") << 108 << QByteArray("01") << QByteArray("10") << 1 << 1;
}

void tst_Receive::indicatorStates() {
    QFETCH(int, offset);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, byte);
    QFETCH(int, shown);
    QFETCH(int, boxes);
    const char* array = offset == 0 ? "chkDIValue" : "chkDOValue";
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    QVERIFY(arrive(h, peer, reply({{offset, before.constData()}}), 6));
    QCOMPARE(state(h, array, 0), before.toInt());

    // Input 12, counter 12 and output 04 come after the byte under test.
    const QByteArray bytes = reply({{offset, byte.constData()}, {11, "01"}, {56, "09"}, {111, "02"}});
    const qsizetype lines = h.lines().size();
    QVERIFY(arrive(h, peer, bytes, 6));
    QCOMPARE(h.lines().mid(lines), block(bytes));
    QCOMPARE(state(h, array, 0), shown);
    QCOMPARE(h.dialogs.shown.size(), boxes);
    for (const testsupport::ShownBox& box : h.dialogs.shown) {
        QCOMPARE(box.title, QStringLiteral("Error"));
        QCOMPARE(box.text, kErrorText);
    }
    QCOMPARE(state(h, "chkDIValue", 11), 1);
    QCOMPARE(text(h, "txtCounter", 11), QStringLiteral("9"));
    QCOMPARE(state(h, "chkDOValue", 3), 2);
}

void tst_Receive::oneBoxPerRefusedByte() {
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    const QByteArray bytes = reply({{0, "05"}, {1, "01"}, {5, "10"}, {12, "2A"}, {109, "99"}, {110, "01"}});
    QVERIFY(arrive(h, peer, bytes, 6));
    QCOMPARE(h.lines().mid(1), block(bytes));
    QCOMPARE(h.dialogs.shown.size(), 3);
    QCOMPARE(state(h, "chkDIValue", 1), 1);
    QCOMPARE(text(h, "txtCounter", 0), QStringLiteral("42"));
    QCOMPARE(state(h, "chkDOValue", 2), 1);
}

void tst_Receive::nothingElseRunsWhileBoxIsUp() {
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    const QByteArray first = reply({{0, "05"}, {12, "01"}});
    const QByteArray second = reply({{0, "01"}, {12, "02"}});
    bool sent = false;
    qsizetype linesWhileUp = -1;
    h.dialogs.whileShown = [&] {
        if (sent)
            return;
        sent = peer.send(second);
        QTest::qWait(kSettleMs);
        linesWhileUp = h.lines().size();
    };
    QVERIFY(arrive(h, peer, first, 6));
    QVERIFY(sent);
    QCOMPARE(linesWhileUp, 1);
    QCOMPARE(h.dialogs.shown.size(), 1);
    QVERIFY(QTest::qWaitFor([&] { return h.lines().size() >= 1 + 12; }, kWaitMs));
    QCOMPARE(h.lines().mid(1), block(first) + block(second));
    QCOMPARE(text(h, "txtCounter", 0), QStringLiteral("2"));
}

void tst_Receive::arrivalJudgedByItself_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("1 byte") << 1;
    QTest::newRow("50 bytes") << 50;
    QTest::newRow("111 bytes") << 111;
    QTest::newRow("112 bytes") << 112;
    QTest::newRow("113 bytes") << 113;
    QTest::newRow("224 bytes, two replies") << 224;
}

void tst_Receive::arrivalJudgedByItself() {
    QFETCH(int, size);
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    click(h.find<QAbstractButton>("optLog", 1));
    const QByteArray baseline = reply({{0, "01"}, {12, "07"}, {60, "D204"}, {108, "01"}});
    QVERIFY(arrive(h, peer, baseline, 6));

    click(h.button("cmdSend"));
    QVERIFY(h.window->mbStatusWait);
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("\x52"), kWaitMs);
    const qsizetype lines = h.lines().size();
    QVERIFY(peer.send(QByteArray(size, '\0')));
    QTRY_VERIFY_WITH_TIMEOUT(!h.window->mbStatusWait, kWaitMs);
    QTest::qWait(kSettleMs);

    const bool good = size == kReplySize;
    const QStringList added = size == 1 ? QStringList()
                              : good    ? block(QByteArray(size, '\0'))
                                        : QStringList{wrongLength(size)};
    QCOMPARE(h.lines().mid(lines), added);
    QCOMPARE(state(h, "chkDIValue", 0), good ? 0 : 1);
    QCOMPARE(text(h, "txtCounter", 0), good ? QStringLiteral("0") : QStringLiteral("7"));
    QCOMPARE(text(h, "txtTimegap", 0), good ? QStringLiteral("0.00") : QStringLiteral("1.23"));
    QCOMPARE(state(h, "chkDOValue", 0), good ? 0 : 1);
    QCOMPARE(contents(dayFile(h)), good ? filed({baseline, QByteArray(size, '\0')}) : filed({baseline}));
}

void tst_Receive::splitReplyGivesTwoLines() {
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    const QString counter = text(h, "txtCounter", 0);
    const QByteArray bytes = reply({{0, "01"}, {12, "05"}});
    QVERIFY(arrive(h, peer, bytes.left(60), 1));
    QCOMPARE(h.lines().last(), wrongLength(60));
    QVERIFY(arrive(h, peer, bytes.mid(60), 1));
    QTest::qWait(kSettleMs);
    QCOMPARE(h.lines().mid(1), (QStringList{wrongLength(60), wrongLength(52)}));
    QCOMPARE(text(h, "txtCounter", 0), counter);
    QCOMPARE(state(h, "chkDIValue", 0), 0);
}

void tst_Receive::fileHoldsBlocksWithCrLf() {
    Harness h;
    // The file is named by the local date, the header stamped in UTC.
    h.clock.local = QDate(2027, 1, 2);
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    click(h.find<QAbstractButton>("optLog", 1));
    const QByteArray first = reply({{0, "01"}, {12, "FF"}, {111, "01"}});
    const QByteArray second = reply({{11, "01"}, {107, "AB"}});
    QVERIFY(arrive(h, peer, first, 6));
    QVERIFY(arrive(h, peer, QByteArray(113, '\x01'), 1));
    QVERIFY(arrive(h, peer, second, 6));
    QCOMPARE(QDir(logFolder(h)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{QStringLiteral("20270102.txt")});
    QCOMPARE(contents(dayFile(h)), filed({first, second}));
}

void tst_Receive::listLevelWritesNoFile() {
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    // The level is read at each reply: back to "List" before this one.
    click(h.find<QAbstractButton>("optLog", 1));
    click(h.find<QAbstractButton>("optLog", 0));
    QVERIFY(h.find<QAbstractButton>("optLog", 0)->isChecked());
    const QByteArray bytes = reply({{0, "01"}});
    QVERIFY(arrive(h, peer, bytes, 6));
    QCOMPARE(h.lines().mid(1), block(bytes));
    QVERIFY(
        QDir(logFolder(h)).isEmpty(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden | QDir::System));
}

void tst_Receive::failedFileWriteIsLogged_data() {
    QTest::addColumn<bool>("folderInFilesPlace");
    QTest::newRow("Log folder removed") << false;
    QTest::newRow("folder where the file goes") << true;
}

void tst_Receive::failedFileWriteIsLogged() {
    QFETCH(bool, folderInFilesPlace);
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    click(h.find<QAbstractButton>("optLog", 1));
    if (folderInFilesPlace)
        QVERIFY(QDir().mkpath(dayFile(h)));
    else
        QVERIFY(QDir(logFolder(h)).removeRecursively());
    const QByteArray bytes = reply({{0, "01"}});
    QVERIFY(arrive(h, peer, bytes, 7));
    QTest::qWait(kSettleMs);
    const QStringList added = h.lines().mid(1);
    QCOMPARE(added.size(), 7);
    QCOMPARE(added.mid(0, 6), block(bytes));
    const QString prefix =
        kStamp + QStringLiteral(" Log File Write Fail!! ") + dayFile(h) + QStringLiteral(" : ");
    QVERIFY2(added[6].startsWith(prefix) && added[6].size() > prefix.size(), qPrintable(added[6]));
    QVERIFY(h.dialogs.shown.isEmpty());
    QCOMPARE(state(h, "chkDIValue", 0), 1);
}

void tst_Receive::randomBurstGivesOnlyWrongLengthLines() {
    constexpr qsizetype kBurst = 1 << 20;
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    click(h.find<QAbstractButton>("optLog", 1));
    click(h.button("cmdClear"));

    QRandomGenerator random(7150);
    QByteArray burst(kBurst, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(burst.data()), kBurst / 4);
    // Written in pieces that are never a reply's length.
    for (qsizetype at = 0; at < kBurst;) {
        qsizetype piece = random.bounded(2, 40000);
        piece = std::min(piece == kReplySize ? piece + 1 : piece, kBurst - at);
        QCOMPARE(peer.socket()->write(burst.mid(at, piece)), piece);
        at += piece;
    }
    const QRegularExpression line(QStringLiteral("^Different responce data length : (\\d+) Bytes$"));
    auto reported = [&] {
        qsizetype total = 0;
        for (const QString& l : h.lines()) {
            const QRegularExpressionMatch m = line.match(l);
            total += m.hasMatch() ? m.captured(1).toLongLong() : kBurst + 1;
        }
        return total;
    };
    QVERIFY(QTest::qWaitFor([&] { return reported() >= kBurst; }, 3 * kWaitMs));
    QTest::qWait(kSettleMs);
    QCOMPARE(reported(), kBurst);
    QVERIFY(h.dialogs.shown.isEmpty());
    QVERIFY(QDir(logFolder(h)).isEmpty(QDir::NoDotAndDotDot | QDir::AllEntries));

    // Still connected and still judging each arrival by itself.
    QVERIFY(h.button("cmdDisconnect")->isEnabled());
    const QByteArray bytes = reply({{12, "03"}});
    const qsizetype lines = h.lines().size();
    QVERIFY(arrive(h, peer, bytes, 6));
    QCOMPARE(h.lines().mid(lines), block(bytes));
}

void tst_Receive::peerClosesMidReply_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("50 bytes") << 50;
    QTest::newRow("111 bytes") << 111;
}

void tst_Receive::peerClosesMidReply() {
    QFETCH(int, size);
    Harness h;
    Peer peer;
    QVERIFY(connectWindow(h, peer));
    QVERIFY(peer.send(QByteArray(size, '\x01')));
    peer.socket()->disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(h.button("cmdConnect")->isEnabled(), kWaitMs);
    QTest::qWait(kSettleMs);
    QCOMPARE(h.events(), (QStringList{kConnected, wrongLength(size), QStringLiteral(" Socket Closed!!")}));
    QVERIFY(h.dialogs.shown.isEmpty());
    QVERIFY(!h.button("cmdSend")->isEnabled());
}

LUMORA_TEST_MAIN(tst_Receive)
#include "tst_receive.moc"
