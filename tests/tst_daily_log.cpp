#include "log/daily_log.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestDailyLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void dailyLogPath();
    void appendLine_data();
    void appendLine();
    void appendFails_data();
    void appendFails();

private:
    // A Log folder of its own for every case.
    QString logDir() const { return testsupport::scratch().filePath(u"case%1/Log"_s.arg(caseNumber_)); }
    QString logFile() const { return QDir(logDir()).filePath(u"20160908.txt"_s); }
    int caseNumber_ = 0;
};

void TestDailyLog::init() {
    ++caseNumber_;
    QVERIFY(QDir().mkpath(logDir()));
}

void TestDailyLog::dailyLogPath() {
    QCOMPARE(eventlog::dailyLogPath(u"/opt/lumora"_s, QDate(2016, 9, 8)), u"/opt/lumora/Log/20160908.txt"_s);
    QCOMPARE(eventlog::dailyLogPath(u"/"_s, QDate(2024, 12, 31)), u"/Log/20241231.txt"_s);
}

void TestDailyLog::appendLine_data() {
    QTest::addColumn<QByteArray>("earlier");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("one line") << QByteArray() << QStringList{u"abc"_s} << QByteArray("abc\r\n");
    QTest::newRow("empty text, then a trailing blank")
        << QByteArray() << QStringList{QString(), u"52 "_s} << QByteArray("\r\n52 \r\n");
    QTest::newRow("inner CR LF and lone LF as given")
        << QByteArray() << QStringList{u"a\r\nb\nc"_s} << QByteArray("a\r\nb\nc\r\n");
    QTest::newRow("after earlier content")
        << QByteArray("earlier\r\n") << QStringList{u"later"_s} << QByteArray("earlier\r\nlater\r\n");
}

void TestDailyLog::appendLine() {
    QFETCH(QByteArray, earlier);
    QFETCH(QStringList, texts);
    QFETCH(QByteArray, expected);

    QFile file(logFile());
    if (!earlier.isEmpty()) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(earlier), earlier.size());
        file.close();
    }
    for (const QString& text : texts)
        QCOMPARE(eventlog::appendLine(file.fileName(), text).value_or(u"written"_s), u"written"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TestDailyLog::appendFails_data() {
    QTest::addColumn<bool>("directoryInPlace");
    QTest::newRow("missing Log folder") << false;
    QTest::newRow("directory in place of the file") << true;
}

void TestDailyLog::appendFails() {
    QFETCH(bool, directoryInPlace);
    QVERIFY(directoryInPlace ? QDir().mkpath(logFile()) : QDir(logDir()).removeRecursively());

    const std::optional<QString> failure = eventlog::appendLine(logFile(), u"lost"_s);
    // The path and the system's own words ("Is a directory"), in whatever language.
    QFile probe(logFile());
    QVERIFY(!probe.open(QIODevice::WriteOnly | QIODevice::Append));
    QVERIFY2(failure && failure->contains(logFile()) && failure->contains(probe.errorString()),
             qPrintable(failure.value_or(u"no failure reported"_s)));
}

LUMORA_TEST_MAIN_CORE(TestDailyLog)
#include "tst_daily_log.moc"
