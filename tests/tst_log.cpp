// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/daily_log.h"
#include "log/log_list_model.h"
#include "log/recv_block.h"
#include "log/time_stamp.h"
#include "log/utc_moment.h"
#include "testsupport.h"
#include "trickle.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

using namespace Qt::StringLiterals;
using lumora::log::LogListModel;
using lumora::log::RecvBlockReader;
using testsupport::columns;

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

// A reply whose byte i is i, as its block's dump lines show it: every hex digit, and the breaks after 30, 60
// and 90 bytes.
const QStringList kRampDump{
    u"00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D "_s,
    u"1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F 30 31 32 33 34 35 36 37 38 39 3A 3B "_s,
    u"3C 3D 3E 3F 40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54 55 56 57 58 59 "_s,
    u"5A 5B 5C 5D 5E 5F 60 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F "_s};

QByteArray ramp() {
    QByteArray reply(112, '\0');
    for (int i = 0; i < reply.size(); ++i)
        reply[i] = char(i);
    return reply;
}

// A whole block of the ramp as a file holds it.
QByteArray rampBlock(const char* stamp, const char* lineEnd = "\r\n") {
    return testsupport::dailyBlock(stamp, ramp(), lineEnd);
}

// `length` bytes of one long line without an end, then `tail`, made as they are read: the test itself holds
// none of it.
class LongLine : public QIODevice {
public:
    LongLine(qint64 length, QByteArray tail)
        : length_(length)
        , tail_(std::move(tail)) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 most) override {
        if (at_ < length_) {
            const qint64 n = std::min(most, length_ - at_);
            std::memset(data, 'x', size_t(n));
            at_ += n;
            return n;
        }
        const qint64 n = std::min(most, length_ + tail_.size() - at_);
        std::memcpy(data, tail_.constData() + (at_ - length_), size_t(n));
        at_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 length_;
    QByteArray tail_;
    qint64 at_ = 0;
};

// What the reader finds, one text per block or skipped stretch: "12 09:05:03.007" (a block's header line and
// stamp, then the reply's hex unless it is the ramp), "12: why", and "read failed" at the end if it did.
QStringList findsOf(RecvBlockReader& reader) {
    QStringList found;
    using Found = RecvBlockReader::Found;
    for (Found f = reader.next(); f != Found::End; f = reader.next()) {
        if (f == Found::Skipped)
            found.append(u"%1: %2"_s.arg(reader.line()).arg(reader.why()));
        else
            found.append(u"%1 %2"_s.arg(reader.line()).arg(reader.stamp().toString(u"hh:mm:ss.zzz"_s)) +
                         (reader.reply() == ramp()
                              ? QString()
                              : u' ' + QString::fromLatin1(reader.reply().toByteArray().toHex())));
    }
    if (!reader.readToEnd())
        found.append(u"read failed"_s);
    return found;
}

QStringList readAll(QIODevice& device) {
    RecvBlockReader reader(device);
    return findsOf(reader);
}

// Plays a full disk after `room` bytes, signals that interrupt every other write and, if given, another
// program that appends its own line to the same file just as ours is cut short.
class CutShort : public lumora::log::DailyLogFile {
public:
    CutShort(const QString& path, qsizetype room, QByteArray others)
        : DailyLogFile(path)
        , room_(room)
        , others_(std::move(others)) {}

protected:
    ssize_t writeSome(int fd, const char* data, std::size_t size) override {
        interrupted_ = !interrupted_;
        if (interrupted_) { // a signal before anything was written: tried again
            errno = EINTR;
            return -1;
        }
        if (room_ == 0) {
            if (!others_.isEmpty()) {
                const int other =
                    ::open(QFile::encodeName(fileName()).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
                const bool wrote = other >= 0 && ::write(other, others_.constData(),
                                                         size_t(others_.size())) == others_.size();
                ::close(other);
                if (!wrote)
                    qFatal("the other program could not append");
            }
            errno = ENOSPC;
            return -1;
        }
        const ssize_t n = ::write(fd, data, std::min<std::size_t>(size, std::size_t(room_)));
        room_ -= n;
        return n;
    }

private:
    qsizetype room_;
    QByteArray others_;
    bool interrupted_ = false;
};

QStringList lineByLine(QByteArrayView input) {
    RecvBlockReader reader(input);
    reader.setWholeBlocksAtOnce(false);
    return findsOf(reader);
}

// Junk, torn and damaged blocks among whole ones, CR LF and LF, as a file may hold them by the time it is
// read: the same for a seed.
QByteArray mixedInput(quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray text;
    const int pieces = 1 + int(random.bounded(40));
    for (int i = 0; i < pieces; ++i) {
        const char* end = random.bounded(4) == 0 ? "\n" : "\r\n";
        QByteArray reply(112, '\0');
        for (char& byte : reply)
            byte = char(random.bounded(random.bounded(2) == 0 ? 3 : 256));
        const QTime stamp = QTime::fromMSecsSinceStartOfDay(int(random.bounded(86'400'000)));
        QByteArray block = testsupport::dailyBlock(stamp.toString(u"hh:mm:ss.zzz"_s).toLatin1(), reply, end);
        switch (random.bounded(12)) {
        case 0: // a byte changed into one that matters to a reader
            block[int(random.bounded(block.size()))] = "0A \r\n[]:.x9F"[random.bounded(12)];
            break;
        case 1: // cut anywhere
            block.truncate(int(random.bounded(block.size())));
            break;
        case 2: // a line of junk
            block = "junk " + QByteArray::number(i) + end;
            break;
        case 3: // a byte more or less
            if (random.bounded(2) == 0)
                block.insert(int(random.bounded(block.size())), 'A');
            else
                block.remove(int(random.bounded(block.size())), 1);
            break;
        case 4: // line ends gone wrong
            block.replace("\r\n", "\r\r\n");
            break;
        default:
            break;
        }
        text += block;
    }
    return text;
}

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
    // The list's stamp of a time of day, and the UTC moment of an instant given in any zone.
    void stampTexts() {
        QCOMPARE(lumora::log::formatTimeStamp(QTime(9, 5, 3, 7)), u"[09:05:03.007]"_s);
        QCOMPARE(lumora::log::formatTimeStamp(QTime(23, 59, 59, 999)), u"[23:59:59.999]"_s);
        QCOMPARE(lumora::log::formatTimeStamp(QTime()), u"[00:00:00.000]"_s);
        QCOMPARE(lumora::log::formatUtcMoment(QDateTime::fromMSecsSinceEpoch(-1, QTimeZone::utc())),
                 u"1969-12-31 23:59:59.999"_s);
        QCOMPARE(lumora::log::formatUtcMoment(QDateTime(QDate(2026, 3, 8), QTime(9, 5, 3, 7), Qt::UTC)),
                 u"2026-03-08 09:05:03.007"_s);
        QCOMPARE(
            lumora::log::formatUtcMoment(QDateTime(QDate(2027, 1, 1), QTime(8, 0), QTimeZone("Asia/Tokyo"))),
            u"2026-12-31 23:00:00.000"_s);
    }
    void append_data() {
        columns<int, int, bool, int>("before", "added", "asBlock", "newRows");
        QTest::newRow("empty, one") << 0 << 1 << false << 1;
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
    // Each call opens the file anew: it is created once, and every line goes in as given (an empty one, a
    // trailing blank, inner line ends) ended by CR LF: a reply's six lines as the window lists them too.
    void appendLine() {
        const QStringList lines = lumora::log::recvBlockLines(u"[09:05:03.007]"_s, ramp());
        QCOMPARE(lines, QStringList{u"[09:05:03.007] RECV : Status Request (112 Bytes)"_s} + kRampDump +
                            QStringList{QString()});
        lumora::log::DailyLogFile log(logFile());
        for (const QString& text : {QString(), u"52 "_s, u"a\r\nb\nc"_s, lumora::log::dailyFileText(lines)})
            QVERIFY2(log.appendLine(text), qPrintable(log.errorString()));
        QCOMPARE(testsupport::readFile(logFile()), "\r\n52 \r\na\r\nb\nc\r\n"_ba + rampBlock("09:05:03.007"));
    }
    void appendRefusedAtOnce_data() {
        columns<int, QString>("inPlace", "reason");
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
    void dateOfDailyLog_data() {
        columns<QString, QDate>("path", "date");
        QTest::newRow("as named") << u"/x/Log/20261207.txt"_s << QDate(2026, 12, 7);
        QTest::newRow("leap day") << u"20240229.txt"_s << QDate(2024, 2, 29);
        QTest::newRow("no such day") << u"20250229.txt"_s << QDate();
        QTest::newRow("other suffix") << u"20261207.log"_s << QDate();
        QTest::newRow("a letter") << u"2026120A.txt"_s << QDate();
        QTest::newRow("too long") << u"202612071.txt"_s << QDate();
        QTest::newRow("a digit of another script") << u"2026120\u0667.txt"_s << QDate();
    }
    // And back: the name the window files that day under.
    void dateOfDailyLog() {
        QFETCH(QString, path);
        QFETCH(QDate, date);
        QCOMPARE(lumora::log::dateOfDailyLog(path).value_or(QDate()), date);
        if (date.isValid())
            QCOMPARE(QFileInfo(lumora::log::dailyLogPath(u"/x"_s, date)).fileName(),
                     QFileInfo(path).fileName());
    }

    void readBlocks_data() {
        columns<QByteArray, QStringList>("input", "found");
        const QByteArray a = rampBlock("09:05:03.007");
        const QByteArray b = rampBlock("23:59:59.999");
        const QByteArray header = "[10:00:00.000] RECV : Status Request (112 Bytes)\r\n";
        const QByteArray dump1 = kRampDump[0].toLatin1() + "\r\n";
        const QString notBlock = u"not a RECV block, nor are the lines up to the next header"_s;
        QTest::newRow("nothing") << QByteArray() << QStringList{};
        QTest::newRow("CR LF") << a + b << QStringList{u"1 09:05:03.007"_s, u"7 23:59:59.999"_s};
        QTest::newRow("LF") << rampBlock("09:05:03.007", "\n") + rampBlock("00:00:00.000", "\n")
                            << QStringList{u"1 09:05:03.007"_s, u"7 00:00:00.000"_s};
        QTest::newRow("CR CR LF") << rampBlock("09:05:03.007", "\r\r\n") << QStringList{u"1 09:05:03.007"_s};
        QTest::newRow("torn after three lines")
            << a + header + dump1 + dump1
            << QStringList{u"1 09:05:03.007"_s, u"7: torn block: the file ends after 3 of its 6 lines"_s};
        QTest::newRow("torn inside a line")
            << a + header + dump1 + "00 01 0"
            << QStringList{u"1 09:05:03.007"_s, u"7: torn block: the file ends inside line 9"_s};
        QTest::newRow("torn junk") << a + "junk"
                                   << QStringList{
                                          u"1 09:05:03.007"_s,
                                          u"7: the file ends inside a line that starts no whole block"_s};
        QTest::newRow("junk between blocks")
            << a + "junk\r\n\r\nmore\r\n" + b
            << QStringList{u"1 09:05:03.007"_s, u"7: "_s + notBlock, u"10 23:59:59.999"_s};
        // The damage ends where a header is, and that header's block is whole.
        QTest::newRow("damaged block, then a header")
            << header + dump1 + b << QStringList{u"1: line 3 is not a dump line"_s, u"3 23:59:59.999"_s};
        QTest::newRow("header in place of the empty line")
            << a.chopped(2) + b
            << QStringList{u"1: line 6 should be the empty line that ends the block"_s, u"6 23:59:59.999"_s};
        QTest::newRow("a byte short")
            << QByteArray(a).remove(53, 3) + b
            << QStringList{
                   u"1: block of 111 bytes in lines of 29, 30, 30 and 22; a reply has 112 in 30, 30, 30 and 22"_s,
                   u"7 23:59:59.999"_s};
        QTest::newRow("all bytes, a line's last one on the next line")
            << QByteArray(a).replace("58 59 \r\n", "58 \r\n59 ") + b
            << QStringList{
                   u"1: block of 112 bytes in lines of 30, 30, 29 and 23; a reply has 112 in 30, 30, 30 and 22"_s,
                   u"7 23:59:59.999"_s};
        QTest::newRow("NUL in a header") << QByteArray(a).replace(" RECV", QByteArray("\0RECV", 5)) + b
                                         << QStringList{u"1: "_s + notBlock, u"7 23:59:59.999"_s};
        QTest::newRow("NUL in a dump line")
            << QByteArray(a).replace("0A ", QByteArray("0A\0", 3)) + b
            << QStringList{u"1: line 2 is not a dump line"_s, u"7 23:59:59.999"_s};
        QTest::newRow("NUL lines") << QByteArray(300, '\0') + "\n" + QByteArray(3, '\0') + "\n" + b
                                   << QStringList{u"1: "_s + notBlock, u"3 23:59:59.999"_s};
        QTest::newRow("a digit more in a dump line")
            << QByteArray(a).replace("6F \r\n", "6F 0\r\n") + b
            << QStringList{u"1: line 5 is not a dump line"_s, u"7 23:59:59.999"_s};
        QTest::newRow("lower-case hex")
            << QByteArray(a).replace("0A 0B", "0a 0B") + b
            << QStringList{u"1: line 2 is not a dump line"_s, u"7 23:59:59.999"_s};
        QTest::newRow("no bracket") << QByteArray(a).replace("[09:", "(09:") + b
                                    << QStringList{u"1: "_s + notBlock, u"7 23:59:59.999"_s};
        QTest::newRow("hour 24") << QByteArray(a).replace("[09:", "[24:") + b
                                 << QStringList{u"1: "_s + notBlock, u"7 23:59:59.999"_s};
        QTest::newRow("a blank after the header") << QByteArray(a).replace("Bytes)", "Bytes) ") + b
                                                  << QStringList{u"1: "_s + notBlock, u"7 23:59:59.999"_s};
        // Past what any line of a block can be, even with its end gone wrong.
        QTest::newRow("overlong line")
            << QByteArray(5000, 'A') + "\r\n" + a << QStringList{u"1: "_s + notBlock, u"2 09:05:03.007"_s};
        QTest::newRow("header trailed by CRs past any line")
            << header.chopped(2) + QByteArray(300, '\r') + "\n" + dump1 + a
            << QStringList{u"1: "_s + notBlock, u"3 09:05:03.007"_s};
        QTest::newRow("overlong dump line")
            << header + dump1.chopped(2).repeated(5) + "\r\n" + a
            << QStringList{u"1: line 2 is not a dump line"_s, u"3 09:05:03.007"_s};
    }
    // Each input read whole and a few bytes at a time: the same finds.
    void readBlocks() {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, found);
        QBuffer whole(&input);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QCOMPARE(readAll(whole), found);
        testsupport::Trickle trickle(input);
        QCOMPARE(readAll(trickle), found);
    }
    // A line of 128 MiB is passed over without being held: the process's peak memory stays where it was.
    void overlongLineHeldNowhere() {
        const auto peakKib = [] {
            QFile status(u"/proc/self/status"_s);
            if (!status.open(QIODevice::ReadOnly))
                return qint64(-1);
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    return line.mid(6).trimmed().split(' ').first().toLongLong();
            return qint64(-1);
        };
        const qint64 before = peakKib();
        if (before < 0)
            QSKIP("no peak memory figure here");
        constexpr qint64 kLength = qint64{128} << 20;
        LongLine device(kLength, "\n" + rampBlock("09:05:03.007"));
        QCOMPARE(readAll(device),
                 (QStringList{u"1: not a RECV block, nor are the lines up to the next header"_s,
                              u"2 09:05:03.007"_s}));
        QVERIFY2(peakKib() - before < qint64{16} * 1024,
                 qPrintable(u"peak grew by %1 KiB"_s.arg(peakKib() - before)));
    }
    void readFails() {
        QFile mem(u"/proc/self/mem"_s);
        QVERIFY(mem.open(QIODevice::ReadOnly));
        QCOMPARE(readAll(mem), QStringList{u"read failed"_s});
    }

    // ---- Reading whole blocks at once, from memory, in parts and on from where a read stopped ----

    void wholeBlocksFindTheSame_data() {
        QTest::addColumn<QByteArray>("input");
        const QDir corpus(QFINDTESTDATA("../fuzz/corpus/log_blocks"));
        QVERIFY(corpus.exists());
        const QStringList names = corpus.entryList(QDir::Files);
        QVERIFY(!names.isEmpty());
        for (const QString& name : names) {
            QFile file(corpus.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QTest::newRow(qPrintable(u"corpus "_s + name)) << file.readAll();
        }
        for (quint32 seed = 1; seed <= 300; ++seed)
            QTest::newRow(qPrintable(u"mixed %1"_s.arg(seed))) << mixedInput(seed);
    }
    // At once or line by line, from memory or from a device, whole or cut into parts at blocks: the same
    // finds, lines and reasons. And a read that stopped anywhere goes on from its settled point to find the
    // rest exactly as one read of the whole.
    void wholeBlocksFindTheSame() {
        QFETCH(QByteArray, input);
        const QStringList expected = lineByLine(input);
        RecvBlockReader fromMemory{QByteArrayView(input)};
        QCOMPARE(findsOf(fromMemory), expected);
        QBuffer device(&input);
        QVERIFY(device.open(QIODevice::ReadOnly));
        RecvBlockReader fromDevice(device);
        QCOMPARE(findsOf(fromDevice), expected);

        for (const qsizetype partBytes : {1, 397, 1000}) {
            const std::vector<qsizetype> cuts = lumora::log::blockCuts(input, partBytes);
            QCOMPARE(cuts.front(), 0);
            QCOMPARE(cuts.back(), input.size());
            QStringList inParts;
            qint64 lines = 0;
            for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
                QVERIFY(cuts[k] < cuts[k + 1]);
                RecvBlockReader part(QByteArrayView(input).first(cuts[k + 1]), {cuts[k], lines, false});
                inParts += findsOf(part);
                lines = part.lines();
            }
            QCOMPARE(inParts, expected);
        }
        QCOMPARE(lumora::log::blockCuts(input, 0), lumora::log::blockCuts(input, 1));

        for (qsizetype stop = 0; stop <= input.size(); stop += 1 + stop / 3) {
            RecvBlockReader first(QByteArrayView(input).first(stop));
            QStringList found = findsOf(first);
            const RecvBlockReader::Resume settled = first.settled();
            QVERIFY(settled.offset <= stop);
            // What the end of the part gave is told again, as it then stands.
            found.removeIf([&](const QString& f) {
                return f.section(u':', 0, 0).section(u' ', 0, 0).toLongLong() > settled.line;
            });
            RecvBlockReader rest(QByteArrayView(input), settled);
            const QStringList restFound = findsOf(rest);
            QCOMPARE(found + restFound, expected);
            // The same on from a device at that offset, a few bytes at a time, and its settled point is
            // the memory's.
            testsupport::Trickle trickle(input.mid(settled.offset));
            RecvBlockReader restOfDevice(trickle, settled);
            QCOMPARE(findsOf(restOfDevice), restFound);
            QCOMPARE(restOfDevice.settled().offset, rest.settled().offset);
            QCOMPARE(restOfDevice.settled().line, rest.settled().line);
        }
    }
    // The settled point of a file being written: after the last whole block, never inside the one still
    // coming, whatever the line ends.
    void settledAfterTheLastWholeBlock_data() {
        columns<QByteArray, qint64, qint64, bool>("input", "offset", "line", "skipping");
        const QByteArray a = rampBlock("09:05:03.007");
        const QByteArray lf = rampBlock("09:05:03.007", "\n");
        QTest::newRow("nothing") << QByteArray() << 0LL << 0LL << false;
        QTest::newRow("one whole") << a << qint64(a.size()) << 6LL << false;
        QTest::newRow("torn in the empty line") << a + a.chopped(1) << qint64(a.size()) << 6LL << false;
        QTest::newRow("torn after its header, LF") << lf + lf.first(49) << qint64(lf.size()) << 6LL << false;
        QTest::newRow("junk after it") << a + "junk\r\nmore\r\npart" << qint64(a.size() + 12) << 8LL << true;
    }
    void settledAfterTheLastWholeBlock() {
        QFETCH(QByteArray, input);
        for (const bool atOnce : {true, false}) {
            RecvBlockReader reader{QByteArrayView(input)};
            reader.setWholeBlocksAtOnce(atOnce);
            (void)findsOf(reader);
            QTEST(reader.settled().offset, "offset");
            QTEST(reader.settled().line, "line");
            QTEST(reader.settled().skipping, "skipping");
        }
    }

    void utcMoments_data() {
        // stamps in file order; a moment empty where its stamp is no time of that day
        columns<QByteArray, QDate, QStringList, QStringList>("zone", "fileDate", "stamps", "moments");
        // UTC+9: the local day is 15:00 to 15:00 UTC, mornings are the UTC day before.
        QTest::newRow("Tokyo") << "Asia/Tokyo"_ba << QDate(2026, 12, 7)
                               << QStringList{u"14:59:30.000"_s, u"15:00:10.000"_s, u"23:30:00.000"_s,
                                              u"09:00:00.000"_s, u"14:59:59.000"_s}
                               << QStringList{u"2026-12-06 14:59:30.000"_s, u"2026-12-06 15:00:10.000"_s,
                                              u"2026-12-06 23:30:00.000"_s, u"2026-12-07 09:00:00.000"_s,
                                              u"2026-12-07 14:59:59.000"_s};
        // UTC-8: evenings are the UTC day after. Just before midnight, filed just after; a stamp of the
        // minute after the day comes last and keeps the times in order.
        QTest::newRow("Los Angeles") << "America/Los_Angeles"_ba << QDate(2026, 12, 7)
                                     << QStringList{u"07:59:40.000"_s, u"08:00:05.000"_s, u"20:00:00.000"_s,
                                                    u"03:00:00.000"_s, u"08:00:30.000"_s}
                                     << QStringList{
                                            u"2026-12-07 07:59:40.000"_s, u"2026-12-07 08:00:05.000"_s,
                                            u"2026-12-07 20:00:00.000"_s, u"2026-12-08 03:00:00.000"_s,
                                            u"2026-12-08 08:00:30.000"_s};
        // Clocks go back at 02:00 PDT (09:00 UTC): 01:30 comes twice, and 23:30 PST is a day after 00:30 PDT.
        QTest::newRow("Los Angeles, clocks back")
            << "America/Los_Angeles"_ba << QDate(2026, 11, 1)
            << QStringList{u"07:30:00.000"_s, u"08:30:00.000"_s, u"09:30:00.000"_s, u"07:30:00.000"_s}
            << QStringList{u"2026-11-01 07:30:00.000"_s, u"2026-11-01 08:30:00.000"_s,
                           u"2026-11-01 09:30:00.000"_s, u"2026-11-02 07:30:00.000"_s};
        // Clocks go forward at 02:00 PST (10:00 UTC): a 23-hour day, from 08:00 to 07:00 UTC the next day.
        QTest::newRow("Los Angeles, clocks forward")
            << "America/Los_Angeles"_ba << QDate(2026, 3, 8)
            << QStringList{u"09:59:59.999"_s, u"10:00:00.000"_s, u"07:30:00.000"_s, u"07:00:30.000"_s}
            << QStringList{u"2026-03-08 09:59:59.999"_s, u"2026-03-08 10:00:00.000"_s, QString(),
                           u"2026-03-09 07:00:30.000"_s};
        // Clocks go forward at midnight: the day is 01:00 to 24:00 CDT, 05:00 to 04:00 UTC the next day.
        QTest::newRow("Havana, clocks forward at midnight")
            << "America/Havana"_ba << QDate(2026, 3, 8)
            << QStringList{u"05:00:00.000"_s, u"04:00:30.000"_s, u"04:30:00.000"_s}
            << QStringList{u"2026-03-08 05:00:00.000"_s, u"2026-03-09 04:00:30.000"_s, QString()};
        // A file whose times go back (the clock set by hand): as little as they can.
        QTest::newRow("UTC, the first minute of the margin twice")
            << "UTC"_ba << QDate(2026, 12, 7) << QStringList{u"23:59:00.000"_s, u"23:59:00.000"_s}
            << QStringList{u"2026-12-06 23:59:00.000"_s, u"2026-12-06 23:59:00.000"_s};
        QTest::newRow("UTC, times go back")
            << "UTC"_ba << QDate(2026, 12, 7)
            << QStringList{u"12:00:00.000"_s, u"00:00:30.000"_s, u"23:59:50.000"_s, u"23:59:40.000"_s}
            << QStringList{u"2026-12-07 12:00:00.000"_s, u"2026-12-08 00:00:30.000"_s,
                           u"2026-12-07 23:59:50.000"_s, u"2026-12-07 23:59:40.000"_s};
    }
    void utcMoments() {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, fileDate);
        QFETCH(QStringList, stamps);
        const QTimeZone timeZone(zone);
        if (!timeZone.isValid())
            QSKIP(qPrintable(u"no zone data for %1 (package tzdata)"_s.arg(QString::fromLatin1(zone))));
        lumora::log::FileDayMoments rule(fileDate, timeZone);
        lumora::log::FileDayMoments msRule(fileDate, timeZone);
        QStringList got;
        QStringList gotMs;
        for (const QString& stamp : std::as_const(stamps)) {
            const QTime time = QTime::fromString(stamp, u"hh:mm:ss.zzz"_s);
            const std::optional<QDateTime> moment = rule.next(time);
            got.append(moment ? lumora::log::formatUtcMoment(*moment) : QString());
            const std::optional<qint64> ms = msRule.nextMs(time.msecsSinceStartOfDay());
            gotMs.append(
                ms ? lumora::log::formatUtcMoment(QDateTime::fromMSecsSinceEpoch(*ms, QTimeZone::utc()))
                   : QString());
        }
        QTEST(got, "moments");
        QCOMPARE(gotMs, got);
        QCOMPARE(msRule.nextMs(24 * 60 * 60 * 1000), std::nullopt);
    }

    void cutShortLeavesOthersAlone_data() {
        columns<QByteArray, QByteArray>("others", "left");
        QTest::newRow("alone: taken back") << QByteArray() << QByteArray("earlier\r\n");
        QTest::newRow("another program appended meanwhile")
            << QByteArray("theirs\n") << QByteArray("earlier\r\n[09:05:theirs\n");
    }
    // A write cut short is taken back only while the file ends with it: another program's line stays.
    void cutShortLeavesOthersAlone() {
        QFETCH(QByteArray, others);
        {
            lumora::log::DailyLogFile before(logFile());
            QVERIFY(before.appendLine(u"earlier"_s));
        }
        CutShort log(logFile(), 7, others);
        QVERIFY(!log.appendLine(u"[09:05:03.007] RECV"_s));
        QTEST(testsupport::readFile(logFile()), "left");
        QCOMPARE(log.errorString(),
                 u"Cannot write %1: %2%3"_s.arg(
                     logFile(), qt_error_string(ENOSPC),
                     others.isEmpty() ? QString() : u" (part of the text is left in the file)"_s));
    }
};

LUMORA_TEST_MAIN_CORE(tst_Log)
#include "tst_log.moc"
