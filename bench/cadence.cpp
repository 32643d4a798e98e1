// SPDX-License-Identifier: GPL-3.0-or-later
// How closely repeated sending keeps its interval against the bundled unit
// emulator: the window runs offscreen on fakes, and every SEND line that the
// log receives is one tick (the first one is the Send click itself).

#include "bench_support.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

using testsupport::Harness;

namespace {

// A run that has not finished by several times its nominal length has stalled.
constexpr int kStallFactor = 5;
constexpr int kStallSlackMs = 5000;

constexpr double kNsPerMs = 1e6;

struct Scenario {
    const char* name;
    int command;
    const char* interval; // as typed into the interval box
    int intervalMs;
    int ticks;
};

constexpr Scenario kScenarios[] = {
    {"counter reset", bench::kCounterReset, "0.001", 1, 1000},
    {"counter reset", bench::kCounterReset, "0.5", 500, 20},
    {"status request", bench::kStatusRequest, "0.001", 1, 1000},
    {"status request", bench::kStatusRequest, "0.5", 500, 20},
};

struct Result {
    int ticks = 0;
    double meanMs = 0;
    double minMs = 0;
    double maxMs = 0;
    double elapsedMs = 0;
    double driftMs = 0;
};

std::optional<Result> run(const Scenario& scenario, quint16 port, QString* error) {
    Harness h;
    h.start();
    if (!bench::connectWindow(h, port, error))
        return std::nullopt;
    bench::chooseRepeat(h, scenario.command, QString::fromLatin1(scenario.interval));

    const auto wanted = static_cast<std::size_t>(scenario.ticks) + 1;
    const int limitMs = kStallFactor * scenario.ticks * scenario.intervalMs + kStallSlackMs;
    QElapsedTimer clock;
    std::vector<qint64> sendsNs;
    sendsNs.reserve(wanted);
    // A plain event loop: QTest's waiting sleeps between turns, which would
    // hold ticks back and measure the wait instead of the timer.
    QEventLoop loop;
    const auto& log = h.session().logLines();
    QObject::connect(&log, &lumora::log::LogListModel::linesAppended, &loop,
                     [&](int first, int last) {
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

    bench::Unit unit;
    QString error;
    if (!bench::startUnit(unit, bench::emulatorProgram(app.arguments()), &error)) {
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
        bench::printRow({QStringLiteral("cadence, %1 at %2 s: mean period (drift over %3 ticks)")
                             .arg(QString::fromLatin1(scenario.name), QString::fromLatin1(scenario.interval))
                             .arg(r->ticks),
                         QStringLiteral("%1 ms (%2 ms)").arg(r->meanMs, 0, 'f', 3).arg(r->driftMs, 0, 'f', 1),
                         QStringLiteral("%1 ms").arg(scenario.intervalMs),
                         QStringLiteral("%1x").arg(r->meanMs / scenario.intervalMs, 0, 'f', 2),
                         {},
                         {}});
    }
    return failures == 0 ? 0 : 1;
}
