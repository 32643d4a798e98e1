#include "log/log_list_model.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// What the list must hold: before each line goes in, lines are dropped from
// the top until 1000 remain.
QStringList expectedAfter(QStringList list, const QStringList& added) {
    for (const QString& line : added) {
        while (list.size() > lumora::log::LogListModel::kKeepBeforeAppend)
            list.removeFirst();
        list.append(line);
    }
    return list;
}

QStringList numbered(const QString& prefix, int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append(u"%1 %2"_s.arg(prefix).arg(i));
    return lines;
}

QStringList contents(const lumora::log::LogListModel& model) {
    QStringList lines;
    for (int row = 0; row < model.rowCount(); ++row)
        lines.append(model.data(model.index(row)).toString());
    return lines;
}

} // namespace

class TestLogListModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void append_data();
    void append();
    void clearThenAppend();
};

void TestLogListModel::append_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("added");
    QTest::addColumn<bool>("asBlock");
    QTest::addColumn<int>("newRows");

    QTest::newRow("empty, one") << 0 << 1 << false << 1;
    QTest::newRow("999 lines, one") << 999 << 1 << false << 1;
    QTest::newRow("1000 lines, one") << 1000 << 1 << false << 1;
    QTest::newRow("full, one") << 1001 << 1 << false << 0;
    QTest::newRow("empty, a reply's six") << 0 << 6 << true << 6;
    QTest::newRow("997 lines, six reach the cap") << 997 << 6 << true << 4;
    QTest::newRow("full, six") << 1001 << 6 << true << 0;
    QTest::newRow("5, more than the cap at once") << 5 << 1500 << true << 996;
    QTest::newRow("none added") << 10 << 0 << true << 0;
}

// Views are told exactly what changed (the tester checks every signal
// against the model), and the new lines' rows are named.
void TestLogListModel::append() {
    QFETCH(int, before);
    QFETCH(int, added);
    QFETCH(bool, asBlock);
    QFETCH(int, newRows);

    lumora::log::LogListModel model;
    const QStringList old = numbered(u"old"_s, before);
    model.append(old);
    QCOMPARE(contents(model), old);
    // Attached after filling: it re-checks the whole model on every change.
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy appended(&model, &lumora::log::LogListModel::linesAppended);

    const QStringList lines = numbered(u"new"_s, added);
    int lastRow = -1;
    if (asBlock)
        model.append(lines);
    else
        lastRow = model.append(lines.first());

    const QStringList expected = expectedAfter(old, lines);
    QCOMPARE(contents(model), expected);
    QCOMPARE(removed.size(), 0);
    QCOMPARE(inserted.size(), newRows > 0 ? 1 : 0);
    if (newRows > 0)
        QCOMPARE(inserted.first().at(2).toInt() - inserted.first().at(1).toInt() + 1, newRows);
    if (!asBlock)
        QCOMPARE(lastRow, model.rowCount() - 1);
    if (added == 0) {
        QCOMPARE(appended.size(), 0);
        return;
    }
    QCOMPARE(appended.size(), 1);
    const int first = appended.first().at(0).toInt();
    const int last = appended.first().at(1).toInt();
    QCOMPARE(last, model.rowCount() - 1);
    QCOMPARE(model.line(first), expected.at(first));
    QCOMPARE(last - first + 1, std::min<int>(added, lumora::log::LogListModel::kFull));
    QCOMPARE(model.line(last), lines.last());
}

void TestLogListModel::clearThenAppend() {
    lumora::log::LogListModel model;
    model.append(u"old"_s);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.append(u"after clear"_s), 0);
    QCOMPARE(model.line(0), u"after clear"_s);
}

LUMORA_TEST_MAIN_CORE(TestLogListModel)
#include "tst_log_list_model.moc"
