// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/command_frame.h"
#include "protocol/hex_text.h"
#include "protocol/status_reply.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using lumora::protocol::Command;
using testsupport::columns;

namespace {

// Where the fields sit in the reply, as the unit sends it.
constexpr qsizetype kReplySize = 112;
constexpr int kCounterAt = 12;
constexpr int kGapAt = 60;
constexpr int kOutputAt = 108;

// Every field of a decoded reply as shown, keyed "input 3", "counter 11", ...
QMap<QString, QString> shown(const lumora::protocol::DecodedReply& decoded) {
    QMap<QString, QString> fields;
    for (int k = 0; k < lumora::protocol::kInputCount; ++k) {
        fields[u"input %1"_s.arg(k)] = QString::number(decoded.inputs[k]);
        fields[u"counter %1"_s.arg(k)] = decoded.counters[k];
        fields[u"gap %1"_s.arg(k)] = decoded.timeGaps[k];
    }
    for (int k = 0; k < lumora::protocol::kOutputCount; ++k)
        fields[u"output %1"_s.arg(k)] = QString::number(decoded.outputs[k]);
    return fields;
}

} // namespace

class tst_Protocol : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A check box's value goes out as one byte, greyed (2) included.
    void buildFrame() {
        using lumora::protocol::buildFrame;
        QCOMPARE(buildFrame(Command::StatusRequest, {1, 1, 1, 1}), QByteArray::fromHex("52"));
        QCOMPARE(buildFrame(Command::OutputSetting, {1, 0, 0, 1}), QByteArray::fromHex("5401000001"));
        QCOMPARE(buildFrame(Command::OutputSetting, {0, 2, 0, 0}), QByteArray::fromHex("5400020000"));
        QCOMPARE(buildFrame(Command::CounterReset, {1, 2, 1, 0}), QByteArray::fromHex("4341"));
    }

    void replyLines() {
        QCOMPARE(lumora::protocol::wrongLengthLine(111), u"Different responce data length : 111 Bytes"_s);
    }

    // Byte i is i: every hex digit shows. Bytes above 7F must not be taken for negative numbers.
    void hexOfRamp() {
        QByteArray reply(kReplySize, '\0');
        for (int i = 0; i < reply.size(); ++i)
            reply[i] = char(i);
        const lumora::protocol::DecodedReply decoded = lumora::protocol::decodeStatusReply(reply);
        QCOMPARE(decoded.hex[0x0A], u"0A"_s);
        QCOMPARE(decoded.hex[0x6F], u"6F"_s);
        QCOMPARE(lumora::protocol::hexText(QByteArray::fromHex("f0ff")), u"F0 FF "_s);
    }

    void decodeField_data() {
        columns<int, QByteArray, QString, QString>("offset", "bytes", "field", "expected");
        const auto row = [](const char* field, int offset, const char* hex, const QString& expected) {
            QTest::addRow("%s = %s", field, hex)
                << offset << QByteArray::fromHex(hex) << QString::fromLatin1(field) << expected;
        };
        row("nothing", 0, "", QString());
        row("counter 0", kCounterAt, "01000000", u"1"_s);
        row("counter 5", kCounterAt + 20, "78563412", u"305419896"_s);
        row("counter 11", kCounterAt + 44, "ffffffff", u"4294967295"_s);
        row("gap 0", kGapAt, "d2040000", u"1.23"_s);
        row("gap 0", kGapAt, "ed030000", u"1.01"_s); // 1005: a third decimal of 5 goes up
        row("gap 0", kGapAt, "05000000", u"0.01"_s);
        row("gap 0", kGapAt, "e7030000", u"1.00"_s);    // 999
        row("gap 0", kGapAt, "40420f00", u"1000.00"_s); // no thousands separator
        row("gap 0", kGapAt, "ffffffff", u"4294967.30"_s);
        row("gap 11", kGapAt + 44, "d2040000", u"1.23"_s);
        // An indicator reads the byte's hex text as a decimal number.
        row("input 0", 0, "02", u"2"_s);
        row("input 0", 0, "1a", u"1"_s);
        row("input 0", 0, "a1", u"0"_s);
        row("input 11", 11, "1a", u"1"_s);
        row("output 0", kOutputAt, "10", u"10"_s);
        row("output 3", kOutputAt + 3, "1a", u"1"_s);
    }

    // The one field changes; every other field keeps its all-zero text.
    void decodeField() {
        QFETCH(int, offset);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        QByteArray reply(kReplySize, '\0');
        reply.replace(offset, bytes.size(), bytes);
        const QMap<QString, QString> fields = shown(lumora::protocol::decodeStatusReply(reply));
        for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
            const QString zero = it.key().startsWith(u"gap"_s) ? u"0.00"_s : u"0"_s;
            QCOMPARE(it.key() + u" = "_s + it.value(),
                     it.key() + u" = "_s + (it.key() == field ? expected : zero));
        }
    }

    // An indicator box has three states; the window and the command line refuse every other state number
    // alike. Channel numbers show as captions "00".."11", "CH01".."CH12" and the command line's columns.
    void stateNumbers_data() {
        columns<int, bool, QString>("number", "shown", "text");
        const std::tuple<int, bool, const char*> rows[] = {
            {-1, false, "-1"}, {0, true, "00"},   {1, true, "01"},   {2, true, "02"},   {3, false, "03"},
            {7, false, "07"},  {10, false, "10"}, {12, false, "12"}, {99, false, "99"}, {123, false, "123"}};
        for (const auto& [number, shown, text] : rows)
            QTest::addRow("%d", number) << number << shown << QString::fromLatin1(text);
    }
    void stateNumbers() {
        QFETCH(int, number);
        QTEST(lumora::protocol::isShownState(number), "shown");
        QTEST(lumora::protocol::channelText(number), "text");
    }
};

LUMORA_TEST_MAIN_CORE(tst_Protocol)
#include "tst_protocol.moc"
