#include "log/log_list_model.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestLogListModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void append_data();
    void append();
    void blockMatchesLineByLine_data();
    void blockMatchesLineByLine();
    void clearThenAppend();
};

void TestLogListModel::append_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("expectedRow");
    QTest::addColumn<QString>("expectedFirst");
    QTest::addColumn<int>("removals");

    QTest::newRow("empty") << 0 << 0 << u"new"_s << 0;
    QTest::newRow("999 lines") << 999 << 999 << u"line 0"_s << 0;
    QTest::newRow("1000 lines") << 1000 << 1000 << u"line 0"_s << 0;
    QTest::newRow("1001 lines") << 1001 << 1000 << u"line 1"_s << 1;
    QTest::newRow("5000 appended") << 5000 << 1000 << u"line 4000"_s << 1;
}

void TestLogListModel::append() {
    QFETCH(int, before);
    QFETCH(int, expectedRow);
    QFETCH(QString, expectedFirst);
    QFETCH(int, removals);

    eventlog::LogListModel model;
    for (int i = 0; i < before; ++i)
        model.append(u"line %1"_s.arg(i));
    // Attached after filling: it re-checks the whole model on every change.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    QCOMPARE(model.append(u"new"_s), expectedRow);
    QCOMPARE(model.rowCount(), expectedRow + 1);
    QCOMPARE(model.data(model.index(0)).toString(), expectedFirst);
    QCOMPARE(model.data(model.index(expectedRow)).toString(), u"new"_s);
    QCOMPARE(removed.size(), removals);
    QCOMPARE(inserted.size(), 1);
}

void TestLogListModel::blockMatchesLineByLine_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("blockSize");
    QTest::newRow("empty, a reply's six") << 0 << 6;
    QTest::newRow("997 lines, six reach the cap") << 997 << 6;
    QTest::newRow("full, six") << 1001 << 6;
    QTest::newRow("full, one") << 1001 << 1;
    QTest::newRow("full, more than the cap") << 1001 << 1500;
    QTest::newRow("none added") << 10 << 0;
}

void TestLogListModel::blockMatchesLineByLine() {
    QFETCH(int, before);
    QFETCH(int, blockSize);
    eventlog::LogListModel oneByOne;
    eventlog::LogListModel block;
    for (int i = 0; i < before; ++i) {
        oneByOne.append(u"old %1"_s.arg(i));
        block.append(u"old %1"_s.arg(i));
    }
    QStringList lines;
    for (int i = 0; i < blockSize; ++i)
        lines.append(u"new %1"_s.arg(i));
    for (const QString& line : lines)
        oneByOne.append(line);
    QAbstractItemModelTester tester(&block, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&block, &QAbstractItemModel::rowsInserted);
    block.append(lines);
    QCOMPARE(inserted.size(), blockSize > 0 ? 1 : 0);
    QCOMPARE(block.rowCount(), oneByOne.rowCount());
    for (int row = 0; row < block.rowCount(); ++row)
        QCOMPARE(block.line(row), oneByOne.line(row));
}

void TestLogListModel::clearThenAppend() {
    eventlog::LogListModel model;
    model.append(u"old"_s);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.append(u"after clear"_s), 0);
    QCOMPARE(model.line(0), u"after clear"_s);
}

LUMORA_TEST_MAIN_CORE(TestLogListModel)
#include "tst_log_list_model.moc"
