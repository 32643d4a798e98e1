#include "protocol/status_reply.h"
#include "testsupport.h"

#include <QtTest>

namespace {

QByteArray zeroReply() {
    return QByteArray(protocol::kStatusReplySize, '\0');
}

// A reply whose byte at each offset equals the offset (00 .. 6F).
QByteArray rampReply() {
    QByteArray reply(protocol::kStatusReplySize, '\0');
    for (qsizetype i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<char>(i);
    return reply;
}

QByteArray replyWith(int offset, const QByteArray& bytes) {
    QByteArray reply = zeroReply();
    reply.replace(offset, bytes.size(), bytes);
    return reply;
}

QString repeated(const QString& group, int count) {
    QString text;
    for (int i = 0; i < count; ++i)
        text += group;
    return text;
}

} // namespace

class TestStatusReply : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pad2_data();
    void pad2();
    void fourbyteInt_data();
    void fourbyteInt();
    void stateNumber_data();
    void stateNumber();
    void counterText_data();
    void counterText();
    void timeGapText_data();
    void timeGapText();
    void wrongLengthLine_data();
    void wrongLengthLine();
    void recvHeader_data();
    void recvHeader();

    void decodeAllZero();
    void decodeRamp();
    void decodeCounter_data();
    void decodeCounter();
    void decodeTimeGap_data();
    void decodeTimeGap();
    void decodeInput_data();
    void decodeInput();
    void decodeOutput_data();
    void decodeOutput();
};

void TestStatusReply::pad2_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("A") << QStringLiteral("A") << QStringLiteral("0A");
    QTest::newRow("0") << QStringLiteral("0") << QStringLiteral("00");
    QTest::newRow("1F") << QStringLiteral("1F") << QStringLiteral("1F");
    QTest::newRow("123") << QStringLiteral("123") << QString();
}

void TestStatusReply::pad2() {
    QFETCH(QString, text);
    QFETCH(QString, expected);

    QCOMPARE(protocol::Pad2(text), expected);
}

void TestStatusReply::fourbyteInt_data() {
    QTest::addColumn<int>("b1");
    QTest::addColumn<int>("b2");
    QTest::addColumn<int>("b3");
    QTest::addColumn<int>("b4");
    QTest::addColumn<double>("expected");

    QTest::newRow("00 00 00 00") << 0x00 << 0x00 << 0x00 << 0x00 << 0.0;
    QTest::newRow("00 00 00 01") << 0x00 << 0x00 << 0x00 << 0x01 << 1.0;
    QTest::newRow("00 00 01 00") << 0x00 << 0x00 << 0x01 << 0x00 << 256.0;
    QTest::newRow("00 01 00 00") << 0x00 << 0x01 << 0x00 << 0x00 << 65536.0;
    QTest::newRow("01 00 00 00") << 0x01 << 0x00 << 0x00 << 0x00 << 16777216.0;
    QTest::newRow("12 34 56 78") << 0x12 << 0x34 << 0x56 << 0x78 << 305419896.0;
    QTest::newRow("FF FF FF FF") << 0xFF << 0xFF << 0xFF << 0xFF << 4294967295.0;
}

void TestStatusReply::fourbyteInt() {
    QFETCH(int, b1);
    QFETCH(int, b2);
    QFETCH(int, b3);
    QFETCH(int, b4);
    QFETCH(double, expected);

    QCOMPARE(protocol::fourbyte_int(static_cast<std::uint8_t>(b1), static_cast<std::uint8_t>(b2),
                                    static_cast<std::uint8_t>(b3), static_cast<std::uint8_t>(b4)),
             expected);
}

void TestStatusReply::stateNumber_data() {
    QTest::addColumn<QString>("hexPair");
    QTest::addColumn<int>("expected");

    QTest::newRow("00") << QStringLiteral("00") << 0;
    QTest::newRow("01") << QStringLiteral("01") << 1;
    QTest::newRow("02") << QStringLiteral("02") << 2;
    QTest::newRow("05") << QStringLiteral("05") << 5;
    QTest::newRow("10") << QStringLiteral("10") << 10;
    QTest::newRow("1A") << QStringLiteral("1A") << 1;
    QTest::newRow("A1") << QStringLiteral("A1") << 0;
    QTest::newRow("FF") << QStringLiteral("FF") << 0;
    QTest::newRow("99") << QStringLiteral("99") << 99;
    QTest::newRow("9F") << QStringLiteral("9F") << 9;
}

void TestStatusReply::stateNumber() {
    QFETCH(QString, hexPair);
    QFETCH(int, expected);

    QCOMPARE(protocol::stateNumber(hexPair), expected);
}

void TestStatusReply::counterText_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0") << 0.0 << QStringLiteral("0");
    QTest::newRow("1") << 1.0 << QStringLiteral("1");
    QTest::newRow("1000") << 1000.0 << QStringLiteral("1000");
    QTest::newRow("16777216") << 16777216.0 << QStringLiteral("16777216");
    QTest::newRow("4294967295") << 4294967295.0 << QStringLiteral("4294967295");
}

void TestStatusReply::counterText() {
    QFETCH(double, value);
    QFETCH(QString, expected);

    QCOMPARE(protocol::counterText(value), expected);
}

void TestStatusReply::timeGapText_data() {
    QTest::addColumn<double>("thousandths");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0") << 0.0 << QStringLiteral("0.00");
    QTest::newRow("4") << 4.0 << QStringLiteral("0.00");
    QTest::newRow("5") << 5.0 << QStringLiteral("0.01");
    QTest::newRow("10") << 10.0 << QStringLiteral("0.01");
    QTest::newRow("999") << 999.0 << QStringLiteral("1.00");
    QTest::newRow("1000") << 1000.0 << QStringLiteral("1.00");
    QTest::newRow("1004") << 1004.0 << QStringLiteral("1.00");
    QTest::newRow("1005") << 1005.0 << QStringLiteral("1.01");
    QTest::newRow("1234") << 1234.0 << QStringLiteral("1.23");
    QTest::newRow("1235") << 1235.0 << QStringLiteral("1.24");
    QTest::newRow("1000000") << 1000000.0 << QStringLiteral("1000.00");
    QTest::newRow("4294967295") << 4294967295.0 << QStringLiteral("4294967.30");
}

void TestStatusReply::timeGapText() {
    QFETCH(double, thousandths);
    QFETCH(QString, expected);

    QCOMPARE(protocol::timeGapText(thousandths), expected);
}

void TestStatusReply::wrongLengthLine_data() {
    QTest::addColumn<qsizetype>("byteCount");
    QTest::addColumn<QString>("expected");

    QTest::newRow("50") << qsizetype(50) << QStringLiteral("Different responce data length : 50 Bytes");
    QTest::newRow("111") << qsizetype(111) << QStringLiteral("Different responce data length : 111 Bytes");
    QTest::newRow("113") << qsizetype(113) << QStringLiteral("Different responce data length : 113 Bytes");
    QTest::newRow("224") << qsizetype(224) << QStringLiteral("Different responce data length : 224 Bytes");
}

void TestStatusReply::wrongLengthLine() {
    QFETCH(qsizetype, byteCount);
    QFETCH(QString, expected);

    QCOMPARE(protocol::wrongLengthLine(byteCount), expected);
}

void TestStatusReply::recvHeader_data() {
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<QString>("expected");

    QTest::newRow("09:05:03.007") << QStringLiteral("[09:05:03.007]")
                                  << QStringLiteral("[09:05:03.007] RECV : Status Request (112 Bytes)");
    QTest::newRow("23:59:59.999") << QStringLiteral("[23:59:59.999]")
                                  << QStringLiteral("[23:59:59.999] RECV : Status Request (112 Bytes)");
}

void TestStatusReply::recvHeader() {
    QFETCH(QString, stamp);
    QFETCH(QString, expected);

    QCOMPARE(protocol::recvHeader(stamp), expected);
}

void TestStatusReply::decodeAllZero() {
    const protocol::DecodedReply decoded = protocol::decodeStatusReply(zeroReply());

    for (const QString& hex : decoded.hex)
        QCOMPARE(hex, QStringLiteral("00"));
    for (const int input : decoded.inputs)
        QCOMPARE(input, 0);
    for (const QString& counter : decoded.counters)
        QCOMPARE(counter, QStringLiteral("0"));
    for (const QString& gap : decoded.timeGaps)
        QCOMPARE(gap, QStringLiteral("0.00"));
    for (const int output : decoded.outputs)
        QCOMPARE(output, 0);

    const QString thirtyZeros = repeated(QStringLiteral("00 "), 30);
    QCOMPARE(decoded.dumpLines[0], thirtyZeros);
    QCOMPARE(decoded.dumpLines[1], thirtyZeros);
    QCOMPARE(decoded.dumpLines[2], thirtyZeros);
    QCOMPARE(decoded.dumpLines[3], repeated(QStringLiteral("00 "), 22));
    QCOMPARE(decoded.dumpLines[0].size(), 90);
    QCOMPARE(decoded.dumpLines[1].size(), 90);
    QCOMPARE(decoded.dumpLines[2].size(), 90);
    QCOMPARE(decoded.dumpLines[3].size(), 66);
}

void TestStatusReply::decodeRamp() {
    const protocol::DecodedReply decoded = protocol::decodeStatusReply(rampReply());

    QCOMPARE(decoded.hex[0x00], QStringLiteral("00"));
    QCOMPARE(decoded.hex[0x0A], QStringLiteral("0A"));
    QCOMPARE(decoded.hex[0x1F], QStringLiteral("1F"));
    QCOMPARE(decoded.hex[0x6F], QStringLiteral("6F"));

    QCOMPARE(decoded.dumpLines[0], QStringLiteral("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F "
                                                  "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D "));
    QCOMPARE(decoded.dumpLines[1], QStringLiteral("1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D "
                                                  "2E 2F 30 31 32 33 34 35 36 37 38 39 3A 3B "));
    QCOMPARE(decoded.dumpLines[2], QStringLiteral("3C 3D 3E 3F 40 41 42 43 44 45 46 47 48 49 4A 4B "
                                                  "4C 4D 4E 4F 50 51 52 53 54 55 56 57 58 59 "));
    QCOMPARE(decoded.dumpLines[3], QStringLiteral("5A 5B 5C 5D 5E 5F 60 61 62 63 64 65 66 67 68 69 "
                                                  "6A 6B 6C 6D 6E 6F "));

    // Inputs 00 .. 0B: the digits read as decimal, "0A" and "0B" as 0.
    const std::array<int, protocol::kInputCount> inputs{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0};
    QCOMPARE(decoded.inputs, inputs);

    // Counter 0 is 0C 0D 0E 0F, counter 11 is 38 39 3A 3B, least significant first.
    QCOMPARE(decoded.counters[0], QStringLiteral("252579084"));
    QCOMPARE(decoded.counters[11], QStringLiteral("993671480"));

    // Time gap 0 is 3C 3D 3E 3F (1061043516), time gap 11 is 68 69 6A 6B (1802135912).
    QCOMPARE(decoded.timeGaps[0], QStringLiteral("1061043.52"));
    QCOMPARE(decoded.timeGaps[11], QStringLiteral("1802135.91"));

    // Outputs 6C .. 6F: only the first digit counts.
    const std::array<int, protocol::kOutputCount> outputs{6, 6, 6, 6};
    QCOMPARE(decoded.outputs, outputs);
}

void TestStatusReply::decodeCounter_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("channel 0 01 00 00 00") << 0 << QByteArray::fromHex("01000000") << QStringLiteral("1");
    QTest::newRow("channel 0 00 00 00 01")
        << 0 << QByteArray::fromHex("00000001") << QStringLiteral("16777216");
    QTest::newRow("channel 0 FF FF FF FF")
        << 0 << QByteArray::fromHex("ffffffff") << QStringLiteral("4294967295");
    QTest::newRow("channel 0 00 01 00 00") << 0 << QByteArray::fromHex("00010000") << QStringLiteral("256");
    QTest::newRow("channel 5 78 56 34 12")
        << 5 << QByteArray::fromHex("78563412") << QStringLiteral("305419896");
    QTest::newRow("channel 11 FF FF FF FF")
        << 11 << QByteArray::fromHex("ffffffff") << QStringLiteral("4294967295");
}

void TestStatusReply::decodeCounter() {
    QFETCH(int, channel);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    const int offset = 12 + 4 * channel;
    const protocol::DecodedReply decoded = protocol::decodeStatusReply(replyWith(offset, bytes));

    for (int k = 0; k < protocol::kInputCount; ++k) {
        QCOMPARE(decoded.counters[k], k == channel ? expected : QStringLiteral("0"));
        QCOMPARE(decoded.timeGaps[k], QStringLiteral("0.00"));
        QCOMPARE(decoded.inputs[k], 0);
    }
}

void TestStatusReply::decodeTimeGap_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("channel 0 D2 04 00 00") << 0 << QByteArray::fromHex("d2040000") << QStringLiteral("1.23");
    QTest::newRow("channel 0 ED 03 00 00") << 0 << QByteArray::fromHex("ed030000") << QStringLiteral("1.01");
    QTest::newRow("channel 0 05 00 00 00") << 0 << QByteArray::fromHex("05000000") << QStringLiteral("0.01");
    QTest::newRow("channel 0 FF FF FF FF")
        << 0 << QByteArray::fromHex("ffffffff") << QStringLiteral("4294967.30");
    QTest::newRow("channel 11 D2 04 00 00")
        << 11 << QByteArray::fromHex("d2040000") << QStringLiteral("1.23");
}

void TestStatusReply::decodeTimeGap() {
    QFETCH(int, channel);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    const int offset = 60 + 4 * channel;
    const protocol::DecodedReply decoded = protocol::decodeStatusReply(replyWith(offset, bytes));

    for (int k = 0; k < protocol::kInputCount; ++k) {
        QCOMPARE(decoded.timeGaps[k], k == channel ? expected : QStringLiteral("0.00"));
        QCOMPARE(decoded.counters[k], QStringLiteral("0"));
    }
    for (const int output : decoded.outputs)
        QCOMPARE(output, 0);
}

void TestStatusReply::decodeInput_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<QByteArray>("byte");
    QTest::addColumn<int>("expected");

    QTest::newRow("input 0 byte 01") << 0 << QByteArray::fromHex("01") << 1;
    QTest::newRow("input 0 byte 02") << 0 << QByteArray::fromHex("02") << 2;
    QTest::newRow("input 0 byte 1A") << 0 << QByteArray::fromHex("1a") << 1;
    QTest::newRow("input 0 byte FF") << 0 << QByteArray::fromHex("ff") << 0;
    QTest::newRow("input 0 byte 05") << 0 << QByteArray::fromHex("05") << 5;
    QTest::newRow("input 0 byte 10") << 0 << QByteArray::fromHex("10") << 10;
    QTest::newRow("input 0 byte A1") << 0 << QByteArray::fromHex("a1") << 0;
    QTest::newRow("input 11 byte 01") << 11 << QByteArray::fromHex("01") << 1;
    QTest::newRow("input 11 byte 1A") << 11 << QByteArray::fromHex("1a") << 1;
}

void TestStatusReply::decodeInput() {
    QFETCH(int, channel);
    QFETCH(QByteArray, byte);
    QFETCH(int, expected);

    const protocol::DecodedReply decoded = protocol::decodeStatusReply(replyWith(channel, byte));

    for (int k = 0; k < protocol::kInputCount; ++k) {
        QCOMPARE(decoded.inputs[k], k == channel ? expected : 0);
        QCOMPARE(decoded.counters[k], QStringLiteral("0"));
    }
    for (const int output : decoded.outputs)
        QCOMPARE(output, 0);
}

void TestStatusReply::decodeOutput_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("out1");
    QTest::addColumn<int>("out2");
    QTest::addColumn<int>("out3");
    QTest::addColumn<int>("out4");
    QTest::addColumn<QString>("lastDumpLineTail");

    QTest::newRow("01 00 00 00") << QByteArray::fromHex("01000000") << 1 << 0 << 0 << 0
                                 << QStringLiteral("01 00 00 00 ");
    QTest::newRow("00 01 02 01") << QByteArray::fromHex("00010201") << 0 << 1 << 2 << 1
                                 << QStringLiteral("00 01 02 01 ");
    QTest::newRow("02 02 02 02") << QByteArray::fromHex("02020202") << 2 << 2 << 2 << 2
                                 << QStringLiteral("02 02 02 02 ");
    QTest::newRow("10 1A FF 05") << QByteArray::fromHex("101aff05") << 10 << 1 << 0 << 5
                                 << QStringLiteral("10 1A FF 05 ");
}

void TestStatusReply::decodeOutput() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, out1);
    QFETCH(int, out2);
    QFETCH(int, out3);
    QFETCH(int, out4);
    QFETCH(QString, lastDumpLineTail);

    const protocol::DecodedReply decoded = protocol::decodeStatusReply(replyWith(108, bytes));

    const std::array<int, protocol::kOutputCount> expected{out1, out2, out3, out4};
    QCOMPARE(decoded.outputs, expected);
    for (const int input : decoded.inputs)
        QCOMPARE(input, 0);
    QCOMPARE(decoded.timeGaps[11], QStringLiteral("0.00"));
    QCOMPARE(decoded.dumpLines[3], repeated(QStringLiteral("00 "), 18) + lastDumpLineTail);
}

LUMORA_TEST_MAIN_CORE(TestStatusReply)
#include "tst_status_reply.moc"
