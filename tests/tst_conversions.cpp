#include "link/conversions.h"
#include "testsupport.h"

#include <QtTest>

#include <clocale>

class TestConversions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void leadingNumber_data();
    void leadingNumber();
    void leadingNumberIgnoresLocale();
    void portFromText_data();
    void portFromText();
    void intervalMsFromText_data();
    void intervalMsFromText();
};

void TestConversions::leadingNumber_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("2") << QStringLiteral("2") << 2.0;
    QTest::newRow("0.5") << QStringLiteral("0.5") << 0.5;
    QTest::newRow("1.2.3") << QStringLiteral("1.2.3") << 1.2;
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("+1") << QStringLiteral("+1") << 1.0;
    QTest::newRow("space 2") << QStringLiteral(" 2") << 2.0;
    QTest::newRow("tab 2") << QStringLiteral("\t2") << 2.0;
    QTest::newRow("-1") << QStringLiteral("-1") << -1.0;
    QTest::newRow("-0.25") << QStringLiteral("-0.25") << -0.25;
    QTest::newRow("abc") << QStringLiteral("abc") << 0.0;
    QTest::newRow("point") << QStringLiteral(".") << 0.0;
    QTest::newRow("sign only") << QStringLiteral("-") << 0.0;
    QTest::newRow("sign and point") << QStringLiteral("+.") << 0.0;
    QTest::newRow("100000") << QStringLiteral("100000") << 100000.0;
    QTest::newRow("12abc") << QStringLiteral("12abc") << 12.0;
    QTest::newRow(".5") << QStringLiteral(".5") << 0.5;
    QTest::newRow("5.") << QStringLiteral("5.") << 5.0;
    QTest::newRow("comma stops") << QStringLiteral("1,5") << 1.0;
    QTest::newRow("exponent ignored") << QStringLiteral("1e3") << 1.0;
    QTest::newRow("trailing blank") << QStringLiteral("3 ") << 3.0;
    QTest::newRow("blank after sign") << QStringLiteral("- 1") << 0.0;
    QTest::newRow("arabic-indic digit") << QString(QChar(0x0663)) << 0.0;
}

void TestConversions::leadingNumber() {
    QFETCH(QString, text);
    QFETCH(double, expected);

    QCOMPARE(session::leadingNumber(text), expected);
}

void TestConversions::leadingNumberIgnoresLocale() {
    // Neither Qt's default locale nor the C library's may turn the point into
    // something else: the box text always uses "." whatever the user's locale.
    const QLocale previousDefault;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const char* const previous = std::setlocale(LC_NUMERIC, nullptr);
    const QByteArray saved = previous ? QByteArray(previous) : QByteArray("C");
    const bool commaLocale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;

    const double value = session::leadingNumber(QStringLiteral("0.5"));
    const int interval = session::intervalMsFromText(QStringLiteral("1.5"));
    const std::optional<std::uint16_t> port = session::portFromText(QStringLiteral("80.6"));

    if (commaLocale)
        std::setlocale(LC_NUMERIC, saved.constData());
    QLocale::setDefault(previousDefault);

    QCOMPARE(value, 0.5);
    QCOMPARE(interval, 1500);
    QVERIFY(port.has_value());
    QCOMPARE(int(*port), 81);
}

void TestConversions::portFromText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("expected");

    QTest::newRow("4000") << QStringLiteral("4000") << true << 4000;
    QTest::newRow("80.5") << QStringLiteral("80.5") << true << 80;
    QTest::newRow("81.5") << QStringLiteral("81.5") << true << 82;
    QTest::newRow("80.4") << QStringLiteral("80.4") << true << 80;
    QTest::newRow("80.6") << QStringLiteral("80.6") << true << 81;
    QTest::newRow("32767") << QStringLiteral("32767") << true << 32767;
    QTest::newRow("40000") << QStringLiteral("40000") << true << 40000;
    QTest::newRow("65535") << QStringLiteral("65535") << true << 65535;
    QTest::newRow("65534.5") << QStringLiteral("65534.5") << true << 65534;
    QTest::newRow("0") << QStringLiteral("0") << true << 0;
    QTest::newRow("0.5") << QStringLiteral("0.5") << true << 0;
    QTest::newRow("00080") << QStringLiteral("00080") << true << 80;
    QTest::newRow(".5") << QStringLiteral(".5") << true << 0;
    QTest::newRow("80.") << QStringLiteral("80.") << true << 80;
    QTest::newRow("65536") << QStringLiteral("65536") << false << 0;
    QTest::newRow("65535.5") << QStringLiteral("65535.5") << false << 0;
    QTest::newRow("99999") << QStringLiteral("99999") << false << 0;
    QTest::newRow("many digits") << QStringLiteral("1").repeated(400) << false << 0;
    QTest::newRow("empty") << QString() << false << 0;
    QTest::newRow("1.2.3") << QStringLiteral("1.2.3") << false << 0;
    QTest::newRow("point") << QStringLiteral(".") << false << 0;
    QTest::newRow("abc") << QStringLiteral("abc") << false << 0;
    QTest::newRow("12abc") << QStringLiteral("12abc") << false << 0;
    QTest::newRow("space 80") << QStringLiteral(" 80") << false << 0;
    QTest::newRow("80 space") << QStringLiteral("80 ") << false << 0;
    QTest::newRow("+80") << QStringLiteral("+80") << false << 0;
    QTest::newRow("-1") << QStringLiteral("-1") << false << 0;
}

void TestConversions::portFromText() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, expected);

    const std::optional<std::uint16_t> port = session::portFromText(text);
    QCOMPARE(port.has_value(), valid);
    if (valid)
        QCOMPARE(int(*port), expected);
}

void TestConversions::intervalMsFromText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("1") << QStringLiteral("1") << 1000;
    QTest::newRow("2") << QStringLiteral("2") << 2000;
    QTest::newRow("0.5") << QStringLiteral("0.5") << 500;
    QTest::newRow("1.2.3") << QStringLiteral("1.2.3") << 1200;
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("+1") << QStringLiteral("+1") << 1000;
    QTest::newRow("space 2") << QStringLiteral(" 2") << 2000;
    QTest::newRow("-1") << QStringLiteral("-1") << 0;
    QTest::newRow("abc") << QStringLiteral("abc") << 0;
    QTest::newRow("point") << QStringLiteral(".") << 0;
    QTest::newRow("0") << QStringLiteral("0") << 0;
    QTest::newRow("15") << QStringLiteral("15") << 15000;
    QTest::newRow("65.536") << QStringLiteral("65.536") << 65536;
    QTest::newRow("86400") << QStringLiteral("86400") << 86400000;
    QTest::newRow("100000") << QStringLiteral("100000") << 86400000;
    QTest::newRow("many digits") << QStringLiteral("9").repeated(400) << 86400000;
    QTest::newRow("0.001") << QStringLiteral("0.001") << 1;
    // These products are exact halves in double precision, so they show the
    // tie going to the even neighbour.
    QTest::newRow("0.0005") << QStringLiteral("0.0005") << 0;
    QTest::newRow("0.0015") << QStringLiteral("0.0015") << 2;
    QTest::newRow("0.0025") << QStringLiteral("0.0025") << 2;
    QTest::newRow("0.0035") << QStringLiteral("0.0035") << 4;
    QTest::newRow("1.0005") << QStringLiteral("1.0005") << 1000;
    QTest::newRow("86399.9995") << QStringLiteral("86399.9995") << 86400000;
    QTest::newRow("86400.0004") << QStringLiteral("86400.0004") << 86400000;
    QTest::newRow("-0.0004") << QStringLiteral("-0.0004") << 0;
}

void TestConversions::intervalMsFromText() {
    QFETCH(QString, text);
    QFETCH(int, expected);

    QCOMPARE(session::intervalMsFromText(text), expected);
}

LUMORA_TEST_MAIN_CORE(TestConversions)
#include "tst_conversions.moc"
