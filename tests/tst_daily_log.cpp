#include "log/daily_log.h"
#include "testsupport.h"

#include <QtTest>

namespace {

// The one caller's text: a RECV block without its final line end, which
// appendLine adds.
QString recvBlock(const QString& stamp) {
    const QString crlf = QStringLiteral("\r\n");
    const QString thirty = QStringLiteral("00 ").repeated(30);
    return stamp + QStringLiteral(" RECV : Status Request (112 Bytes)") + crlf + thirty + crlf + thirty +
           crlf + thirty + crlf + QStringLiteral("00 ").repeated(22) + crlf;
}

QByteArray recvBlockBytes(const QByteArray& stamp) {
    const QByteArray thirty = QByteArray("00 ").repeated(30);
    return stamp + " RECV : Status Request (112 Bytes)\r\n" + thirty + "\r\n" + thirty + "\r\n" + thirty +
           "\r\n" + QByteArray("00 ").repeated(22) + "\r\n\r\n";
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

class TestDailyLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void dailyLogPath_data();
    void dailyLogPath();
    void appendLine_data();
    void appendLine();
    void appendKeepsExistingContent();
    void appendFails_data();
    void appendFails();

private:
    QString logDir() const;
    int caseNumber_ = 0;
};

QString TestDailyLog::logDir() const {
    return testsupport::scratch().filePath(QStringLiteral("case%1/Log").arg(caseNumber_));
}

void TestDailyLog::init() {
    ++caseNumber_;
    QVERIFY(QDir().mkpath(logDir()));
}

void TestDailyLog::dailyLogPath_data() {
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("expected");

    QTest::newRow("release date") << QStringLiteral("/opt/lumora") << QDate(2016, 9, 8)
                                  << QStringLiteral("/opt/lumora/Log/20160908.txt");
    QTest::newRow("trailing slash") << QStringLiteral("/opt/lumora/") << QDate(2016, 9, 8)
                                    << QStringLiteral("/opt/lumora/Log/20160908.txt");
    QTest::newRow("new year's eve") << QStringLiteral("/home/user/bin") << QDate(2024, 12, 31)
                                    << QStringLiteral("/home/user/bin/Log/20241231.txt");
    QTest::newRow("first day") << QStringLiteral("/x") << QDate(2000, 1, 1)
                               << QStringLiteral("/x/Log/20000101.txt");
    QTest::newRow("root folder") << QStringLiteral("/") << QDate(2031, 10, 5)
                                 << QStringLiteral("/Log/20311005.txt");
}

void TestDailyLog::dailyLogPath() {
    QFETCH(QString, programDir);
    QFETCH(QDate, date);
    QFETCH(QString, expected);

    QCOMPARE(eventlog::dailyLogPath(programDir, date), expected);
}

void TestDailyLog::appendLine_data() {
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("one line") << QStringList{QStringLiteral("abc")} << QByteArray("abc\r\n");
    QTest::newRow("empty text") << QStringList{QString()} << QByteArray("\r\n");
    QTest::newRow("text ending in a space") << QStringList{QStringLiteral("52 ")} << QByteArray("52 \r\n");
    QTest::newRow("two lines") << QStringList{QStringLiteral("a"), QStringLiteral("b")}
                               << QByteArray("a\r\nb\r\n");
    QTest::newRow("lone LF kept as is") << QStringList{QStringLiteral("a\nb")} << QByteArray("a\nb\r\n");
    QTest::newRow("two recv blocks") << QStringList{recvBlock(QStringLiteral("[09:05:03.007]")),
                                                    recvBlock(QStringLiteral("[09:05:04.011]"))}
                                     << recvBlockBytes("[09:05:03.007]") + recvBlockBytes("[09:05:04.011]");
}

void TestDailyLog::appendLine() {
    QFETCH(QStringList, texts);
    QFETCH(QByteArray, expected);

    const QString path = eventlog::dailyLogPath(QFileInfo(logDir()).path(), QDate(2016, 9, 8));
    QVERIFY(!QFileInfo::exists(path));
    for (const QString& text : texts) {
        const std::optional<QString> failure = eventlog::appendLine(path, text);
        QVERIFY2(!failure, qPrintable(failure.value_or(QString())));
    }
    QCOMPARE(readAll(path), expected);
}

void TestDailyLog::appendKeepsExistingContent() {
    const QString path = QDir(logDir()).filePath(QStringLiteral("20160908.txt"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write("earlier\r\n"), qint64(9));
    }
    QVERIFY(!eventlog::appendLine(path, QStringLiteral("later")));
    QCOMPARE(readAll(path), QByteArray("earlier\r\nlater\r\n"));
}

void TestDailyLog::appendFails_data() {
    QTest::addColumn<bool>("directoryInPlace");

    QTest::newRow("missing Log folder") << false;
    QTest::newRow("directory in place of the file") << true;
}

void TestDailyLog::appendFails() {
    QFETCH(bool, directoryInPlace);

    QString path;
    if (directoryInPlace) {
        path = QDir(logDir()).filePath(QStringLiteral("20160908.txt"));
        QVERIFY(QDir().mkpath(path));
    } else {
        QVERIFY(QDir(logDir()).removeRecursively());
        path = QDir(logDir()).filePath(QStringLiteral("20160908.txt"));
    }

    const std::optional<QString> failure = eventlog::appendLine(path, QStringLiteral("lost"));
    QVERIFY(failure.has_value());
    QVERIFY(!failure->isEmpty());
    QVERIFY2(failure->contains(QStringLiteral("20160908.txt")), qPrintable(*failure));

    // The reason carries the system's own words ("No such file or directory",
    // "Is a directory" in English), whatever language they are in.
    QFile probe(path);
    QVERIFY(!probe.open(QIODevice::WriteOnly | QIODevice::Append));
    QVERIFY2(failure->contains(probe.errorString()),
             qPrintable(*failure + QStringLiteral(" / ") + probe.errorString()));

    QCOMPARE(QFileInfo(path).isDir(), directoryInPlace);
    QCOMPARE(QFileInfo::exists(logDir()), directoryInPlace);
}

LUMORA_TEST_MAIN_CORE(TestDailyLog)
#include "tst_daily_log.moc"
