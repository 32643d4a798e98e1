// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer program: its command line called directly and run as a program,
// and its window over daily files written here, byte for byte.

#include "testsupport.h"
#include "timeline/reply_store.h"
#include "viewer/arguments.h"
#include "viewer/texts.h"
#include "viewer/viewer.h"
#include "waveform/signal_view.h"
#include "waveform/signal_window.h"

#include <QApplication>
#include <QDateTime>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUrl>

using namespace Qt::StringLiterals;
using lumora::viewer::ParsedArguments;
using testsupport::columns;

using testsupport::dailyBlock;
using testsupport::writeFile;

namespace {

struct Run {
    int exitCode = -1;
    QString err;
    QByteArray out;
};

Run runViewer(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(LUMORA_VIEW_PATH), args);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardError()), process.readAllStandardOutput()};
}

qint64 utcMs(int hour, int minute, int second, int day = 7) {
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second), QTimeZone::utc()).toMSecsSinceEpoch();
}

} // namespace

class tst_Viewer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // Qt warns on standard error when a program has no runtime folder.
        const QString runtime = testsupport::scratch().filePath(u"runtime"_s);
        QVERIFY(QDir().mkpath(runtime) &&
                QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    }

    void usageErrors_data() {
        columns<QString, QString>("line", "error");
        const auto row = [](const char* line, const QString& error) {
            QTest::newRow(line) << QString::fromLatin1(line) << error;
        };
        row("F --export O.png --bogus", u"unknown option --bogus"_s);
        row("F --export O.png -q", u"unknown option -q"_s);
        row("F --export O.png --from 24:00:00",
            u"invalid --from \"24:00:00\": expected a UTC time of day hh:mm:ss"_s);
        row("F --export O.png --to 9:00:00",
            u"invalid --to \"9:00:00\": expected a UTC time of day hh:mm:ss"_s);
        row("F --export O.png --from 10:00:00 --to 10:00:00",
            u"--from and --to are the same time: the span would be empty"_s);
        for (const char* size : {"F --export O.png --size 0x900", "F --export O.png --size 1600",
                                 "F --export O.png --size 8193x2", "F --export O.png --size 2x8193",
                                 "F --export O.png --size 2x0"})
            row(size,
                u"invalid --size \"%1\": expected WIDTHxHEIGHT in pixels, "
                u"each from 1 to 8192 (e.g. 1600x900)"_s.arg(QString::fromLatin1(size).section(u' ', -1)));
        row("--export O.png --from 10:00:00", u"--export needs at least one file to read"_s);
        row("F --export O.txt",
            u"cannot tell what to write to \"O.txt\": its name must end in .png, .svg, .csv or .vcd"_s);
        row("F --from 10:00:00", u"option --from is for --export OUT or --measure only"_s);
        row("F --to 10:00:00 --size 2x2", u"option --to is for --export OUT or --measure only"_s);
        row("F --export", u"option --export needs a value"_s);
        row("F --measure --export O.csv", u"--export and --measure cannot go together"_s);
        row("--measure --from 10:00:00", u"--measure needs at least one file to read"_s);
        row("F --measure --size 2x2", u"option --size is for --export OUT only"_s);
    }
    // Nothing is written, and the program says what was wrong once.
    void usageErrors() {
        QFETCH(QString, line);
        QFETCH(QString, error);
        QTemporaryDir dir;
        error.replace(u"\"O."_s, u'"' + dir.filePath(u"O."_s));
        QStringList args = line.split(u' ');
        for (QString& arg : args) {
            if (arg == u"F")
                arg = dir.filePath(u"20261207.txt"_s);
            else if (arg.startsWith(u"O."))
                arg = dir.filePath(arg);
        }
        QVERIFY(writeFile(dir.filePath(u"20261207.txt"_s), dailyBlock("10:00:00.000")));
        const ParsedArguments parsed = lumora::viewer::parseArguments(args);
        QCOMPARE(parsed.outcome, ParsedArguments::Outcome::UsageError);
        QCOMPARE(parsed.error, error);
        const Run run = runViewer(args);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, u"lumora-7150r-view: %1 (see --help)\n"_s.arg(error));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"20261207.txt"_s});
    }

    void parsed() {
        ParsedArguments p =
            lumora::viewer::parseArguments({u"a"_s, u"--export"_s, u"x.svg"_s, u"b"_s, u"--to"_s,
                                            u"01:02:03.004"_s, u"--size"_s, u"320x200"_s});
        QCOMPARE(p.outcome, ParsedArguments::Outcome::Run);
        QCOMPARE(p.options.files, (QStringList{u"a"_s, u"b"_s}));
        QCOMPARE(p.options.to, QTime(1, 2, 3, 4));
        QCOMPARE(p.options.from, std::nullopt);
        QCOMPARE(p.options.size, QSize(320, 200));
        p = lumora::viewer::parseArguments({u"a"_s, u"--export"_s, u"x.vcd"_s});
        QCOMPARE(p.options.size, QSize(1600, 900));
        QCOMPARE(lumora::viewer::pictureSizeFromText(u"8192x8192"_s), QSize(8192, 8192)); // the largest
        QCOMPARE(lumora::viewer::parseArguments({u"--bogus"_s, u"--help"_s}).outcome,
                 ParsedArguments::Outcome::UsageError);
        QCOMPARE(lumora::viewer::parseArguments({u"a"_s, u"-h"_s}).outcome, ParsedArguments::Outcome::Help);
        QCOMPARE(lumora::viewer::parseArguments({u"--version"_s}).outcome, ParsedArguments::Outcome::Version);
    }

    void exportSpan_data() {
        columns<QString, QString, qint64, qint64>("from", "to", "fromMs", "toMs");
        // The store: 23:00:00 on the 7th, 22:00:00 (a step back), 23:30:00.
        QTest::newRow("whole") << QString() << QString() << utcMs(22, 0, 0) << utcMs(23, 30, 0) + 1;
        QTest::newRow("from and to") << u"22:30:00"_s << u"23:10:00"_s << utcMs(22, 30, 0)
                                     << utcMs(23, 10, 0);
        QTest::newRow("to before from")
            << u"23:10:00"_s << u"01:00:00"_s << utcMs(23, 10, 0) << utcMs(1, 0, 0, 8);
        QTest::newRow("from alone") << u"23:10:00"_s << QString() << utcMs(23, 10, 0) << utcMs(23, 30, 0) + 1;
        QTest::newRow("to alone") << QString() << u"22:10:00"_s << utcMs(22, 0, 0) << utcMs(22, 10, 0);
    }
    void exportSpan() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(qint64, fromMs);
        QFETCH(qint64, toMs);
        lumora::timeline::ReplyStore store;
        for (const qint64 ms : {utcMs(23, 0, 0), utcMs(22, 0, 0), utcMs(23, 30, 0)})
            store.append({.ms = ms});
        const auto time = [](const QString& text) {
            return text.isEmpty() ? std::nullopt : std::optional(QTime::fromString(text, u"hh:mm:ss"_s));
        };
        QCOMPARE(lumora::viewer::exportSpan(store, time(from), time(to)),
                 (lumora::viewer::Span{fromMs, toMs}));
    }

    void badFiles_data() {
        // problem: after "<path>"; replies: kept of all files
        columns<QString, QByteArray, QString, int>("name", "content", "problem", "replies");
        const QByteArray two = dailyBlock("10:00:00.000") + dailyBlock("10:00:01.000");
        QTest::newRow("not named as a daily log")
            << u"notes.txt"_s << two << u": not a daily log file (the name is not YYYYMMDD.txt), skipped"_s
            << 1;
        QTest::newRow("not a log file")
            << u"20261208.txt"_s << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
            << u":1: not a RECV block, nor are the lines up to the next header, skipped"_s << 1;
        QTest::newRow("torn block") << u"20261208.txt"_s << two + dailyBlock("10:00:02.000").left(120)
                                    << u":13: torn block: the file ends inside line 14, skipped"_s << 3;
    }
    // Each bad file is named once, with its line, and everything else stays:
    // on standard error for scripts, in the window's one list of problems.
    // Which file is bad and why is the timeline suite's (badFile).
    void badFiles() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        QFETCH(int, replies);
        QTemporaryDir dir;
        const QString good = dir.filePath(u"20261207.txt"_s);
        const QString bad = dir.filePath(name);
        QVERIFY(writeFile(good, dailyBlock("09:00:00.000")) && writeFile(bad, content));
        const Run run = runViewer({bad, good, u"--export"_s, dir.filePath(u"out.csv"_s)});
        QCOMPARE(run.err.section(u'\n', 0, 0), u"lumora-7150r-view: "_s + bad + problem);
        QCOMPARE(run.exitCode, 6);
        const Run measured = runViewer({bad, good, u"--measure"_s});
        QCOMPARE(measured.err, run.err);
        QCOMPARE(measured.exitCode, 6);
        lumora::viewer::Viewer viewer;
        viewer.open({good, bad});
        QCOMPARE(viewer.problemsShown(), bad + problem);
        QCOMPARE(viewer.store().size(), replies);
        viewer.open({good});
        QCOMPARE(viewer.problemsShown(), QString());
    }

    void exportEach_data() {
        QTest::addColumn<QString>("extension");
        for (const char* extension : {"png", "svg", "csv", "vcd", ""})
            QTest::newRow(*extension ? extension : "window") << QString::fromLatin1(extension);
    }
    // What each holds is the exports' own suite's; here, that one is written, without a display, and nothing
    // is said. The window cannot open there: the program says so and how to start it anyway.
    void exportEach() {
        QFETCH(QString, extension);
        QTemporaryDir dir;
        const QString day = dir.filePath(u"20261207.txt"_s);
        QVERIFY(writeFile(day, dailyBlock("10:00:00.000", QByteArray(1, '\1').leftJustified(112, '\0')) +
                                   dailyBlock("10:00:01.000")));
        const QString out = dir.filePath(u"out."_s + extension);
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            qunsetenv(name);
        const Run run =
            runViewer(extension.isEmpty() ? QStringList{day}
                                          : QStringList{day, u"--export"_s, out, u"--size"_s, u"320x200"_s});
        qputenv("QT_QPA_PLATFORM", platform);
        if (extension.isEmpty()) {
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.startsWith(u"lumora-7150r-view: no display found"), qPrintable(run.err));
            QVERIFY(run.err.contains(u"xvfb-run -a lumora-7150r-view FILE..."));
            return;
        }
        // Qt may warn about fonts; the program itself has nothing to say.
        QVERIFY2(!run.err.contains(u"lumora-7150r-view:"), qPrintable(run.err));
        QCOMPARE(run.exitCode, 0);
        QVERIFY(QFileInfo(out).size() > 0);
        if (extension == u"png")
            QCOMPARE(QImage(out).size(), QSize(320, 200));
    }

    // DI00 low, high, high, low a second apart from 10:00:00, CNT01 0, 1, 1, 3 (two
    // the polls missed), GAP01 0.1 to 0.4 s; measured to 10:00:04, without a display.
    void measureLine() {
        QTemporaryDir dir;
        const QString day = dir.filePath(u"20261207.txt"_s);
        QByteArray text;
        for (const auto& [stamp, di, cnt, gap] : {std::tuple{"10:00:00.000", 0, 0, 100},
                                                  {"10:00:01.000", 1, 1, 200},
                                                  {"10:00:02.000", 1, 1, 300},
                                                  {"10:00:03.000", 0, 3, 400}}) {
            QByteArray reply(112, '\0');
            reply[0] = char(di);
            reply[12] = char(cnt);
            reply[60] = char(gap % 256);
            reply[61] = char(gap / 256);
            text += dailyBlock(stamp, reply);
        }
        QVERIFY(writeFile(day, text));
        qunsetenv("QT_QPA_PLATFORM");
        const Run run =
            runViewer({day, u"--measure"_s, u"--from"_s, u"10:00:00"_s, u"--to"_s, u"10:00:04"_s});
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QCOMPARE(run.exitCode, 0);
        const QJsonObject all = QJsonDocument::fromJson(run.out).object();
        const QJsonObject expected = QJsonDocument::fromJson(R"({"from": "2026-12-07 10:00:00.000",
            "to": "2026-12-07 10:00:04.000", "replies": 4,
            "in": {"rising": 1, "falling": 1, "high_seconds": 2, "other_seconds": 0, "duty": 0.5,
                   "period": null, "width": {"min": 2, "max": 2}},
            "counter": {"pulses": 3, "wraps": 0, "resets": 0, "rate_hz": 0.75, "missed": 2},
            "gap": {"min": 0.1, "mean": 0.25, "max": 0.4},
            "findings": [{"kind": "missed_pulses", "channel": "01", "from": "2026-12-07 10:00:02.000",
                          "to": "2026-12-07 10:00:03.000", "counted": 2, "edges": 0}]})")
                                         .object();
        for (const char* key : {"from", "to", "replies", "findings"})
            QCOMPARE(all[QLatin1String(key)], expected[QLatin1String(key)]);
        QCOMPARE(all[u"inputs"_s][u"00"_s], expected[u"in"_s]);
        QCOMPARE(all[u"counters"_s][u"01"_s], expected[u"counter"_s]);
        QCOMPARE(all[u"gaps"_s][u"01"_s], expected[u"gap"_s]);
    }

    // The title names the files (none and one: drop), the status line where time steps back.
    void titleAndNote() {
        QTemporaryDir dir;
        QStringList files{u"20261209.txt"_s, u"20261207.txt"_s, u"20261208.txt"_s};
        for (QString& file : files)
            QVERIFY(writeFile(file = dir.filePath(file),
                              dailyBlock("10:00:02.000") + dailyBlock("10:00:01.000")));
        lumora::viewer::Viewer viewer;
        viewer.open(files);
        QCOMPARE(viewer.window().windowTitle(),
                 u"Signals over Time — 20261207.txt to 20261209.txt (3 files)"_s);
        QCOMPARE(viewer.window().statusText(),
                 u"6 replies, 10:00:02.000 to 10:00:01.000 UTC; time steps back at "
                 u"20261207.txt line 7 and at 2 more places"_s);
    }

    // Blocks appended to the last file show within a second while the view
    // follows, a torn one once it is whole; none while it does not.
    void follow() {
        QTemporaryDir dir;
        const QString day = dir.filePath(u"20261207.txt"_s);
        QVERIFY(writeFile(day, dailyBlock("10:00:00.000") + dailyBlock("10:00:01.000")));
        lumora::viewer::Viewer viewer;
        viewer.open({day});
        viewer.window().show();
        QVERIFY(viewer.window().view()->follows());
        QVERIFY(viewer.window().statusText().startsWith(u"2 replies, 10:00:00.000 to 10:00:01.000 UTC"));
        const QByteArray torn = dailyBlock("10:00:03.000");
        QVERIFY(writeFile(day, dailyBlock("10:00:02.000") + torn.left(100), QIODevice::Append));
        QTRY_VERIFY_WITH_TIMEOUT(viewer.window().statusText().startsWith(u"3 replies"), 1000);
        QVERIFY(writeFile(day, torn.mid(100), QIODevice::Append));
        QTRY_VERIFY_WITH_TIMEOUT(viewer.window().statusText().startsWith(u"4 replies"), 1000);
        QCOMPARE(viewer.problemsShown(), QString());

        viewer.window().view()->setFollow(false);
        QVERIFY(writeFile(day, dailyBlock("10:00:04.000"), QIODevice::Append));
        QTest::qWait(1000);
        QVERIFY(viewer.window().statusText().startsWith(u"4 replies"));
        viewer.window().view()->setFollow(true);
        QTRY_VERIFY_WITH_TIMEOUT(viewer.window().statusText().startsWith(u"5 replies"), 1000);
    }

    // File > Open..., as a person picks it: the menu by keyboard, then the
    // names typed into the dialog, which starts where the last file was.
    void openThroughMenu() {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"20261207.txt"_s), dailyBlock("10:00:00.000")));
        QVERIFY(writeFile(dir.filePath(u"20261208.txt"_s),
                          dailyBlock("10:00:00.000") + dailyBlock("11:00:00.000")));
        lumora::viewer::Viewer viewer;
        viewer.open({dir.filePath(u"20261207.txt"_s)});
        lumora::waveform::SignalWindow& window = viewer.window();
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_O);
        QFileDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = window.findChild<QFileDialog*>()) && dialog->isVisible());
        // Else the names would be refused in a box of its own, which waits.
        QCOMPARE(dialog->directory().canonicalPath(), QDir(dir.path()).canonicalPath());
        QTRY_VERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
        QTest::keyClicks(QApplication::focusWidget(), u"\"20261208.txt\" \"20261207.txt\""_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(window.windowTitle(), u"Signals over Time — 20261207.txt to 20261208.txt (2 files)"_s);
        QVERIFY(window.statusText().startsWith(u"3 replies"));
    }

    // Files dropped on the window replace those shown; other URLs are refused.
    void drop() {
        QTemporaryDir dir;
        const QString day = dir.filePath(u"20261207.txt"_s);
        QVERIFY(writeFile(day, dailyBlock("10:00:00.000")));
        lumora::viewer::Viewer viewer;
        lumora::waveform::SignalWindow& window = viewer.window();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto dropOn = [&window](const QList<QUrl>& urls) {
            QMimeData data;
            data.setUrls(urls);
            const QPoint at = window.rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
            // As the window system brings them: to the window, which finds
            // the widget under the pointer that takes drops.
            QApplication::sendEvent(window.windowHandle(), &enter);
            if (!enter.isAccepted())
                return false;
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(window.windowHandle(), &drop);
            return drop.isAccepted();
        };
        QVERIFY(!dropOn({QUrl(u"https://example.invalid/20261207.txt"_s)}));
        QCOMPARE(window.windowTitle(), u"Signals over Time"_s);
        QVERIFY(dropOn({QUrl::fromLocalFile(day)}));
        QCOMPARE(window.windowTitle(), u"Signals over Time — 20261207.txt"_s);
        QVERIFY(window.statusText().startsWith(u"1 replies"));
    }
};

LUMORA_TEST_MAIN(tst_Viewer)

#include "tst_viewer.moc"
