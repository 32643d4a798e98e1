// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: from process launch to the first paint of the window, offscreen,
// for the client against a bare Qt window program built in the same tree.
// The runs alternate so that all see the same state of the machine; the
// medians are compared. Usage: lumora-bench-startup [--runs N]

#include "bench_support.h"
#include "shown_probe.h"

#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

constexpr int kDefaultRuns = 9;
constexpr int kRunTimeoutMs = 30000;
constexpr double kTarget = 1.5;

std::optional<double> shownAfterMs(const QString& program, const QStringList& arguments, const QString& workDir,
                                   QString* error) {
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    environment.insert(QString::fromLatin1(lumora::app::kExitWhenShownVariable),
                       QString::number(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(kRunTimeoutMs) || process.exitCode() != 0) {
        *error = QStringLiteral("%1 did not end by itself: %2").arg(program, process.errorString());
        process.kill();
        return std::nullopt;
    }
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    static const QRegularExpression shown(QStringLiteral("shown after ([0-9.]+) ms"));
    const QRegularExpressionMatch match = shown.match(output);
    if (!match.hasMatch()) {
        *error = QStringLiteral("%1 printed no start-up time").arg(program);
        return std::nullopt;
    }
    return match.captured(1).toDouble();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    testsupport::isolateProcess();
    QCoreApplication app(argc, argv);
    int runs = kDefaultRuns;
    const QStringList arguments = app.arguments();
    if (const auto at = arguments.indexOf(QStringLiteral("--runs")); at > 0 && at + 1 < arguments.size())
        runs = std::max(1, arguments.at(at + 1).toInt());

    const QTemporaryDir workDir;
    const QString client = QStringLiteral(LUMORA_CLIENT_PATH);
    const QString bare = QStringLiteral(LUMORA_BARE_WINDOW_PATH);
    const QString bareLinked = QStringLiteral(LUMORA_BARE_WINDOW_LINKED_PATH);
    const QStringList withText{QStringLiteral("--text")};
    std::vector<double> clientMs;
    std::vector<double> bareMs;
    std::vector<double> textMs;
    std::vector<double> linkedMs;
    QString error;
    // One untimed run each first, so none pays alone for a cold file cache.
    for (int i = -1; i < runs; ++i) {
        const auto c = shownAfterMs(client, {}, workDir.path(), &error);
        const auto b = c ? shownAfterMs(bare, {}, workDir.path(), &error) : std::nullopt;
        const auto t = b ? shownAfterMs(bare, withText, workDir.path(), &error) : std::nullopt;
        const auto l = t ? shownAfterMs(bareLinked, withText, workDir.path(), &error) : std::nullopt;
        if (!c || !b || !t || !l) {
            std::fprintf(stderr, "lumora-bench-startup: %s\n", qPrintable(error));
            return 1;
        }
        if (i < 0)
            continue;
        clientMs.push_back(*c);
        bareMs.push_back(*b);
        textMs.push_back(*t);
        linkedMs.push_back(*l);
    }
    const double c = median(clientMs);
    const double b = median(bareMs);
    bench::printRow({QStringLiteral("start-up to window shown (median of %1)").arg(runs),
                     QStringLiteral("%1 ms").arg(c, 0, 'f', 1),
                     QStringLiteral("%1 ms (bare window)").arg(b, 0, 'f', 1),
                     QStringLiteral("%1x").arg(c / b, 0, 'f', 2),
                     QStringLiteral("<= %1x").arg(kTarget, 0, 'f', 1), bench::metText(c / b <= kTarget)});
    // The same with one line of text in the bare window: what starting the
    // font system costs any window that shows text.
    const double t = median(textMs);
    bench::printRow({QStringLiteral("start-up, against a bare window with one label"),
                     QStringLiteral("%1 ms").arg(c, 0, 'f', 1),
                     QStringLiteral("%1 ms (bare window + label)").arg(t, 0, 'f', 1),
                     QStringLiteral("%1x").arg(c / t, 0, 'f', 2),
                     {},
                     {}});
    // And with the libraries the client loads: what is left is the client's
    // own work, its controls above all.
    const double l = median(linkedMs);
    bench::printRow({QStringLiteral("start-up, against a bare window with one label and the client's libraries"),
                     QStringLiteral("%1 ms").arg(c, 0, 'f', 1),
                     QStringLiteral("%1 ms (bare window + label + libraries)").arg(l, 0, 'f', 1),
                     QStringLiteral("%1x").arg(c / l, 0, 'f', 2),
                     {},
                     {}});
    return 0;
}
