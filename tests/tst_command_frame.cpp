#include "protocol/command_frame.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using lumora::protocol::Command;
using OutputValues = std::array<int, 4>;

Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(OutputValues)

class TestCommandFrame : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void buildFrame_data();
    void buildFrame();
    void hexText();
};

void TestCommandFrame::buildFrame_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<OutputValues>("outputs");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("sendText");

    QTest::newRow("status request, boxes ticked")
        << Command::StatusRequest << OutputValues{1, 1, 1, 1} << QByteArray::fromHex("52") << u"52 "_s;
    QTest::newRow("output setting 01 and 04 ticked")
        << Command::OutputSetting << OutputValues{1, 0, 0, 1} << QByteArray::fromHex("5401000001")
        << u"54 01 00 00 01 "_s;
    QTest::newRow("output setting 02 greyed") << Command::OutputSetting << OutputValues{0, 2, 0, 0}
                                              << QByteArray::fromHex("5400020000") << u"54 00 02 00 00 "_s;
    QTest::newRow("output setting none ticked") << Command::OutputSetting << OutputValues{0, 0, 0, 0}
                                                << QByteArray::fromHex("5400000000") << u"54 00 00 00 00 "_s;
    QTest::newRow("counter reset, boxes ticked")
        << Command::CounterReset << OutputValues{1, 2, 1, 0} << QByteArray::fromHex("4341") << u"43 41 "_s;
}

void TestCommandFrame::buildFrame() {
    QFETCH(Command, command);
    QFETCH(OutputValues, outputs);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, sendText);

    QCOMPARE(lumora::protocol::buildFrame(command, outputs), bytes);
    QCOMPARE(lumora::protocol::hexText(bytes), sendText);
}

void TestCommandFrame::hexText() {
    QCOMPARE(lumora::protocol::hexText(QByteArray()), QString());
    QCOMPARE(lumora::protocol::hexText(QByteArray::fromHex("0a00ff")), u"0A 00 FF "_s);
}

LUMORA_TEST_MAIN_CORE(TestCommandFrame)
#include "tst_command_frame.moc"
