// SPDX-License-Identifier: GPL-3.0-or-later
// Test plans end to end: lumora-7150r-cli run against the wired emulator.
// 1. 1,000 cases that hold at once (output 01 wired to input 00 with no
//    delay, switched on and off in turn): the whole run's wall time;
// 2. the same wire with 20 ms of delay at poll 0.001: the case times the
//    report gives, which should be the delay and little more.
// Usage: lumora-bench-plans [emulator]

#include "bench_support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>

namespace {

constexpr int kQuickCases = 1000;
constexpr double kQuickTargetSeconds = 3.0;
constexpr int kDelayedCases = 50;
constexpr double kDelayMs = 20;
constexpr double kDelayedLowestMs = 20;
constexpr double kDelayedHighestMs = 25;

QByteArray togglingPlan(int cases, const char* poll) {
    QByteArray plan = QByteArray("poll: ") + poll + "\nsteps:\n";
    for (int k = 0; k < cases; ++k) {
        const char level = k % 2 == 0 ? '1' : '0';
        plan += QByteArray("  - outputs: [") + level + ", 0, 0, 0]\n    expect: {inputs: {\"00\": " + level +
                "}}\n";
    }
    return plan + "teardown:\n  - outputs: [0, 0, 0, 0]\n";
}

struct Run {
    bool ok = false;
    double seconds = 0;
    std::vector<double> caseMs;
    QString problem;
};

Run runPlan(const QByteArray& plan, const QStringList& emulatorFlags, const QString& emulator) {
    Run run;
    bench::Unit unit;
    unit.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!unit.start(QStringList{QStringLiteral("--quiet")} + emulatorFlags, emulator)) {
        run.problem = unit.errorString();
        return run;
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("plan.yaml"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(plan) != plan.size()) {
        run.problem = QStringLiteral("cannot write the plan");
        return run;
    }
    out.close();
    QProcess cli;
    cli.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    cli.start(QStringLiteral(LUMORA_CLI_PATH), {QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
                                                QStringLiteral("--port"), QString::number(unit.port),
                                                QStringLiteral("run"), file});
    if (!cli.waitForFinished(-1)) {
        run.problem = cli.errorString();
        return run;
    }
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    static const QRegularExpression passed(QStringLiteral("^PASS .* (\\d+(?:\\.\\d+)?) ms$"));
    for (const QByteArray& line : cli.readAllStandardOutput().split('\n')) {
        const QRegularExpressionMatch match = passed.match(QString::fromUtf8(line));
        if (match.hasMatch())
            run.caseMs.push_back(match.captured(1).toDouble());
    }
    run.ok = cli.exitCode() == 0;
    if (!run.ok)
        run.problem = QString::fromLocal8Bit(cli.readAllStandardError());
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString emulator = bench::emulatorProgram(app.arguments());

    const Run quick = runPlan(togglingPlan(kQuickCases, "0.001"),
                              {QStringLiteral("--wire"), QStringLiteral("01=00"), QStringLiteral("--wire-delay"),
                               QStringLiteral("0")},
                              emulator);
    if (!quick.ok) {
        qWarning("quick plan: %s", qPrintable(quick.problem));
        return 1;
    }
    bench::printRow({QStringLiteral("run: 1,000 cases that hold at once, no wire delay"),
                     QStringLiteral("%1 s (%2 passed)").arg(quick.seconds, 0, 'f', 2).arg(quick.caseMs.size()),
                     {}, QStringLiteral("%1x").arg(quick.seconds / kQuickTargetSeconds, 0, 'f', 2),
                     QStringLiteral("<= 3 s"), bench::metText(quick.seconds <= kQuickTargetSeconds)});

    const Run delayed = runPlan(togglingPlan(kDelayedCases, "0.001"),
                                {QStringLiteral("--wire"), QStringLiteral("01=00"), QStringLiteral("--wire-delay"),
                                 QString::number(kDelayMs / 1000)},
                                emulator);
    if (!delayed.ok || delayed.caseMs.empty()) {
        qWarning("delayed plan: %s", qPrintable(delayed.problem));
        return 1;
    }
    std::vector<double> ms = delayed.caseMs;
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    bench::printRow({QStringLiteral("run: case time with a 20 ms wire at poll 0.001, median (min to max of %1)")
                         .arg(ms.size()),
                     QStringLiteral("%1 ms (%2 to %3)").arg(median).arg(ms.front()).arg(ms.back()),
                     QStringLiteral("20 ms (the wire)"), QStringLiteral("%1x").arg(median / kDelayMs, 0, 'f', 2),
                     QStringLiteral("20 to 25 ms"),
                     bench::metText(ms.front() >= kDelayedLowestMs && ms.back() <= kDelayedHighestMs)});
    return 0;
}
