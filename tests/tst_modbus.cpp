// SPDX-License-Identifier: GPL-3.0-or-later
#include "modbus/modbus_front.h"
#include "protocol/status_reply.h"
#include "testsupport.h"

#include <QDataStream>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <optional>
#include <vector>

using lumora::exporter::UnitBoard;
using lumora::exporter::UnitState;
using lumora::modbus::ModbusFront;
using lumora::modbus::ModbusLimits;

namespace {

// Unit 1 up with a reply whose every field tells its place; every other unit
// down. The writes asked of it are kept.
class FakeBoard : public UnitBoard {
public:
    explicit FakeBoard(qsizetype count)
        : count_(count) {
        up_.up = true;
        // Inputs, counters and time gaps (least significant byte first), outputs.
        up_.reply = QByteArray::fromHex("01 00 02 05 10 01 01 00 00 00 00 01 04030201" + QByteArray(80, '0') +
                                        "FFFFFFFF B80B0000" + QByteArray(88, '0') + "01 00 01 02");
    }
    qsizetype unitCount() const override { return count_; }
    const lumora::exporter::Unit& unit(qsizetype) const override { return unit_; }
    const UnitState& state(qsizetype index) const override { return index == 0 ? up_ : down_; }
    OutputWrite setOutputs(qsizetype index, std::uint8_t mask, std::uint8_t values) override {
        writes.push_back(QByteArray::number(index) + ':' + QByteArray::number(mask) + ':' + QByteArray::number(values));
        return result;
    }
    std::vector<QByteArray> writes;
    OutputWrite result = OutputWrite::Sent;

private:
    qsizetype count_;
    lumora::exporter::Unit unit_;
    UnitState up_;
    UnitState down_;
};

QByteArray frame(int unitId, const QByteArray& pduHex, quint16 transaction = 0x1234) {
    const QByteArray pdu = QByteArray::fromHex(pduHex);
    QByteArray out;
    QDataStream(&out, QIODevice::WriteOnly) << transaction << quint16(0) << quint16(pdu.size() + 1) << quint8(unitId);
    return out + pdu;
}

std::unique_ptr<QTcpSocket> connected(quint16 port) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket->waitForConnected(5000) ? std::move(socket) : nullptr;
}

// What comes within `ms`, or everything up to the close.
QByteArray answer(QTcpSocket& socket, qsizetype bytes, int ms = 2000) {
    (void)QTest::qWaitFor([&] { return socket.bytesAvailable() >= bytes || socket.state() != QTcpSocket::ConnectedState; }, ms);
    return socket.readAll();
}

bool closedWithin(QTcpSocket& socket, int ms) {
    return QTest::qWaitFor([&] { return socket.state() == QTcpSocket::UnconnectedState; }, ms);
}

} // namespace

class TestModbus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each request's answer, its unit identifier and length framed, as a
    // client gets it; one connection takes them all, pipelined in one write.
    void map_data() {
        testsupport::columns<int, int, QByteArray, QByteArray>("units", "unitId", "request", "answer");
        // The refused and greyed inputs 02, 03 and 04 read 0, as does output 04.
        QTest::newRow("discrete inputs") << 2 << 1 << QByteArray("02 0000 000C") << QByteArray("02 02 61 08");
        QTest::newRow("coils") << 2 << 1 << QByteArray("01 0000 0004") << QByteArray("01 01 05");
        QTest::newRow("counter, high word first") << 2 << 1 << QByteArray("04 0000 0002") << QByteArray("04 04 0102 0304");
        QTest::newRow("holding, last counter") << 2 << 1 << QByteArray("03 0016 0002") << QByteArray("03 04 FFFF FFFF");
        QTest::newRow("time gap") << 2 << 1 << QByteArray("04 0018 0002") << QByteArray("04 04 0000 0BB8");
        QTest::newRow("input bytes") << 2 << 1 << QByteArray("04 0030 0005") << QByteArray("04 0A 0001 0000 0002 0005 0010");
        QTest::newRow("output bytes") << 2 << 1 << QByteArray("03 003C 0004") << QByteArray("03 08 0001 0000 0001 0002");
        QTest::newRow("registers past") << 2 << 1 << QByteArray("04 003C 0005") << QByteArray("84 02");
        QTest::newRow("inputs past") << 2 << 1 << QByteArray("02 0000 000D") << QByteArray("82 02");
        QTest::newRow("coils past") << 2 << 1 << QByteArray("01 0003 0002") << QByteArray("81 02");
        QTest::newRow("no registers") << 2 << 1 << QByteArray("04 0000 0000") << QByteArray("84 03");
        QTest::newRow("126 registers") << 2 << 1 << QByteArray("03 0000 007E") << QByteArray("83 03");
        QTest::newRow("2001 bits") << 2 << 1 << QByteArray("02 0000 07D1") << QByteArray("82 03");
        QTest::newRow("pdu cut short") << 2 << 1 << QByteArray("04 00") << QByteArray("84 03");
        QTest::newRow("register write") << 2 << 1 << QByteArray("06 0000 0001") << QByteArray("86 01");
        QTest::newRow("other function") << 2 << 1 << QByteArray("2B 0E 01 00") << QByteArray("AB 01");
        QTest::newRow("unit 0") << 2 << 0 << QByteArray("04 0000 0001") << QByteArray("84 0A");
        QTest::newRow("beyond the list") << 2 << 3 << QByteArray("04 0000 0001") << QByteArray("84 0A");
        QTest::newRow("down") << 2 << 2 << QByteArray("01 0000 0001") << QByteArray("81 0B");
        QTest::newRow("247 of 250") << 250 << 247 << QByteArray("04 0000 0001") << QByteArray("84 0B");
        QTest::newRow("248 of 250") << 250 << 248 << QByteArray("04 0000 0001") << QByteArray("84 0A");
    }
    void map() {
        QFETCH(int, units);
        QFETCH(int, unitId);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        FakeBoard board(units);
        ModbusFront front(board, false);
        QVERIFY(front.listen(QHostAddress::LocalHost, 0));
        const auto client = connected(front.serverPort());
        QVERIFY(client);
        client->write(frame(unitId, request, 7) + frame(unitId, request, 8));
        const QByteArray want = frame(unitId, answer, 7) + frame(unitId, answer, 8);
        QCOMPARE(::answer(*client, want.size()).toHex(' '), want.toHex(' '));
    }

    void writes_data() {
        testsupport::columns<bool, int, QByteArray, QByteArray, QByteArray>("allowed", "result", "request",
                                                                             "answer", "sent");
        const int sent = int(UnitBoard::OutputWrite::Sent);
        QTest::newRow("off, single") << false << sent << QByteArray("05 0001 FF00") << QByteArray("85 01") << QByteArray();
        QTest::newRow("off, multiple") << false << sent << QByteArray("0F 0000 0004 01 0F") << QByteArray("8F 01") << QByteArray();
        QTest::newRow("single on") << true << sent << QByteArray("05 0002 FF00") << QByteArray("05 0002 FF00") << QByteArray("0:4:4");
        QTest::newRow("single off") << true << sent << QByteArray("05 0000 0000") << QByteArray("05 0000 0000") << QByteArray("0:1:0");
        QTest::newRow("single, other value") << true << sent << QByteArray("05 0000 1234") << QByteArray("85 03") << QByteArray();
        QTest::newRow("single past") << true << sent << QByteArray("05 0004 FF00") << QByteArray("85 02") << QByteArray();
        QTest::newRow("multiple") << true << sent << QByteArray("0F 0001 0003 01 05") << QByteArray("0F 0001 0003") << QByteArray("0:14:10");
        QTest::newRow("byte count lies") << true << sent << QByteArray("0F 0000 0004 02 0F 00") << QByteArray("8F 03") << QByteArray();
        QTest::newRow("multiple past") << true << sent << QByteArray("0F 0002 0003 01 07") << QByteArray("8F 02") << QByteArray();
        QTest::newRow("unit down") << true << int(UnitBoard::OutputWrite::UnitDown) << QByteArray("05 0000 FF00") << QByteArray("85 0B") << QByteArray("0:1:1");
        QTest::newRow("refused value") << true << int(UnitBoard::OutputWrite::RefusedValue) << QByteArray("05 0000 FF00") << QByteArray("85 04") << QByteArray("0:1:1");
    }
    void writes() {
        QFETCH(bool, allowed);
        QFETCH(int, result);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, sent);
        FakeBoard board(1);
        board.result = UnitBoard::OutputWrite(result);
        ModbusFront front(board, allowed);
        QVERIFY(front.listen(QHostAddress::LocalHost, 0));
        const auto client = connected(front.serverPort());
        QVERIFY(client);
        // A read behind the write is answered after it.
        client->write(frame(1, request) + frame(1, "01 0000 0001"));
        const QByteArray want = frame(1, answer) + frame(1, "01 01 01");
        QCOMPARE(::answer(*client, want.size()).toHex(' '), want.toHex(' '));
        QCOMPARE(board.writes, sent.isEmpty() ? std::vector<QByteArray>{} : std::vector<QByteArray>{sent});
    }

    // A connection that cannot carry frames is closed, by the deadlines where
    // nothing else tells, while another client keeps being answered.
    void bounds_data() {
        testsupport::columns<QByteArray, int, QByteArray>("bytes", "byteMs", "reason");
        QTest::newRow("protocol 1") << QByteArray("0001 0001 0006 01 04 0000 0001") << 0 << QByteArray("bad_frame");
        QTest::newRow("length 1") << QByteArray("0001 0000 0001 01") << 0 << QByteArray("bad_frame");
        QTest::newRow("261 bytes") << QByteArray("0001 0000 00FF 01 04") << 0 << QByteArray("bad_frame");
        QTest::newRow("length lies") << QByteArray("0001 0000 0006 01 04 00") << 0 << QByteArray("deadline");
        QTest::newRow("a byte at a time") << QByteArray("0001 0000 0006 01 04 0000 0001") << 100 << QByteArray("deadline");
        QTest::newRow("silent") << QByteArray() << 0 << QByteArray("idle");
    }
    void bounds() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, byteMs);
        QFETCH(QByteArray, reason);
        FakeBoard board(1);
        ModbusFront front(board, false, ModbusLimits{300, 600, 4});
        QVERIFY(front.listen(QHostAddress::LocalHost, 0));
        const auto bad = connected(front.serverPort());
        const auto good = connected(front.serverPort());
        QVERIFY(bad && good);
        for (const char byte : QByteArray::fromHex(bytes)) {
            bad->write(&byte, 1);
            if (byteMs > 0 && closedWithin(*bad, byteMs))
                break;
        }
        good->write(frame(1, "04 0000 0001"));
        QCOMPARE(::answer(*good, 11).size(), 11);
        good->close();
        QVERIFY(closedWithin(*bad, 2000));
        QCOMPARE(bad->readAll(), QByteArray());
        QVERIFY2(front.metricsText().contains("{reason=\"" + reason + "\"} 1\n"), front.metricsText());
    }

    // Past the cap, connections that never sent a whole frame go first: a
    // flood of idle ones cannot push out a client at work.
    void floodSparesWorkingClient() {
        FakeBoard board(1);
        ModbusFront front(board, false, ModbusLimits{5000, 60000, 4});
        QVERIFY(front.listen(QHostAddress::LocalHost, 0));
        const auto working = connected(front.serverPort());
        QVERIFY(working);
        const QByteArray request = frame(1, "04 0000 0001");
        working->write(request);
        QCOMPARE(::answer(*working, 11).size(), 11);
        std::vector<std::unique_ptr<QTcpSocket>> flood;
        flood.reserve(12);
        for (int k = 0; k < 12; ++k)
            flood.push_back(connected(front.serverPort()));
        QTest::qWait(100);
        working->write(request);
        QCOMPARE(::answer(*working, 11).size(), 11);
        QVERIFY(front.metricsText().contains("lumora_modbus_clients 4\n"));
        QVERIFY(front.metricsText().contains("lumora_modbus_connections_closed_total{reason=\"crowded\"} 9\n"));
    }
};

int main(int argc, char** argv) {
    return testsupport::runIsolated<QCoreApplication, TestModbus>(argc, argv);
}

#include "tst_modbus.moc"
