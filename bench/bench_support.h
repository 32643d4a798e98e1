// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Set-up shared by the end-to-end drivers: the bundled emulator on a free
// loopback port, a window typed into as a user would, and the figures' rows.

#include "unitemulator.h"
#include "windowfixture.h"

#include <QProcess>
#include <QTest>
#include <QTextStream>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {

inline constexpr int kConnectTimeoutMs = 10000;
inline constexpr int kStatusRequest = 0;
inline constexpr int kCounterReset = 2;
inline constexpr int kLogListOnly = 0;
inline constexpr int kLogListAndFile = 1;
inline constexpr int kRepeatMode = 1;

using Unit = testsupport::UnitEmulator;

// Starts the emulator quietly on a free loopback port; what it says on its
// standard error shows among the driver's own.
inline bool startUnit(Unit& unit, const QString& program, QString* error) {
    unit.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (unit.start({QStringLiteral("--quiet")}, program))
        return true;
    *error = unit.errorString();
    return false;
}

// The emulator named on the command line, else the one built beside the benchmarks.
inline QString emulatorProgram(const QStringList& arguments) {
    return arguments.size() > 1 ? arguments.at(1) : QStringLiteral(LUMORA_EMULATOR_PATH);
}

inline void type(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
}

// Types the unit's loopback address and port, clicks Connect and waits for the connect event.
inline bool connectWindow(testsupport::Harness& h, quint16 port, QString* error) {
    type(h.edit("txtDestIP"), QStringLiteral("127.0.0.1"));
    type(h.edit("txtDestPort"), QString::number(port));
    h.button("cmdConnect")->click();
    if (!QTest::qWaitFor([&] { return h.button("cmdSend")->isEnabled(); }, kConnectTimeoutMs)) {
        *error = QStringLiteral("the window did not connect to port %1").arg(port);
        return false;
    }
    return true;
}

// Selects a command and Repeat mode with the interval typed as given.
inline void chooseRepeat(testsupport::Harness& h, int command, const QString& interval) {
    h.find<QAbstractButton>("optCommand", command)->click();
    h.find<QAbstractButton>("optInterval", kRepeatMode)->click();
    type(h.cboTime()->lineEdit(), interval);
}

inline double cpuSeconds() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    constexpr double kUsPerS = 1e6;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / kUsPerS; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Resident memory in bytes, from /proc/self/statm; 0 when it cannot be read.
inline qint64 residentBytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return 0;
    long long pages = 0;
    long long resident = 0;
    const int read = std::fscanf(statm, "%lld %lld", &pages, &resident);
    std::fclose(statm);
    return read == 2 ? resident * sysconf(_SC_PAGESIZE) : 0;
}

// One row of the benchmark table: figure|measured|floor|ratio|target|met.
// tools/bench.sh lines these rows up; an empty floor means the figure
// stands against its target alone.
struct Row {
    QString figure;
    QString measured;
    QString floor;
    QString ratio;
    QString target;
    QString met; // "yes", "NO", or "-" for a figure without a target
};

inline QString metText(bool met) {
    return met ? QStringLiteral("yes") : QStringLiteral("NO");
}

inline void printRow(const Row& row) {
    QTextStream out(stdout);
    out << QStringLiteral("ROW|%1|%2|%3|%4|%5|%6\n")
               .arg(row.figure, row.measured, row.floor.isEmpty() ? QStringLiteral("-") : row.floor,
                    row.ratio.isEmpty() ? QStringLiteral("-") : row.ratio,
                    row.target.isEmpty() ? QStringLiteral("-") : row.target,
                    row.met.isEmpty() ? QStringLiteral("-") : row.met);
    out.flush();
}

} // namespace bench
