#include "log/log_list_model.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

namespace {

QString numbered(int n) {
    return QStringLiteral("line %1").arg(n);
}

// Fills through append() alone, the only way lines get in.
void fill(eventlog::LogListModel& model, int count) {
    for (int i = 0; i < count; ++i)
        model.append(numbered(i));
}

} // namespace

class TestLogListModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void append_data();
    void append();
    void appendEmitsOneRemovalAndOneInsertion();
    void emptyLinesCount();
    void clearThenAppend();
    void displayRoleOnly();
};

void TestLogListModel::append_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("expectedRow");
    QTest::addColumn<int>("expectedRows");
    QTest::addColumn<QString>("expectedFirst");

    QTest::newRow("empty") << 0 << 0 << 1 << QStringLiteral("new");
    QTest::newRow("one line") << 1 << 1 << 2 << numbered(0);
    QTest::newRow("999 lines") << 999 << 999 << 1000 << numbered(0);
    QTest::newRow("1000 lines") << 1000 << 1000 << 1001 << numbered(0);
    QTest::newRow("1001 lines") << 1001 << 1000 << 1001 << numbered(1);
    QTest::newRow("1002 appended") << 1002 << 1000 << 1001 << numbered(2);
    QTest::newRow("5000 appended") << 5000 << 1000 << 1001 << numbered(4000);
}

void TestLogListModel::append() {
    QFETCH(int, before);
    QFETCH(int, expectedRow);
    QFETCH(int, expectedRows);
    QFETCH(QString, expectedFirst);

    eventlog::LogListModel model;
    fill(model, before);
    // Attached after filling: it re-checks the whole model on every change.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(model.append(QStringLiteral("new")), expectedRow);
    QCOMPARE(model.rowCount(), expectedRows);
    QCOMPARE(model.line(0), expectedFirst);
    QCOMPARE(model.line(expectedRows - 1), QStringLiteral("new"));
    QCOMPARE(model.data(model.index(expectedRows - 1)).toString(), QStringLiteral("new"));
    QCOMPARE(model.data(model.index(0)).toString(), expectedFirst);
}

void TestLogListModel::appendEmitsOneRemovalAndOneInsertion() {
    eventlog::LogListModel model;
    fill(model, 1001);

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    QCOMPARE(model.append(QStringLiteral("newest")), 1000);

    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 0);
    QCOMPARE(removed.at(0).at(2).toInt(), 0);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 1000);
    QCOMPARE(inserted.at(0).at(2).toInt(), 1000);
    QCOMPARE(reset.size(), 0);
    QCOMPARE(model.line(0), numbered(1));
    QCOMPARE(model.line(999), numbered(1000));
}

void TestLogListModel::emptyLinesCount() {
    eventlog::LogListModel model;
    for (int i = 0; i < 1001; ++i)
        QCOMPARE(model.append(QString()), i);
    QCOMPARE(model.rowCount(), 1001);

    QCOMPARE(model.append(QStringLiteral("last")), 1000);
    QCOMPARE(model.rowCount(), 1001);
    QCOMPARE(model.line(0), QString());
    QCOMPARE(model.line(1000), QStringLiteral("last"));
}

void TestLogListModel::clearThenAppend() {
    eventlog::LogListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(model, 1001);

    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.clear();
    QCOMPARE(reset.size(), 1);
    QCOMPARE(model.rowCount(), 0);

    QCOMPARE(model.append(QStringLiteral("after clear")), 0);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.line(0), QStringLiteral("after clear"));
}

void TestLogListModel::displayRoleOnly() {
    eventlog::LogListModel model;
    model.append(QStringLiteral("[09:05:03.007] SEND : 52 "));

    const QModelIndex first = model.index(0);
    QCOMPARE(model.data(first, Qt::DisplayRole).toString(), QStringLiteral("[09:05:03.007] SEND : 52 "));
    QVERIFY(!model.data(first, Qt::DecorationRole).isValid());
    QVERIFY(!model.data(model.index(1)).isValid());
    QCOMPARE(model.rowCount(first), 0);
}

LUMORA_TEST_MAIN_CORE(TestLogListModel)
#include "tst_log_list_model.moc"
