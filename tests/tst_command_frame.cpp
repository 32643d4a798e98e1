#include "protocol/command_frame.h"
#include "testsupport.h"

#include <QtTest>

using protocol::Command;

Q_DECLARE_METATYPE(Command)

using OutputValues = std::array<int, 4>;
Q_DECLARE_METATYPE(OutputValues)

class TestCommandFrame : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void buildFrame_data();
    void buildFrame();
    void hexText_data();
    void hexText();
    void frameHexText_data();
    void frameHexText();
};

void TestCommandFrame::buildFrame_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<OutputValues>("outputs");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("status request") << Command::StatusRequest << OutputValues{0, 0, 0, 0}
                                    << QByteArray::fromHex("52");
    QTest::newRow("status request ignores ticked outputs")
        << Command::StatusRequest << OutputValues{1, 1, 1, 1} << QByteArray::fromHex("52");
    QTest::newRow("output setting none ticked")
        << Command::OutputSetting << OutputValues{0, 0, 0, 0} << QByteArray::fromHex("5400000000");
    QTest::newRow("output setting 01 and 04 ticked")
        << Command::OutputSetting << OutputValues{1, 0, 0, 1} << QByteArray::fromHex("5401000001");
    QTest::newRow("output setting 01 ticked")
        << Command::OutputSetting << OutputValues{1, 0, 0, 0} << QByteArray::fromHex("5401000000");
    QTest::newRow("output setting 02 greyed")
        << Command::OutputSetting << OutputValues{0, 2, 0, 0} << QByteArray::fromHex("5400020000");
    QTest::newRow("output setting all ticked")
        << Command::OutputSetting << OutputValues{1, 1, 1, 1} << QByteArray::fromHex("5401010101");
    QTest::newRow("counter reset") << Command::CounterReset << OutputValues{0, 0, 0, 0}
                                   << QByteArray::fromHex("4341");
    QTest::newRow("counter reset ignores ticked outputs")
        << Command::CounterReset << OutputValues{1, 2, 1, 0} << QByteArray::fromHex("4341");
}

void TestCommandFrame::buildFrame() {
    QFETCH(Command, command);
    QFETCH(OutputValues, outputs);
    QFETCH(QByteArray, expected);

    QCOMPARE(protocol::buildFrame(command, outputs), expected);
}

void TestCommandFrame::hexText_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no bytes") << QByteArray() << QString();
    QTest::newRow("00") << QByteArray::fromHex("00") << QStringLiteral("00 ");
    QTest::newRow("0A") << QByteArray::fromHex("0a") << QStringLiteral("0A ");
    QTest::newRow("FF") << QByteArray::fromHex("ff") << QStringLiteral("FF ");
    QTest::newRow("7F 80") << QByteArray::fromHex("7f80") << QStringLiteral("7F 80 ");
    QTest::newRow("embedded zero") << QByteArray::fromHex("010002") << QStringLiteral("01 00 02 ");
}

void TestCommandFrame::hexText() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);

    QCOMPARE(protocol::hexText(bytes), expected);
}

void TestCommandFrame::frameHexText_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<OutputValues>("outputs");
    QTest::addColumn<QString>("expected");

    QTest::newRow("status request") << Command::StatusRequest << OutputValues{0, 0, 0, 0}
                                    << QStringLiteral("52 ");
    QTest::newRow("output setting 01 and 04 ticked")
        << Command::OutputSetting << OutputValues{1, 0, 0, 1} << QStringLiteral("54 01 00 00 01 ");
    QTest::newRow("output setting none ticked")
        << Command::OutputSetting << OutputValues{0, 0, 0, 0} << QStringLiteral("54 00 00 00 00 ");
    QTest::newRow("counter reset") << Command::CounterReset << OutputValues{0, 0, 0, 0}
                                   << QStringLiteral("43 41 ");
}

void TestCommandFrame::frameHexText() {
    QFETCH(Command, command);
    QFETCH(OutputValues, outputs);
    QFETCH(QString, expected);

    QCOMPARE(protocol::hexText(protocol::buildFrame(command, outputs)), expected);
}

LUMORA_TEST_MAIN_CORE(TestCommandFrame)
#include "tst_command_frame.moc"
