// SPDX-License-Identifier: GPL-3.0-or-later
// How long one ping tick on 127.0.0.1 holds the window thread, with the
// system's ICMP layer: PingTimer_Timer runs on that thread and hands the
// lookup and the echo wait to a thread of their own; the reply's line comes
// back through the event loop, which the bench waits for between ticks.
// Usage: lumora-bench-ping [--ticks N]

#include "bench_support.h"

#include <QElapsedTimer>

#include <algorithm>
#include <vector>

namespace {

constexpr int kDefaultTicks = 50;
constexpr double kTargetMs = 5;
constexpr double kNsPerMs = 1e6;
constexpr int kLineTimeoutMs = 5000;

} // namespace

int main(int argc, char** argv) {
    testsupport::isolateProcess();
    QApplication app(argc, argv);
    int ticks = kDefaultTicks;
    const QStringList arguments = app.arguments();
    if (const auto at = arguments.indexOf(QStringLiteral("--ticks")); at > 0 && at + 1 < arguments.size())
        ticks = std::max(1, arguments.at(at + 1).toInt());

    testsupport::Harness h;
    const auto icmp = lumora::platform::makeSystemIcmpService();
    h.open(h.services({.icmp = icmp.get()}));
    bench::type(h.edit("txtDestIP"), QStringLiteral("127.0.0.1"));
    QCoreApplication::processEvents();

    const auto& log = h.session().logLines();
    std::vector<double> blockedMs;
    QElapsedTimer clock;
    for (int i = 0; i < ticks; ++i) {
        const int before = log.rowCount();
        clock.start();
        h.session().startPing();
        blockedMs.push_back(double(clock.nsecsElapsed()) / kNsPerMs);
        if (!QTest::qWaitFor([&] { return log.rowCount() > before; }, kLineTimeoutMs)) {
            std::fprintf(stderr, "lumora-bench-ping: tick %d logged no line\n", i + 1);
            return 1;
        }
        // Each tick starts a test of its own: the next comes when this one's line is in.
        h.session().stopPing();
    }
    // The last line is the test's end; the one before it the tick's.
    const QString last = log.line(log.rowCount() - 2);
    if (!last.startsWith(QLatin1String("Reply From 127.0.0.1"))) {
        std::fprintf(stderr, "lumora-bench-ping: the tick did not get a reply: %s\n", qPrintable(last));
        return 1;
    }
    std::sort(blockedMs.begin(), blockedMs.end());
    const double median = blockedMs[blockedMs.size() / 2];
    const double worst = blockedMs.back();
    bench::printRow({QStringLiteral("ping tick on 127.0.0.1: window blocked (median, max of %1)").arg(ticks),
                     QStringLiteral("%1 ms, %2 ms").arg(median, 0, 'f', 3).arg(worst, 0, 'f', 3),
                     {},
                     {},
                     QStringLiteral("< %1 ms").arg(kTargetMs),
                     bench::metText(worst < kTargetMs)});
    return 0;
}
