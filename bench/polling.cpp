// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end polling against the bundled emulator over loopback:
// 1. the floor: a plain loop that sends the status request every 1 ms and
//    reads each 112-byte reply, nothing else;
// 2. the client: the window offscreen with its real event loop and the system
//    clock, Repeat at 0.001 s, status request, "List + File" into a program
//    folder of its own, its store of replies for the signals over time full;
// 2b. the same with the "Signals over Time" window open and following, as the
//    user opens it, against the run with it closed;
// 3. the command line: lumora-7150r-cli poll --interval 0.001 against the same
//    emulator, its lines into a file as a script would keep them.
// Usage: lumora-bench-polling [emulator] [--seconds N]

#include "bench_support.h"
#include "log/daily_log.h"
#include "protocol/status_reply.h"
#include "waveform/signal_view.h"
#include "waveform/signal_window.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <thread>

using testsupport::Harness;

namespace {

constexpr int kDefaultSeconds = 20;
constexpr int kRssEarlyMs = 2000;
constexpr double kAskedPerSecond = 1000;
constexpr double kRepliesTarget = 980;
constexpr double kGapTargetMs = 50;
constexpr double kSignalsCpuTarget = 1.3;
constexpr qint64 kRssGrowthTarget = qint64{1024} * 1024;
constexpr int kReplyWaitMs = 1000;
constexpr auto kPeriod = std::chrono::milliseconds(1);
constexpr double kNsPerMs = 1e6;
constexpr double kUsPerS = 1e6;
constexpr double kBytesPerMiB = 1024.0 * 1024.0;
const QByteArray kStatusRequestFrame("\x52", 1);

struct Figures {
    qint64 replies = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    qint64 rssEarly = 0;
    qint64 rssLate = 0;
    double longestGapMs = 0;
    // What the client's reply store held at the two memory readings: it
    // grows by design until it is full.
    qint64 storeEarly = 0;
    qint64 storeLate = 0;
};

// The floor: one request per millisecond on a fixed schedule, as a plain
// script would, and each reply read whole.
std::optional<Figures> plainLoop(quint16 port, int seconds, QString* error) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(bench::kConnectTimeoutMs)) {
        *error = socket.errorString();
        return std::nullopt;
    }
    Figures f;
    const double cpuBefore = bench::cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto next = start;
    while (std::chrono::steady_clock::now() < end) {
        if (socket.write(kStatusRequestFrame) != kStatusRequestFrame.size() || !socket.flush()) {
            *error = socket.errorString();
            return std::nullopt;
        }
        qint64 got = 0;
        while (got < lumora::protocol::kStatusReplySize) {
            if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(kReplyWaitMs)) {
                *error = QStringLiteral("no reply: ") + socket.errorString();
                return std::nullopt;
            }
            got += socket.readAll().size();
        }
        ++f.replies;
        next += kPeriod;
        std::this_thread::sleep_until(next);
    }
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.cpuSeconds = bench::cpuSeconds() - cpuBefore;
    return f;
}

// Every event the application delivers marks a turn of its loop; the longest
// stretch without one is how long the window could not respond.
class TurnWatch : public QObject {
public:
    QElapsedTimer clock;
    qint64 lastNs = 0;
    qint64 longestNs = 0;

    void start() {
        clock.start();
        lastNs = 0;
        longestNs = 0;
    }

protected:
    bool eventFilter(QObject*, QEvent*) override {
        if (clock.isValid()) {
            const qint64 now = clock.nsecsElapsed();
            longestNs = std::max(longestNs, now - lastNs);
            lastNs = now;
        }
        return false;
    }
};

// Opens "Signals over Time" through the window's own entry (the one its
// context menu and F9 trigger) and makes it follow the newest reply.
lumora::waveform::SignalWindow* openSignals(Harness& h, QString* error) {
    for (QAction* action : h.window->findChildren<QAction*>()) {
        if (action->text() == QStringLiteral("Signals over Time..."))
            action->trigger();
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* open = qobject_cast<lumora::waveform::SignalWindow*>(w);
            open != nullptr && open->isVisible()) {
            open->view()->setFollow(true);
            return open;
        }
    }
    *error = QStringLiteral("the Signals over Time window did not open");
    return nullptr;
}

std::optional<Figures> client(quint16 port, int seconds, bool signalsOpen, QString* error) {
    Harness h;
    lumora::platform::SystemClock systemClock;
    h.open(h.services({.clock = &systemClock}));
    if (!bench::connectWindow(h, port, error))
        return std::nullopt;
    lumora::waveform::SignalWindow* signalsWindow = nullptr;
    if (signalsOpen && (signalsWindow = openSignals(h, error)) == nullptr)
        return std::nullopt;
    const auto& store = h.session().liveReplies().store();
    // Measured as a client that has polled for a while: its store is full,
    // so each reply now also pushes the oldest out.
    const QByteArray earlier(lumora::protocol::kStatusReplySize, '\0');
    while (store.size() < lumora::app::LiveReplies::kKeepAtLeast)
        h.session().Winsock1_DataArrival(earlier);
    auto storeBytes = [&store] { return qint64(store.size()) * qint64(sizeof(lumora::timeline::Sample)); };
    h.find<QAbstractButton>("optLog", bench::kLogListAndFile)->click();
    bench::chooseRepeat(h, bench::kStatusRequest, QStringLiteral("0.001"));

    Figures f;
    const auto& log = h.session().logLines();
    const QLatin1String recv(" RECV : ");
    QObject::connect(&log, &lumora::log::LogListModel::linesAppended, h.window.get(),
                     [&](int first, int last) {
                         for (int row = first; row <= last; ++row) {
                             if (log.line(row).contains(recv))
                                 ++f.replies;
                         }
                     });

    TurnWatch turns;
    QEventLoop loop;
    QTimer::singleShot(kRssEarlyMs, &loop, [&] {
        f.rssEarly = bench::residentBytes();
        f.storeEarly = storeBytes();
    });
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    qApp->installEventFilter(&turns);
    QElapsedTimer wall;
    const double cpuBefore = bench::cpuSeconds();
    wall.start();
    turns.start();
    h.button("cmdSend")->click();
    loop.exec();
    f.seconds = double(wall.nsecsElapsed()) / (kNsPerMs * 1000);
    f.cpuSeconds = bench::cpuSeconds() - cpuBefore;
    f.rssLate = bench::residentBytes();
    f.storeLate = storeBytes();
    f.longestGapMs = double(turns.longestNs) / kNsPerMs;
    qApp->removeEventFilter(&turns);
    h.button("cmdEnd")->click();

    // The open window was told of the replies: its status line counts what the store holds.
    if (signalsWindow != nullptr) {
        QTest::qWait(100);
        const QString counted = QStringLiteral("%1 replies,").arg(store.size());
        if (f.replies == 0 || !signalsWindow->statusText().startsWith(counted)) {
            *error = QStringLiteral("the Signals window shows \"%1\", not %2")
                         .arg(signalsWindow->statusText(), counted);
            return std::nullopt;
        }
    }
    const QString file = lumora::log::dailyLogPath(h.programDir.path(), QDate::currentDate());
    if (f.replies > 0 && QFileInfo(file).size() == 0) {
        *error = QStringLiteral("nothing was written to %1").arg(file);
        return std::nullopt;
    }
    return f;
}

// The program's own summary line gives the count; --duration runs from its
// first connection, so that is the time the replies came in.
std::optional<Figures> commandLine(quint16 port, int seconds, QString* error) {
    constexpr int kGraceMs = 30000;
    QTemporaryDir dir;
    const QString lines = dir.filePath(QStringLiteral("replies.txt"));
    QProcess cli;
    cli.setStandardOutputFile(lines);
    cli.start(QStringLiteral(LUMORA_CLI_PATH),
              {QStringLiteral("--address"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
               QString::number(port), QStringLiteral("poll"), QStringLiteral("--interval"), QStringLiteral("0.001"),
               QStringLiteral("--duration"), QString::number(seconds)});
    if (!cli.waitForFinished(seconds * 1000 + kGraceMs)) {
        cli.kill();
        *error = QStringLiteral("did not end: ") + cli.errorString();
        return std::nullopt;
    }
    const QString said = QString::fromLocal8Bit(cli.readAllStandardError()).trimmed();
    static const QRegularExpression replies(QStringLiteral("replies (\\d+),"));
    const QRegularExpressionMatch match = replies.match(said);
    if (cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0 || !match.hasMatch()) {
        *error = QStringLiteral("exit %1: %2").arg(cli.exitCode()).arg(said);
        return std::nullopt;
    }
    Figures f;
    f.replies = match.captured(1).toLongLong();
    f.seconds = seconds;
    QFile written(lines);
    if (!written.open(QIODevice::ReadOnly) || written.readAll().count('\n') != f.replies) {
        *error = QStringLiteral("%1 does not hold one line per reply").arg(lines);
        return std::nullopt;
    }
    return f;
}

QString perSecond(const Figures& f) {
    return QStringLiteral("%1/s").arg(double(f.replies) / f.seconds, 0, 'f', 1);
}

QString cpuPerReply(const Figures& f) {
    return QStringLiteral("%1 us").arg(f.cpuSeconds * kUsPerS / double(std::max<qint64>(f.replies, 1)), 0,
                                       'f', 1);
}

} // namespace

int main(int argc, char** argv) {
    testsupport::isolateProcess();
    QApplication app(argc, argv);
    QStringList arguments = app.arguments();
    int seconds = kDefaultSeconds;
    if (const auto at = arguments.indexOf(QStringLiteral("--seconds")); at > 0 && at + 1 < arguments.size()) {
        seconds = std::max(3, arguments.at(at + 1).toInt());
        arguments.remove(at, 2);
    }

    bench::Unit unit;
    QString error;
    if (!bench::startUnit(unit, bench::emulatorProgram(arguments), &error)) {
        std::fprintf(stderr, "lumora-bench-polling: cannot start the emulator: %s\n", qPrintable(error));
        return 1;
    }
    const std::optional<Figures> floor = plainLoop(unit.port, seconds, &error);
    if (!floor) {
        std::fprintf(stderr, "lumora-bench-polling: plain loop: %s\n", qPrintable(error));
        return 1;
    }
    const std::optional<Figures> measured = client(unit.port, seconds, false, &error);
    if (!measured) {
        std::fprintf(stderr, "lumora-bench-polling: client: %s\n", qPrintable(error));
        return 1;
    }
    const std::optional<Figures> withSignals = client(unit.port, seconds, true, &error);
    if (!withSignals) {
        std::fprintf(stderr, "lumora-bench-polling: client with Signals over Time open: %s\n",
                     qPrintable(error));
        return 1;
    }

    const std::optional<Figures> fromCli = commandLine(unit.port, seconds, &error);
    if (!fromCli) {
        std::fprintf(stderr, "lumora-bench-polling: command line: %s\n", qPrintable(error));
        return 1;
    }

    const double rate = double(measured->replies) / measured->seconds;
    const double floorRate = double(floor->replies) / floor->seconds;
    bench::printRow({QStringLiteral("polling 0.001 s, List + File, %1 s: replies").arg(seconds),
                     perSecond(*measured), perSecond(*floor) + QStringLiteral(" (plain loop)"),
                     QStringLiteral("%1").arg(rate / floorRate, 0, 'f', 3),
                     QStringLiteral(">= %1 of %2/s").arg(kRepliesTarget).arg(kAskedPerSecond),
                     bench::metText(rate >= kRepliesTarget)});
    const double signalsRate = double(withSignals->replies) / withSignals->seconds;
    bench::printRow({QStringLiteral("polling 0.001 s with Signals over Time open: replies"),
                     perSecond(*withSignals), perSecond(*floor) + QStringLiteral(" (plain loop)"),
                     QStringLiteral("%1").arg(signalsRate / floorRate, 0, 'f', 3),
                     QStringLiteral(">= %1 of %2/s").arg(kRepliesTarget).arg(kAskedPerSecond),
                     bench::metText(signalsRate >= kRepliesTarget)});
    auto usPerReply = [](const Figures& f) { return f.cpuSeconds / double(std::max<qint64>(f.replies, 1)); };
    const double signalsCpu = usPerReply(*withSignals) / usPerReply(*measured);
    bench::printRow({QStringLiteral("client CPU per reply, Signals open vs closed"),
                     cpuPerReply(*withSignals), cpuPerReply(*measured) + QStringLiteral(" (closed)"),
                     QStringLiteral("%1x").arg(signalsCpu, 0, 'f', 2),
                     QStringLiteral("<= %1x").arg(kSignalsCpuTarget),
                     bench::metText(signalsCpu <= kSignalsCpuTarget)});
    const double cliRate = double(fromCli->replies) / fromCli->seconds;
    bench::printRow({QStringLiteral("polling 0.001 s, lumora-7150r-cli poll, %1 s: replies").arg(seconds),
                     perSecond(*fromCli), perSecond(*measured) + QStringLiteral(" (window)"),
                     QStringLiteral("%1").arg(cliRate / rate, 0, 'f', 3),
                     QStringLiteral(">= %1 of %2/s").arg(kRepliesTarget).arg(kAskedPerSecond),
                     bench::metText(cliRate >= kRepliesTarget)});
    bench::printRow(
        {QStringLiteral("polling: client CPU per reply"),
         cpuPerReply(*measured),
         cpuPerReply(*floor) + QStringLiteral(" (plain loop)"),
         QStringLiteral("%1x").arg(measured->cpuSeconds / double(std::max<qint64>(measured->replies, 1)) /
                                       (floor->cpuSeconds / double(std::max<qint64>(floor->replies, 1))),
                                   0, 'f', 1),
         {},
         {}});
    // The reply store fills by design (at most 100,000 replies); what grows beside it would be a leak.
    const qint64 growth = measured->rssLate - measured->rssEarly;
    const qint64 storeGrowth = measured->storeLate - measured->storeEarly;
    bench::printRow({QStringLiteral("polling: RSS at 2 s -> %1 s, beside the reply store").arg(seconds),
                     QStringLiteral("%1 -> %2 MiB (%3%4 KiB, store +%5 KiB)")
                         .arg(double(measured->rssEarly) / kBytesPerMiB, 0, 'f', 1)
                         .arg(double(measured->rssLate) / kBytesPerMiB, 0, 'f', 1)
                         .arg(growth >= 0 ? QStringLiteral("+") : QString())
                         .arg(growth / 1024)
                         .arg(storeGrowth / 1024),
                     {},
                     {},
                     QStringLiteral("growth - store <= 1 MiB"),
                     bench::metText(growth - storeGrowth <= kRssGrowthTarget)});
    bench::printRow({QStringLiteral("polling: longest gap between loop turns"),
                     QStringLiteral("%1 ms").arg(measured->longestGapMs, 0, 'f', 1),
                     {},
                     {},
                     QStringLiteral("< %1 ms").arg(kGapTargetMs),
                     bench::metText(measured->longestGapMs < kGapTargetMs)});
    return 0;
}
