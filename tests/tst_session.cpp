// The connection and the command frames, driven through the window's buttons
// against a listening socket on loopback that plays the unit.

#include "windowfixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>

using testsupport::Harness;

namespace {

const QString kStamp = QStringLiteral("[09:05:03.007]");
const QString kConnected = QStringLiteral(" Socket Connected!!");
const QString kClosed = QStringLiteral(" Socket Closed!!");
constexpr int kReplySize = 112;
constexpr int kOutputOffset = 108;
constexpr int kWaitMs = 10000;
// Long enough for a late event of the loopback connection to show up.
constexpr int kSettleMs = 400;

// The unit's end: keeps every connection it accepts and what they send.
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
    bool listen(quint16 port = 0) { return server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return server.serverPort(); }
    int live() const {
        return static_cast<int>(std::count_if(accepted.begin(), accepted.end(), [](const QTcpSocket* s) {
            return s->state() == QAbstractSocket::ConnectedState;
        }));
    }
    bool send(const QByteArray& bytes) {
        QTcpSocket* socket = accepted.isEmpty() ? nullptr : accepted.last();
        return socket != nullptr && socket->write(bytes) == bytes.size() && socket->flush();
    }
};

void type(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

void click(QAbstractButton* button) {
    // Option and check boxes react to their indicator, at the left edge.
    const bool push = qobject_cast<QPushButton*>(button) != nullptr;
    QTest::mouseClick(button, Qt::LeftButton, {},
                      push ? button->rect().center() : QPoint(6, button->height() / 2));
}

void dial(Harness& h, const QString& port) {
    type(h.edit("txtDestIP"), QStringLiteral("127.0.0.1"));
    type(h.edit("txtDestPort"), port);
    click(h.button("cmdConnect"));
}

bool connectTo(Harness& h, Peer& peer) {
    dial(h, QString::number(peer.port()));
    return QTest::qWaitFor([&] { return peer.live() == 1 && h.events().contains(kConnected); }, kWaitMs);
}

// Connect, Disconnect, Send, End enabled, in that order.
QList<bool> buttons(const Harness& h) {
    return {h.button("cmdConnect")->isEnabled(), h.button("cmdDisconnect")->isEnabled(),
            h.button("cmdSend")->isEnabled(), h.button("cmdEnd")->isEnabled()};
}
const QList<bool> kIdleButtons{true, false, false, false};
const QList<bool> kConnectedButtons{false, true, true, true};

} // namespace

class tst_Session : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void connectAndDisconnectByButtons();
    void peerCloseLogsOneLineAndConnectStartsAfresh();
    void twoQuickConnectClicksGiveOneConnection();
    void portTextIsRounded_data();
    void portTextIsRounded();
    void invalidPortStartsNoAttempt_data();
    void invalidPortStartsNoAttempt();
    void refusedConnectionIsLogged();
    void framesGoOutByteForByte_data();
    void framesGoOutByteForByte();
    void againstTheUnitEmulator();
};

void tst_Session::connectAndDisconnectByButtons() {
    Peer peer;
    QVERIFY(peer.listen());
    Harness h;
    h.start();
    QCOMPARE(buttons(h), kIdleButtons);
    QVERIFY(connectTo(h, peer));
    QCOMPARE(h.lines(), QStringList{kStamp + kConnected});
    QCOMPARE(buttons(h), kConnectedButtons);

    click(h.button("cmdDisconnect"));
    QCOMPARE(h.lines(), (QStringList{kStamp + kConnected, kStamp + kClosed}));
    QCOMPARE(buttons(h), kIdleButtons);
    QTRY_COMPARE_WITH_TIMEOUT(peer.live(), 0, kWaitMs);
    // The program's own close raises no close event later on.
    QTest::qWait(kSettleMs);
    QCOMPARE(h.events().count(kClosed), 1);
}

void tst_Session::peerCloseLogsOneLineAndConnectStartsAfresh() {
    Peer peer;
    QVERIFY(peer.listen());
    Harness h;
    h.start();
    QVERIFY(connectTo(h, peer));
    peer.accepted.first()->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(h.events().count(kClosed), 1, kWaitMs);
    QCOMPARE(buttons(h), kIdleButtons);
    QTest::qWait(kSettleMs);
    QCOMPARE(h.events(), (QStringList{kConnected, kClosed}));

    click(h.button("cmdConnect"));
    QTRY_COMPARE_WITH_TIMEOUT(h.events().count(kConnected), 2, kWaitMs);
    QCOMPARE(peer.accepted.size(), 2);
    QCOMPARE(peer.live(), 1);
    QCOMPARE(buttons(h), kConnectedButtons);
}

void tst_Session::twoQuickConnectClicksGiveOneConnection() {
    Peer peer;
    QVERIFY(peer.listen());
    Harness h;
    h.start();
    dial(h, QString::number(peer.port()));
    // Still connecting: the first attempt has not been reported yet.
    QVERIFY(h.button("cmdConnect")->isEnabled());
    click(h.button("cmdConnect"));
    QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kConnected), kWaitMs);
    QTest::qWait(kSettleMs);
    QCOMPARE(h.events(), QStringList{kConnected});
    QCOMPARE(peer.live(), 1);
    // The connection that stays is the one the window sends on.
    click(h.button("cmdSend"));
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, QByteArray("\x52"), kWaitMs);
    QCOMPARE(peer.live(), 1);
}

void tst_Session::portTextIsRounded_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    // A half goes to the even neighbour.
    QTest::newRow("80.5") << QStringLiteral("80.5") << 80;
    QTest::newRow("81.5") << QStringLiteral("81.5") << 82;
    QTest::newRow("79.5") << QStringLiteral("79.5") << 80;
    QTest::newRow("80.49") << QStringLiteral("80.49") << 80;
    QTest::newRow("80.51") << QStringLiteral("80.51") << 81;
    QTest::newRow("999.5") << QStringLiteral("999.5") << 1000;
    // Above the 32767 of a signed 16-bit port.
    QTest::newRow("40000") << QStringLiteral("40000") << 40000;
    QTest::newRow("65535") << QStringLiteral("65535") << 65535;
}

void tst_Session::portTextIsRounded() {
    QFETCH(QString, text);
    QFETCH(int, port);
    // The port box holds five characters, so the rounded port is fixed by the
    // text; one the test cannot listen on is skipped, not failed.
    Peer peer;
    if (!peer.listen(static_cast<quint16>(port)))
        QSKIP(qPrintable(
            QStringLiteral("cannot listen on port %1: %2").arg(port).arg(peer.server.errorString())));
    Harness h;
    h.start();
    dial(h, text);
    QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(kConnected) || h.lines().size() > 1, kWaitMs);
    QCOMPARE(h.events(), QStringList{kConnected});
    QCOMPARE(peer.accepted.size(), 1);
}

void tst_Session::invalidPortStartsNoAttempt_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("1.2.3") << QStringLiteral("1.2.3");
    QTest::newRow("70000") << QStringLiteral("70000");
    QTest::newRow("65536") << QStringLiteral("65536");
}

void tst_Session::invalidPortStartsNoAttempt() {
    QFETCH(QString, text);
    Harness h;
    h.start();
    dial(h, text);
    QCOMPARE(h.edit("txtDestPort")->text(), text);
    QCOMPARE(h.lines(),
             QStringList{kStamp + QStringLiteral(" Socket Connect Fail!! Invalid Port No : ") + text});
    QCOMPARE(buttons(h), kIdleButtons);
    // An attempt, had one started, would end in a connect or a failure line.
    QTest::qWait(kSettleMs);
    QCOMPARE(h.lines().size(), 1);
    QVERIFY(h.window->Winsock1().State() != platform::Winsock::kStateConnected);
}

void tst_Session::refusedConnectionIsLogged() {
    quint16 unused = 0;
    {
        Peer gone;
        QVERIFY(gone.listen());
        unused = gone.port();
    }
    Harness h;
    h.start();
    dial(h, QString::number(unused));
    QTRY_COMPARE_WITH_TIMEOUT(h.lines().size(), 1, kWaitMs);
    const QString prefix = kStamp + QStringLiteral(" Socket Connect Fail!! ");
    QVERIFY2(h.lines()[0].startsWith(prefix), qPrintable(h.lines()[0]));
    QVERIFY2(h.lines()[0].contains(QLatin1String("refused"), Qt::CaseInsensitive), qPrintable(h.lines()[0]));
    QCOMPARE(buttons(h), kIdleButtons);
    QTest::qWait(kSettleMs);
    QCOMPARE(h.lines().size(), 1);
}

void tst_Session::framesGoOutByteForByte_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("outputsFromReply");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<bool>("waits");

    QTest::newRow("R") << 0 << QByteArray() << QList<int>{} << QByteArray::fromHex("52")
                       << QStringLiteral("52 ") << true;
    QTest::newRow("T nothing ticked")
        << 1 << QByteArray() << QList<int>{} << QByteArray::fromHex("5400000000")
        << QStringLiteral("54 00 00 00 00 ") << false;
    QTest::newRow("T 01 and 04 ticked")
        << 1 << QByteArray() << QList<int>{0, 3} << QByteArray::fromHex("5401000001")
        << QStringLiteral("54 01 00 00 01 ") << false;
    // A greyed box, which only a reply can give, goes out as 02.
    QTest::newRow("T from reply 02 01 00 01")
        << 1 << QByteArray::fromHex("02010001") << QList<int>{} << QByteArray::fromHex("5402010001")
        << QStringLiteral("54 02 01 00 01 ") << false;
    QTest::newRow("T from reply, 03 ticked after")
        << 1 << QByteArray::fromHex("02010001") << QList<int>{2} << QByteArray::fromHex("5402010101")
        << QStringLiteral("54 02 01 01 01 ") << false;
    QTest::newRow("C") << 2 << QByteArray() << QList<int>{} << QByteArray::fromHex("4341")
                       << QStringLiteral("43 41 ") << false;
}

void tst_Session::framesGoOutByteForByte() {
    QFETCH(int, command);
    QFETCH(QByteArray, outputsFromReply);
    QFETCH(QList<int>, ticked);
    QFETCH(QByteArray, frame);
    QFETCH(QString, hex);
    QFETCH(bool, waits);

    Peer peer;
    QVERIFY(peer.listen());
    Harness h;
    h.start();
    QVERIFY(connectTo(h, peer));
    if (!outputsFromReply.isEmpty()) {
        QByteArray reply(kReplySize, '\0');
        reply.replace(kOutputOffset, outputsFromReply.size(), outputsFromReply);
        QVERIFY(peer.send(reply));
        QTRY_VERIFY_WITH_TIMEOUT(h.events().contains(QStringLiteral(" RECV : Status Request (112 Bytes)")),
                                 kWaitMs);
    }
    click(h.find<QAbstractButton>("optCommand", command));
    QVERIFY(h.find<QAbstractButton>("optCommand", command)->isChecked());
    for (int box : ticked)
        click(h.find<QAbstractButton>("chkDOValue", box));

    const qsizetype before = h.lines().size();
    click(h.button("cmdSend"));
    QCOMPARE(h.window->mbStatusWait, waits);
    QCOMPARE(h.lines().mid(before), QStringList{kStamp + QStringLiteral(" SEND : ") + hex});
    QTRY_COMPARE_WITH_TIMEOUT(peer.received, frame, kWaitMs);
    QTest::qWait(kSettleMs);
    QCOMPARE(peer.received, frame);
}

void tst_Session::againstTheUnitEmulator() {
    const QString program = qEnvironmentVariable("LUMORA_EMULATOR");
    if (program.isEmpty())
        QSKIP("LUMORA_EMULATOR does not name the unit emulator");
    QProcess unit;
    unit.setProgram(program);
    unit.setArguments({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--seed"),
                       QStringLiteral("1")});
    unit.start();
    QVERIFY2(unit.waitForStarted(kWaitMs), qPrintable(unit.errorString()));
    auto stop = qScopeGuard([&] {
        unit.terminate();
        if (!unit.waitForFinished(kWaitMs))
            unit.kill();
    });
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QRegularExpressionMatch match;
    QVERIFY(QTest::qWaitFor(
        [&] {
            while (!match.hasMatch() && unit.canReadLine())
                match = listening.match(QString::fromLocal8Bit(unit.readLine()));
            return match.hasMatch();
        },
        kWaitMs));

    Harness h;
    h.start();
    dial(h, match.captured(1));
    QTRY_COMPARE_WITH_TIMEOUT(h.events(), QStringList{kConnected}, kWaitMs);

    click(h.button("cmdSend"));
    QVERIFY(h.window->mbStatusWait);
    QTRY_COMPARE_WITH_TIMEOUT(h.lines().size(), 2 + 6, kWaitMs);
    QVERIFY(!h.window->mbStatusWait);
    QStringList block = h.lines().mid(2);
    QCOMPARE(block[0], kStamp + QStringLiteral(" RECV : Status Request (112 Bytes)"));
    for (int i = 1; i <= 4; ++i) {
        const QRegularExpression dump(QStringLiteral("^([0-9A-F]{2} ){%1}$").arg(i == 4 ? 22 : 30));
        QVERIFY2(dump.match(block[i]).hasMatch(), qPrintable(block[i]));
    }
    QCOMPARE(block[5], QString());

    // Output 03 set, then the status request unticks the boxes; the reply
    // ticks 03 again from the unit's outputs.
    click(h.find<QAbstractButton>("optCommand", 1));
    click(h.find<QAbstractButton>("chkDOValue", 2));
    click(h.button("cmdSend"));
    QCOMPARE(h.lines().last(), kStamp + QStringLiteral(" SEND : 54 00 00 01 00 "));
    click(h.find<QAbstractButton>("optCommand", 0));
    QCOMPARE(h.find<QCheckBox>("chkDOValue", 2)->checkState(), Qt::Unchecked);
    const qsizetype before = h.lines().size();
    click(h.button("cmdSend"));
    QTRY_COMPARE_WITH_TIMEOUT(h.lines().size(), before + 1 + 6, kWaitMs);
    block = h.lines().mid(before + 1);
    QVERIFY2(block[4].endsWith(QLatin1String("00 00 01 00 ")), qPrintable(block[4]));
    for (int k = 0; k < 4; ++k)
        QCOMPARE(h.find<QCheckBox>("chkDOValue", k)->checkState(), k == 2 ? Qt::Checked : Qt::Unchecked);
}

LUMORA_TEST_MAIN(tst_Session)
#include "tst_session.moc"
