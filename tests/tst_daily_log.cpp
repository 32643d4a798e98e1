#include "log/daily_log.h"
#include "testsupport.h"

#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

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
    void fullDiskLeavesWholeBlocks();
    void specialFileRefusedAtOnce_data();
    void specialFileRefusedAtOnce();

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
    QCOMPARE(lumora::log::dailyLogPath(u"/opt/lumora"_s, QDate(2016, 9, 8)), u"/opt/lumora/Log/20160908.txt"_s);
    QCOMPARE(lumora::log::dailyLogPath(u"/"_s, QDate(2024, 12, 31)), u"/Log/20241231.txt"_s);
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
        QCOMPARE(lumora::log::appendLine(file.fileName(), text).value_or(u"written"_s), u"written"_s);
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

    const std::optional<QString> failure = lumora::log::appendLine(logFile(), u"lost"_s);
    // The path and the system's own words ("Is a directory"), in whatever language.
    QFile probe(logFile());
    QVERIFY(!probe.open(QIODevice::WriteOnly | QIODevice::Append));
    QVERIFY2(failure && failure->contains(logFile()) && failure->contains(probe.errorString()),
             qPrintable(failure.value_or(u"no failure reported"_s)));
}

// The blocks of a status reply as they go into the file: 397 bytes each with
// the line end, so a 4 KiB file system fills in the middle of the eleventh.
void TestDailyLog::fullDiskLeavesWholeBlocks() {
    const QString mountPoint = testsupport::scratch().filePath(u"small-disk"_s);
    QVERIFY(QDir().mkpath(mountPoint));
    const QByteArray mountPath = QFile::encodeName(mountPoint);
    // A mount namespace of this thread's own: the small disk vanishes with
    // the process and no other program sees it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", mountPath.constData(), "tmpfs", 0, "size=4k") != 0)
        QSKIP(qPrintable(u"cannot mount a small file system here: "_s + qt_error_string(errno)));
    const auto unmount = qScopeGuard([&] { ::umount2(mountPath.constData(), MNT_DETACH); });

    QString block = u"[09:05:03.007] RECV : Status Request (112 Bytes)"_s;
    for (int line = 0; line < 4; ++line)
        block += u"\r\n"_s + u"00 "_s.repeated(28);
    const QString path = mountPoint + u"/20160908.txt"_s;
    const QByteArray inFile = block.toLatin1() + "\r\n";
    int written = 0;
    std::optional<QString> failure;
    while (!failure && written < 20) {
        failure = lumora::log::appendLine(path, block);
        written += failure ? 0 : 1;
    }
    QVERIFY2(failure, "the disk never filled");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), inFile.repeated(written));
    file.close();
    QVERIFY2(failure->contains(path) && failure->contains(qt_error_string(ENOSPC)), qPrintable(*failure));

    // Space comes back: the next block follows the last whole one.
    QCOMPARE(::mount(nullptr, mountPath.constData(), nullptr, MS_REMOUNT, "size=64k"), 0);
    QCOMPARE(lumora::log::appendLine(path, block).value_or(u"written"_s), u"written"_s);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), inFile.repeated(written + 1));
}

void TestDailyLog::specialFileRefusedAtOnce_data() {
    QTest::addColumn<bool>("read");
    QTest::newRow("FIFO nobody reads") << false;
    QTest::newRow("FIFO another program reads") << true;
}

void TestDailyLog::specialFileRefusedAtOnce() {
    QFETCH(bool, read);
    const QByteArray fifo = QFile::encodeName(logFile());
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    int reader = read ? ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    QVERIFY(!read || reader >= 0);
    const auto closeReader = qScopeGuard([&] {
        if (reader >= 0)
            ::close(reader);
    });

    auto pending =
        std::async(std::launch::async, [this] { return lumora::log::appendLine(logFile(), u"lost"_s); });
    const bool returned = pending.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!returned && reader < 0)
        reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // lets a hung write end
    QVERIFY2(returned, "the write waited for a reader");
    const std::optional<QString> failure = pending.get();
    QVERIFY2(failure && failure->contains(logFile()), qPrintable(failure.value_or(u"no failure reported"_s)));
    char byte = 0;
    if (read)
        QCOMPARE(::read(reader, &byte, 1), 0);
}

LUMORA_TEST_MAIN_CORE(TestDailyLog)
#include "tst_daily_log.moc"
