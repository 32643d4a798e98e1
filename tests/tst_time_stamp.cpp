#include "log/time_stamp.h"
#include "testsupport.h"

#include <QtTest>

class TestTimeStamp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formatTimeStamp_data();
    void formatTimeStamp();
};

void TestTimeStamp::formatTimeStamp_data() {
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("expected");

    QTest::newRow("00:00:00.005") << QTime(0, 0, 0, 5) << QStringLiteral("[00:00:00.005]");
    QTest::newRow("00:00:00.000") << QTime(0, 0, 0, 0) << QStringLiteral("[00:00:00.000]");
    QTest::newRow("09:05:03.007") << QTime(9, 5, 3, 7) << QStringLiteral("[09:05:03.007]");
    QTest::newRow("09:41:07.250") << QTime(9, 41, 7, 250) << QStringLiteral("[09:41:07.250]");
    QTest::newRow("12:34:56.078") << QTime(12, 34, 56, 78) << QStringLiteral("[12:34:56.078]");
    QTest::newRow("23:59:59.999") << QTime(23, 59, 59, 999) << QStringLiteral("[23:59:59.999]");
}

void TestTimeStamp::formatTimeStamp() {
    QFETCH(QTime, time);
    QFETCH(QString, expected);

    const QString stamp = lumora::log::formatTimeStamp(time);
    QCOMPARE(stamp, expected);
    QCOMPARE(stamp.size(), 14);
}

LUMORA_TEST_MAIN_CORE(TestTimeStamp)
#include "tst_time_stamp.moc"
