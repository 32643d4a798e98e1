// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/recv_block.h"
#include "log/utc_moment.h"
#include "testsupport.h"
#include "timeline/day_files.h"
#include "timeline/vcd_writer.h"

#include <QBuffer>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

struct Fields {
    QList<int> inputs;
    QList<quint32> counters;
    QList<quint32> gaps;
    QList<int> outputs;
};

// Laid out as the unit sends it: counters and gaps least significant byte first.
QByteArray reply(const Fields& fields) {
    QByteArray bytes(112, '\0');
    const auto put = [&](int at, quint32 value) {
        for (int k = 0; k < 4; ++k)
            bytes[at + k] = char((value >> (8 * k)) & 0xFF);
    };
    for (int k = 0; k < fields.inputs.size(); ++k)
        bytes[k] = char(fields.inputs[k]);
    for (int k = 0; k < fields.counters.size(); ++k)
        put(12 + 4 * k, fields.counters[k]);
    for (int k = 0; k < fields.gaps.size(); ++k)
        put(60 + 4 * k, fields.gaps[k]);
    for (int k = 0; k < fields.outputs.size(); ++k)
        bytes[108 + k] = char(fields.outputs[k]);
    return bytes;
}

// 2026-12-07 10:00:00.000 UTC
constexpr qint64 kTen = 1'796'637'600'000;

QByteArray definitions() {
    QByteArray text = "$timescale 1 us $end\n$scope module lumora $end\n";
    const QByteArray ids = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";
    for (int k = 0; k < 40; ++k) {
        const QByteArray type = k < 16 ? "wire 1" : k < 28 ? "wire 32" : "real 64";
        const QByteArray name = k < 12   ? "DI" + QByteArray::number(k).rightJustified(2, '0')
                                : k < 16 ? "DO0" + QByteArray::number(k - 11)
                                : k < 28 ? "CNT" + QByteArray::number(k - 15).rightJustified(2, '0')
                                         : "GAP" + QByteArray::number(k - 27).rightJustified(2, '0');
        text += "$var " + type + ' ' + ids[k] + ' ' + name + " $end\n";
    }
    return text + "$upscope $end\n$enddefinitions $end\n";
}

// ---- Daily files read into a timeline ----

// A block as the window files it, its reply's byte 0 and counter 1 set to `value`, written out by Qt's hex.
QByteArray dayBlock(const char* stamp, quint32 value = 0, const char* end = "\r\n") {
    const QByteArray bytes = reply({{int(value & 1)}, {value}, {}, {}});
    QByteArray text = QByteArray(stamp) + " RECV : Status Request (112 Bytes)" + end;
    for (int k = 0; k < 4; ++k)
        text += bytes.mid(qsizetype{30} * k, k < 3 ? 30 : 22).toHex(' ').toUpper() + ' ' + end;
    return text + end;
}

// A folder of its own for each case.
QDir dayFolder() {
    static int cases = 0;
    QDir dir(testsupport::scratch().filePath(u"days%1"_s.arg(++cases)));
    dir.mkpath(u"."_s);
    return dir;
}

bool writeFile(const QString& path, const QByteArray& bytes,
               QIODevice::OpenMode mode = QIODevice::WriteOnly) {
    QFile file(path);
    return file.open(mode) && file.write(bytes) == bytes.size();
}

QStringList messages(const lumora::timeline::DayFiles& days) {
    QStringList texts;
    for (const lumora::timeline::FileProblem& p : days.problems())
        texts.append(p.message());
    return texts;
}

QStringList utcTimes(const lumora::timeline::ReplyStore& store) {
    QStringList times;
    for (qsizetype i = 0; i < store.size(); ++i)
        times.append(
            lumora::log::formatUtcMoment(QDateTime::fromMSecsSinceEpoch(store.msAt(i), QTimeZone::utc())));
    return times;
}

} // namespace

class tst_Timeline : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void vcd_data() {
        QTest::addColumn<QList<qint64>>("moments");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("no reply") << QList<qint64>{} << QList<QByteArray>{} << definitions();
        const QByteArray first = reply({{1, 2, 5}, {5}, {1005}, {1}});
        // Input 0 falls, the refused input 2 comes back, counter 0 resets and
        // counter 1 stands at its top; gap 0 rounds to a new shown value.
        const QByteArray second = reply({{0, 2, 1}, {0, 0xFFFFFFFF}, {1004, 1001}, {1}});
        const QByteArray third = reply({{0, 2, 1}, {0, 0xFFFFFFFF}, {1004, 1001}, {2}});
        const QByteArray fourth =
            reply({{0, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {0, 0xFFFFFFFF}, {1004, 1001}, {2}});
        QByteArray dump =
            "#0\n$dumpvars\n1A\nxB\nzC\n0D\n0E\n0F\n0G\n0H\n0I\n0J\n0K\n0L\n1M\n0N\n0O\n0P\nb101 Q\n";
        for (const char id : QByteArray("RSTUVWXYZab"))
            dump += "b0 "_ba + id + '\n';
        dump += "r1.01 c\n";
        for (const char id : QByteArray("defghijklmn"))
            dump += "r0.00 "_ba + id + '\n';
        dump += "$end\n";
        QTest::newRow("changes only, x, z, reset, time stepping back, nothing new")
            << QList<qint64>{kTen, kTen + 1500, kTen + 1000, kTen + 2000, kTen + 3000}
            << QList<QByteArray>{first, second, third, fourth, fourth}
            << "$date 2026-12-07 10:00:00.000 UTC $end\n" + definitions() + dump +
                   "#1500000\n0A\n1C\nb0 Q\nb11111111111111111111111111111111 R\nr1.00 c\nr1.00 d\n"
                   "$comment time steps back: 2026-12-07 10:00:01.000 UTC comes after "
                   "2026-12-07 10:00:01.500 UTC; written at #1500000 $end\nxM\n#2000000\n1L\n";
    }
    void vcd() {
        QFETCH(QList<qint64>, moments);
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QByteArray, expected);
        QBuffer out;
        QVERIFY(out.open(QIODevice::WriteOnly));
        lumora::timeline::VcdWriter writer(out);
        for (qsizetype k = 0; k < moments.size(); ++k)
            writer.add(moments[k], replies[k]);
        QVERIFY(writer.finish());
        QCOMPARE(out.data(), expected);
    }

    void writeFailureIsReported() {
        QBuffer closed;
        lumora::timeline::VcdWriter writer(closed);
        writer.add(QDateTime::fromMSecsSinceEpoch(kTen, QTimeZone::utc()), reply({}));
        QVERIFY(!writer.finish());
        QCOMPARE(writer.errorString(), closed.errorString());
    }

    // ---- Daily files read into a timeline ----

    void badFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes"); // or "DIR", "FIFO", "MEM" (unreadable), "NONE" (missing)
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("problem"); // "%1": the path; a trailing * stands for any system reason
        QTest::addColumn<int>("replies");
        const QByteArray a = dayBlock("[10:00:00.000]");
        QTest::newRow("not a log file by its name")
            << u"notes.txt"_s << a << "UTC"_ba
            << u"%1: not a daily log file (the name is not YYYYMMDD.txt), skipped"_s << 1;
        QTest::newRow("not a log file inside")
            << u"20261207.txt"_s << "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"_ba
            << "UTC"_ba << u"%1:1: not a RECV block, nor are the lines up to the next header, skipped"_s << 1;
        QTest::newRow("a folder") << u"20261207.txt"_s << "DIR"_ba
                                  << "UTC"_ba << u"%1: a folder, not a daily log file, skipped"_s << 1;
        QTest::newRow("a FIFO") << u"20261207.txt"_s << "FIFO"_ba
                                << "UTC"_ba << u"%1: not a daily log file (not a regular file), skipped"_s
                                << 1;
        QTest::newRow("missing") << u"20261207.txt"_s << "NONE"_ba
                                 << "UTC"_ba << u"%1: cannot open it: *"_s << 1;
        QTest::newRow("unreadable") << u"20261207.txt"_s << "MEM"_ba
                                    << "UTC"_ba << u"%1: cannot read it to the end: *"_s << 1;
        QTest::newRow("junk between blocks")
            << u"20261207.txt"_s << a + "junk\r\n" + dayBlock("[10:00:01.000]") << "UTC"_ba
            << u"%1:7: not a RECV block, nor are the lines up to the next header, skipped"_s << 3;
        QTest::newRow("torn block") << u"20261207.txt"_s << a + dayBlock("[10:00:01.000]").first(120)
                                    << "UTC"_ba << u"%1:7: torn block: the file ends inside line 8, skipped"_s
                                    << 2;
        // The clocks go forward at 10:00 UTC that day: 23 hours from 08:00 to 07:00 UTC the next.
        QTest::newRow("a stamp that is no time of its day")
            << u"20260308.txt"_s << a + dayBlock("[07:30:00.000]") << "America/Los_Angeles"_ba
            << u"%1:7: the stamp is no time of 2026-03-08 in this time zone, skipped"_s << 2;
    }
    // Each bad file gives one problem naming it (and the line), and every whole block of it and of a good
    // file beside it is read.
    void badFile() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, zone);
        QFETCH(QString, problem);
        QFETCH(int, replies);
        const QTimeZone timeZone(zone);
        if (!timeZone.isValid())
            QSKIP("no zone data (package tzdata)");
        const QDir dir = dayFolder();
        const QString good = dir.filePath(u"20260101.txt"_s);
        QVERIFY(writeFile(good, dayBlock("[12:00:00.000]")));
        const QString path = dir.filePath(name);
        if (bytes == "DIR")
            QVERIFY(dir.mkpath(name));
        else if (bytes == "FIFO")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (bytes == "MEM")
            QVERIFY(QFile::link(u"/proc/self/mem"_s, path));
        else if (bytes != "NONE")
            QVERIFY(writeFile(path, bytes));
        lumora::timeline::ReplyStore store;
        lumora::timeline::DayFiles days(store, timeZone);
        days.load({path, good});
        const QStringList got = messages(days);
        QCOMPARE(got.size(), 1);
        const QString expected = problem.arg(path);
        if (expected.endsWith(u'*'))
            QVERIFY2(got.first().startsWith(expected.chopped(1)) && got.first().size() > expected.size(),
                     qPrintable(got.first()));
        else
            QCOMPARE(got.first(), expected);
        QCOMPARE(store.size(), replies);
    }
    // Days named in any order make one timeline in the order of their days.
    void severalDaysSorted() {
        const QDir dir = dayFolder();
        const QStringList names{u"20261208.txt"_s, u"20261206.txt"_s, u"20261207.txt"_s};
        QVERIFY(writeFile(dir.filePath(names[0]), dayBlock("[00:00:01.000]", 3)));
        QVERIFY(writeFile(dir.filePath(names[1]), dayBlock("[12:00:00.000]", 1, "\n")));
        QVERIFY(
            writeFile(dir.filePath(names[2]), dayBlock("[08:00:00.000]", 2) + dayBlock("[08:00:00.001]", 7)));
        lumora::timeline::ReplyStore store;
        lumora::timeline::DayFiles days(store, QTimeZone::utc());
        days.load({dir.filePath(names[0]), dir.filePath(names[1]), dir.filePath(names[2])});
        QCOMPARE(messages(days), QStringList{});
        QCOMPARE(days.files(),
                 (QStringList{dir.filePath(names[1]), dir.filePath(names[2]), dir.filePath(names[0])}));
        QCOMPARE(utcTimes(store), (QStringList{u"2026-12-06 12:00:00.000"_s, u"2026-12-07 08:00:00.000"_s,
                                               u"2026-12-07 08:00:00.001"_s, u"2026-12-08 00:00:01.000"_s}));
        QCOMPARE(store.at(3).counters[0], 3U);
        QCOMPARE(store.at(2).lane(0), lumora::timeline::Level::High);
        QVERIFY(days.stepsBack().empty());
        QCOMPARE(lumora::timeline::stepsBackNote(days.stepsBack()), QString());
    }
    void stepsBack_data() {
        QTest::addColumn<QList<QByteArray>>("stamps");
        QTest::addColumn<QList<qint64>>("lines");
        QTest::addColumn<QString>("note");
        QTest::newRow("once") << QList<QByteArray>{"[10:00:00.000]", "[10:00:01.000]", "[09:00:00.000]",
                                                   "[09:00:00.000]"}
                              << QList<qint64>{13} << u"; time steps back at 20261207.txt line 13"_s;
        QTest::newRow("twice") << QList<QByteArray>{"[10:00:00.000]", "[09:59:59.999]", "[11:00:00.000]",
                                                    "[08:00:00.000]"}
                               << QList<qint64>{7, 19}
                               << u"; time steps back at 20261207.txt line 7 and at 1 more place"_s;
        QTest::newRow("three times") << QList<QByteArray>{"[10:00:00.000]", "[09:00:00.000]",
                                                          "[08:00:00.000]", "[07:00:00.000]"}
                                     << QList<qint64>{7, 13, 19}
                                     << u"; time steps back at 20261207.txt line 7 and at 2 more places"_s;
    }
    // A time that goes back stays where it falls, and is told by file and line.
    void stepsBack() {
        QFETCH(QList<QByteArray>, stamps);
        QFETCH(QList<qint64>, lines);
        QFETCH(QString, note);
        const QDir dir = dayFolder();
        QByteArray text;
        for (const QByteArray& stamp : stamps)
            text += dayBlock(stamp.constData());
        QVERIFY(writeFile(dir.filePath(u"20261207.txt"_s), text));
        lumora::timeline::ReplyStore store;
        lumora::timeline::DayFiles days(store, QTimeZone::utc());
        days.load({dir.filePath(u"20261207.txt"_s)});
        QList<qint64> got;
        for (const lumora::timeline::TimeStepBack& step : days.stepsBack()) {
            QCOMPARE(step.file, dir.filePath(u"20261207.txt"_s));
            got.append(step.line);
        }
        QCOMPARE(got, lines);
        QStringList expected;
        for (const QByteArray& stamp : stamps)
            expected.append(u"2026-12-07 "_s + QString::fromLatin1(stamp.mid(1, 12)));
        QCOMPARE(utcTimes(store), expected);
        QCOMPARE(lumora::timeline::stepsBackNote(days.stepsBack()), note);
    }
    // Blocks appended to the last file are picked up; one still being written waits until it is whole. What
    // comes after the last file by name (a folder here) neither stops that nor is taken back.
    void follow() {
        const QDir dir = dayFolder();
        const QString earlier = dir.filePath(u"20261206.txt"_s);
        const QString path = dir.filePath(u"20261207.txt"_s);
        const QString folder = dir.filePath(u"zz"_s);
        QVERIFY(dir.mkpath(folder));
        const QString folderProblem = folder + u": a folder, not a daily log file, skipped"_s;
        QVERIFY(writeFile(earlier, dayBlock("[09:00:00.000]")));
        const QByteArray third = dayBlock("[10:00:01.000]", 3);
        QVERIFY(
            writeFile(path, dayBlock("[10:00:00.000]", 1) + dayBlock("[10:00:00.500]", 2) + third.first(60)));
        lumora::timeline::ReplyStore store;
        lumora::timeline::DayFiles days(store, QTimeZone::utc());
        days.load({folder, path, earlier});
        QCOMPARE(store.size(), 3);
        const QString torn = path + u":13: torn block: the file ends inside line 14, skipped"_s;
        QCOMPARE(messages(days), (QStringList{folderProblem, torn}));
        QCOMPARE(days.follow(), 0);
        QCOMPARE(messages(days), (QStringList{folderProblem, torn}));
        QVERIFY(writeFile(path, third.mid(60) + third.first(100), QIODevice::Append));
        QCOMPARE(days.follow(), 1);
        QCOMPARE(
            messages(days),
            (QStringList{folderProblem, path + u":19: torn block: the file ends inside line 20, skipped"_s}));
        QCOMPARE(days.follow(), 0);
        QCOMPARE(messages(days).size(), 2);
        QVERIFY(writeFile(path, third.mid(100) + "junk\r\n", QIODevice::Append));
        QCOMPARE(days.follow(), 1);
        QCOMPARE(messages(days),
                 (QStringList{
                     folderProblem,
                     path + u":25: not a RECV block, nor are the lines up to the next header, skipped"_s}));
        QVERIFY(writeFile(path, "more junk\r\n" + dayBlock("[10:00:02.000]", 4, "\n"), QIODevice::Append));
        QCOMPARE(days.follow(), 1);
        QCOMPARE(messages(days).size(), 2);
        QCOMPARE(utcTimes(store).mid(3),
                 (QStringList{u"2026-12-07 10:00:01.000"_s, u"2026-12-07 10:00:01.000"_s,
                              u"2026-12-07 10:00:02.000"_s}));
        QCOMPARE(store.at(5).counters[0], 4U);
        QVERIFY(days.stepsBack().empty());
    }
    // A file large enough to be read on two threads, with damage in some of its parts and a time that goes
    // back: the same replies, problems and lines as the line-by-line reading of the whole.
    void largeFileOnTwoThreads() {
        const QDir dir = dayFolder();
        const QString path = dir.filePath(u"20261207.txt"_s);
        QByteArray text;
        text.reserve(qsizetype{130} << 20);
        const QByteArray templ = dayBlock("[00:00:00.000]");
        qint64 ms = 0;
        while (text.size() < (qsizetype{120} << 20)) {
            QByteArray block = templ;
            const QByteArray stamp =
                QTime::fromMSecsSinceStartOfDay(int(ms)).toString(u"hh:mm:ss.zzz"_s).toLatin1();
            block.replace(1, 12, stamp);
            const QByteArray value =
                QByteArray::number(quint32(ms) & 0xFF, 16).rightJustified(2, '0').toUpper();
            block.replace(50 + 36, 2, value); // counter 1's low byte
            text += block;
            ms +=
                text.size() > (qsizetype{70} << 20) && text.size() < (qsizetype{70} << 20) + 400 ? -5000 : 7;
            if (text.size() > (qsizetype{45} << 20) && text.size() < (qsizetype{45} << 20) + 400)
                text += "junk\r\n";
            if (text.size() > (qsizetype{90} << 20) && text.size() < (qsizetype{90} << 20) + 400)
                text += block.first(200);
        }
        QVERIFY(writeFile(path, text));

        QStringList expectedProblems;
        QList<qint64> expectedSteps;
        std::vector<lumora::timeline::Sample> expected;
        lumora::log::RecvBlockReader reader{QByteArrayView(text)};
        reader.setWholeBlocksAtOnce(false);
        lumora::log::FileDayMoments moments(QDate(2026, 12, 7), QTimeZone::utc());
        for (auto f = reader.next(); f != lumora::log::RecvBlockReader::Found::End; f = reader.next()) {
            if (f == lumora::log::RecvBlockReader::Found::Skipped) {
                expectedProblems.append(
                    u"%1:%2: %3, skipped"_s.arg(path).arg(reader.line()).arg(reader.why()));
                continue;
            }
            const qint64 at = moments.next(reader.stamp())->toMSecsSinceEpoch();
            if (!expected.empty() && at < expected.back().ms)
                expectedSteps.append(reader.line());
            expected.push_back(lumora::timeline::sampleOf(at, reader.reply()));
        }
        QCOMPARE(expectedProblems.size(), 2);
        QCOMPARE(expectedSteps.size(), 1);

        lumora::timeline::ReplyStore store;
        lumora::timeline::DayFiles days(store, QTimeZone::utc());
        days.load({path});
        QCOMPARE(messages(days), expectedProblems);
        QList<qint64> steps;
        for (const lumora::timeline::TimeStepBack& step : days.stepsBack())
            steps.append(step.line);
        QCOMPARE(steps, expectedSteps);
        QCOMPARE(store.size(), qsizetype(expected.size()));
        for (qsizetype i = 0; i < store.size(); i += 997)
            QCOMPARE(store.at(i), expected[std::size_t(i)]);
        QCOMPARE(store.at(store.size() - 1), expected.back());
        QCOMPARE(days.follow(), 0);
        QVERIFY(writeFile(path, dayBlock("[23:00:00.000]"), QIODevice::Append));
        QCOMPARE(days.follow(), 1);
        QCOMPARE(store.size(), qsizetype(expected.size()) + 1);
    }
};

LUMORA_TEST_MAIN_CORE(tst_Timeline)
#include "tst_timeline.moc"
