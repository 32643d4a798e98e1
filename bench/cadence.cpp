// How closely repeated sending keeps its interval against the bundled unit
// emulator: the window runs offscreen on fakes, and every SEND line that the
// log receives is one tick (the first one is the Send click itself).

#include "windowfixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

using testsupport::Harness;

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
// A run that has not finished by several times its nominal length has stalled.
constexpr int kStallFactor = 5;
constexpr int kStallSlackMs = 5000;

constexpr double kNsPerMs = 1e6;

constexpr int kStatusRequest = 0;
constexpr int kCounterReset = 2;

struct Scenario {
    const char* name;
    int command;
    const char* interval; // as typed into the interval box
    int intervalMs;
    int ticks;
};

constexpr Scenario kScenarios[] = {
    {"counter reset", kCounterReset, "0.001", 1, 1000},
    {"counter reset", kCounterReset, "0.5", 500, 20},
    {"status request", kStatusRequest, "0.001", 1, 1000},
    {"status request", kStatusRequest, "0.5", 500, 20},
};

struct Result {
    int ticks = 0;
    double meanMs = 0;
    double minMs = 0;
    double maxMs = 0;
    double elapsedMs = 0;
    double driftMs = 0;
};

struct Unit {
    QProcess process;
    quint16 port = 0;
};

// Starts the emulator on a free loopback port and reads the port from its
// start-up line.
bool startUnit(Unit& unit, const QString& program, QString* error) {
    unit.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    unit.process.start(
        program, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--quiet")});
    if (!unit.process.waitForStarted(kStartTimeoutMs)) {
        *error = unit.process.errorString();
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QByteArray output;
    while (unit.port == 0 && unit.process.waitForReadyRead(kStartTimeoutMs)) {
        output += unit.process.readAllStandardOutput();
        const QRegularExpressionMatch match = listening.match(QString::fromLocal8Bit(output));
        if (match.hasMatch())
            unit.port = match.captured(1).toUShort();
    }
    if (unit.port == 0)
        *error = QStringLiteral("no start-up line from %1").arg(program);
    return unit.port != 0;
}

void type(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

std::optional<Result> run(const Scenario& scenario, quint16 port, QString* error) {
    Harness h;
    h.start();
    type(h.edit("txtDestIP"), QStringLiteral("127.0.0.1"));
    type(h.edit("txtDestPort"), QString::number(port));
    h.button("cmdConnect")->click();
    if (!QTest::qWaitFor([&] { return h.button("cmdSend")->isEnabled(); }, kConnectTimeoutMs)) {
        *error = QStringLiteral("the window did not connect to port %1").arg(port);
        return std::nullopt;
    }
    h.find<QAbstractButton>("optCommand", scenario.command)->click();
    h.find<QAbstractButton>("optInterval", 1)->click();
    type(h.cboTime()->lineEdit(), QString::fromLatin1(scenario.interval));

    const auto wanted = static_cast<std::size_t>(scenario.ticks) + 1;
    const int limitMs = kStallFactor * scenario.ticks * scenario.intervalMs + kStallSlackMs;
    QElapsedTimer clock;
    std::vector<qint64> sendsNs;
    sendsNs.reserve(wanted);
    // A plain event loop: QTest's waiting sleeps between turns, which would
    // hold ticks back and measure the wait instead of the timer.
    QEventLoop loop;
    const auto& log = h.window->logLines();
    QObject::connect(&log, &QAbstractItemModel::rowsInserted, &loop,
                     [&](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row) {
                             if (log.line(row).contains(QLatin1String(" SEND : ")))
                                 sendsNs.push_back(clock.nsecsElapsed());
                         }
                         if (sendsNs.size() >= wanted)
                             loop.quit();
                     });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    clock.start();
    h.button("cmdSend")->click();
    if (sendsNs.size() < wanted)
        loop.exec();
    h.button("cmdEnd")->click();
    if (sendsNs.size() < wanted) {
        *error = QStringLiteral("only %1 of %2 ticks within %3 ms")
                     .arg(qsizetype(sendsNs.size()) - 1)
                     .arg(scenario.ticks)
                     .arg(limitMs);
        return std::nullopt;
    }

    Result r;
    r.ticks = scenario.ticks;
    r.minMs = std::numeric_limits<double>::max();
    for (std::size_t i = 1; i < wanted; ++i) {
        const double gap = double(sendsNs[i] - sendsNs[i - 1]) / kNsPerMs;
        r.minMs = std::min(r.minMs, gap);
        r.maxMs = std::max(r.maxMs, gap);
    }
    r.elapsedMs = double(sendsNs[wanted - 1] - sendsNs[0]) / kNsPerMs;
    r.meanMs = r.elapsedMs / scenario.ticks;
    r.driftMs = r.elapsedMs - double(scenario.ticks) * scenario.intervalMs;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    // The window saves what is typed into it; keep that away from the user's own settings.
    testsupport::isolateProcess();
    QApplication app(argc, argv);

    QString emulator = QStringLiteral(LUMORA_EMULATOR_PATH);
    if (app.arguments().size() > 1)
        emulator = app.arguments().at(1);

    Unit unit;
    QString error;
    if (!startUnit(unit, emulator, &error)) {
        std::fprintf(stderr, "lumora-bench-cadence: cannot start the emulator: %s\n", qPrintable(error));
        return 1;
    }

    QTextStream out(stdout);
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
               .arg(QStringLiteral("command"), -15)
               .arg(QStringLiteral("interval"), 9)
               .arg(QStringLiteral("ticks"), 6)
               .arg(QStringLiteral("mean ms"), 9)
               .arg(QStringLiteral("min ms"), 9)
               .arg(QStringLiteral("max ms"), 9)
               .arg(QStringLiteral("elapsed ms"), 11)
               .arg(QStringLiteral("drift ms"), 9);
    out.flush();
    int failures = 0;
    for (const Scenario& scenario : kScenarios) {
        const std::optional<Result> r = run(scenario, unit.port, &error);
        if (!r) {
            std::fprintf(stderr, "lumora-bench-cadence: %s at %s s: %s\n", scenario.name, scenario.interval,
                         qPrintable(error));
            ++failures;
            continue;
        }
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                   .arg(QString::fromLatin1(scenario.name), -15)
                   .arg(QString::fromLatin1(scenario.interval) + QStringLiteral(" s"), 9)
                   .arg(r->ticks, 6)
                   .arg(r->meanMs, 9, 'f', 3)
                   .arg(r->minMs, 9, 'f', 3)
                   .arg(r->maxMs, 9, 'f', 3)
                   .arg(r->elapsedMs, 11, 'f', 1)
                   .arg(r->driftMs, 9, 'f', 1);
        out.flush();
    }

    unit.process.terminate();
    if (!unit.process.waitForFinished(kStartTimeoutMs))
        unit.process.kill();
    return failures == 0 ? 0 : 1;
}
