// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/daily_log.h"
#include "log/log_list_model.h"
#include "log/time_stamp.h"
#include "testsupport.h"

#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

using namespace Qt::StringLiterals;
using lumora::log::LogListModel;

namespace {

QStringList numbered(const QString& prefix, int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines.append(u"%1 %2"_s.arg(prefix).arg(i));
    return lines;
}

QStringList contents(const LogListModel& model) {
    QStringList lines;
    for (int row = 0; row < model.rowCount(); ++row)
        lines.append(model.data(model.index(row)).toString());
    return lines;
}

// What stands where the daily log file goes.
enum InPlace { NoFolder, Directory, Fifo, ReadFifo };

} // namespace

class tst_Log : public QObject {
    Q_OBJECT

    // A Log folder of its own for every case.
    QString logDir() const { return testsupport::scratch().filePath(u"case%1/Log"_s.arg(caseNumber_)); }
    QString logFile() const { return QDir(logDir()).filePath(u"20160908.txt"_s); }
    int caseNumber_ = 0;

private Q_SLOTS:
    void init() {
        ++caseNumber_;
        QVERIFY(QDir().mkpath(logDir()));
    }
    void formatTimeStamp() {
        QCOMPARE(lumora::log::formatTimeStamp(QTime(9, 5, 3, 7)), u"[09:05:03.007]"_s);
        QCOMPARE(lumora::log::formatTimeStamp(QTime(23, 59, 59, 999)), u"[23:59:59.999]"_s);
    }
    void append_data() {
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
    // Views are told exactly what changed (the tester checks each signal), and the new lines' rows are named.
    void append() {
        QFETCH(int, before);
        QFETCH(int, added);
        QFETCH(bool, asBlock);
        QFETCH(int, newRows);
        LogListModel model;
        const QStringList old = numbered(u"old"_s, before);
        model.append(old);
        QCOMPARE(contents(model), old);
        // Attached after filling: it re-checks the whole model on every change.
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy appended(&model, &LogListModel::linesAppended);
        const QStringList lines = numbered(u"new"_s, added);
        int lastRow = -1;
        if (asBlock)
            model.append(lines);
        else
            lastRow = model.append(lines.first());
        QVERIFY(asBlock || lastRow == model.rowCount() - 1);
        // Lines leave from the top only: 1000 are kept before each append.
        const QStringList expected = (old + lines).mid(std::max(0, before + added - 1001));
        QCOMPARE(contents(model), expected);
        QCOMPARE(removed.size(), 0);
        QCOMPARE(inserted.size(), newRows > 0 ? 1 : 0);
        if (newRows > 0)
            QCOMPARE(inserted.first().at(2).toInt() - inserted.first().at(1).toInt() + 1, newRows);
        QCOMPARE(appended.size(), added > 0 ? 1 : 0);
        if (added == 0)
            return;
        const int first = appended.first().at(0).toInt();
        const int last = appended.first().at(1).toInt();
        QCOMPARE(last, model.rowCount() - 1);
        QCOMPARE(last - first + 1, std::min<int>(added, LogListModel::kFull));
        QCOMPARE(model.line(first), expected.at(first));
        QCOMPARE(model.line(last), lines.last());
    }
    void clearThenAppend() {
        LogListModel model;
        model.append(u"old"_s);
        model.clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.append(u"after clear"_s), 0);
        QCOMPARE(model.line(0), u"after clear"_s);
    }
    void dailyLogPath() {
        QCOMPARE(lumora::log::dailyLogPath(u"/opt/lumora"_s, QDate(2016, 9, 8)),
                 u"/opt/lumora/Log/20160908.txt"_s);
        QCOMPARE(lumora::log::dailyLogPath(u"/"_s, QDate(2024, 12, 31)), u"/Log/20241231.txt"_s);
    }
    // Each call opens the file anew: it is created once, and every line goes in as given (an empty one,
    // a trailing blank, inner line ends) ended by CR LF.
    void appendLine() {
        lumora::log::DailyLogFile log(logFile());
        for (const QString& text : {QString(), u"52 "_s, u"a\r\nb\nc"_s})
            QVERIFY2(log.appendLine(text), qPrintable(log.errorString()));
        QFile file(logFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "\r\n52 \r\na\r\nb\nc\r\n"_ba);
    }
    void appendRefusedAtOnce_data() {
        QTest::addColumn<int>("inPlace");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing Log folder") << int(NoFolder) << qt_error_string(ENOENT);
        QTest::newRow("directory in place of the file") << int(Directory) << qt_error_string(EISDIR);
        QTest::newRow("FIFO nobody reads") << int(Fifo) << u"Not a regular file"_s;
        QTest::newRow("FIFO another program reads") << int(ReadFifo) << u"Not a regular file"_s;
    }
    // The error names path and system's reason; nothing waits for a FIFO's reader, and a reader gets nothing.
    void appendRefusedAtOnce() {
        QFETCH(int, inPlace);
        QFETCH(QString, reason);
        const QByteArray path = QFile::encodeName(logFile());
        QVERIFY(inPlace != NoFolder || QDir(logDir()).removeRecursively());
        QVERIFY(inPlace != Directory || QDir().mkpath(logFile()));
        QVERIFY(inPlace < Fifo || ::mkfifo(path.constData(), 0600) == 0);
        const auto openReader = [&] { return ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); };
        int reader = inPlace == ReadFifo ? openReader() : -1;
        QVERIFY(inPlace != ReadFifo || reader >= 0);
        const auto closeReader = qScopeGuard([&] { ::close(reader); }); // refuses -1 harmlessly
        lumora::log::DailyLogFile log(logFile());
        auto pending = std::async(std::launch::async, [&log] { return log.appendLine(u"lost"_s); });
        const bool returned = pending.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!returned && reader < 0)
            reader = openReader(); // lets a hung write end
        QVERIFY2(returned, "the write waited for a reader");
        QVERIFY(!pending.get());
        QCOMPARE(log.errorString(), u"Cannot open %1: %2"_s.arg(logFile(), reason));
        char byte = 0;
        if (inPlace == ReadFifo)
            QCOMPARE(::read(reader, &byte, 1), 0);
    }
    // The blocks of a status reply as they go into the file: 397 bytes each with the line end, so a
    // 4 KiB file system fills in the middle of the eleventh.
    void fullDiskLeavesWholeBlocks() {
        const QString mountPoint = testsupport::scratch().filePath(u"small-disk"_s);
        QVERIFY(QDir().mkpath(mountPoint));
        const QByteArray mountPath = QFile::encodeName(mountPoint);
        // A mount namespace of this thread's own: the small disk vanishes with the process, unseen.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mountPath.constData(), "tmpfs", 0, "size=4k") != 0)
            QSKIP(qPrintable(u"cannot mount a small file system here: "_s + qt_error_string(errno)));
        const auto unmount = qScopeGuard([&] { ::umount2(mountPath.constData(), MNT_DETACH); });
        const QString block = u"[09:05:03.007] RECV : Status Request (112 Bytes)"_s +
                              (u"\r\n"_s + u"00 "_s.repeated(28)).repeated(4);
        const QByteArray inFile = block.toLatin1() + "\r\n";
        QFile file(mountPoint + u"/20160908.txt"_s);
        lumora::log::DailyLogFile log(file.fileName());
        int written = 0;
        while (written < 20 && log.appendLine(block))
            ++written;
        QVERIFY2(written < 20, "the disk never filled");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), inFile.repeated(written));
        file.close();
        QCOMPARE(log.errorString(), u"Cannot write %1: %2"_s.arg(file.fileName(), qt_error_string(ENOSPC)));
        // Space comes back: the next block follows the last whole one.
        QCOMPARE(::mount(nullptr, mountPath.constData(), nullptr, MS_REMOUNT, "size=64k"), 0);
        QVERIFY2(log.appendLine(block), qPrintable(log.errorString()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), inFile.repeated(written + 1));
    }
};

LUMORA_TEST_MAIN_CORE(tst_Log)
#include "tst_log.moc"
