// SPDX-License-Identifier: GPL-3.0-or-later
// decode and decode --vcd of large daily files (made by lumora-make-day-file),
// against reading the same file's blocks and `wc -l`, which bound what
// decoding can cost:
//
//   lumora-bench-decode NAME=FILE ...   NAME labels the file's rows ("gentle", "busy")
//
// Each figure is the best of a few runs of the command line, its output
// written to a file beside the day (then removed), the day in the page cache.

#include "bench_support.h"
#include "log/recv_block.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

constexpr int kRuns = 3;
constexpr double kTargetSeconds = 4;

// The best of kRuns of a program, its output to `out`; negative when it fails.
double bestSeconds(const QString& program, const QStringList& arguments, const QString& out) {
    double best = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        QProcess process;
        process.setStandardOutputFile(out);
        process.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        process.start(program, arguments);
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            return -1;
        best = std::min(best, double(timer.nsecsElapsed()) / 1e9);
    }
    QFile::remove(out);
    return best;
}

// The blocks read as decode reads them, one chunk at a time, and nothing written.
double readerSeconds(const QString& path, qint64& blocks) {
    double best = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return -1;
        QElapsedTimer timer;
        timer.start();
        lumora::log::RecvBlockReader reader(file);
        blocks = 0;
        for (lumora::log::RecvBlockReader::Found found;
             (found = reader.next()) != lumora::log::RecvBlockReader::Found::End;)
            blocks += found == lumora::log::RecvBlockReader::Found::Block ? 1 : 0;
        best = std::min(best, double(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList days = app.arguments().mid(1);
    if (days.isEmpty()) {
        std::fprintf(stderr, "usage: lumora-bench-decode NAME=FILE ...\n");
        return 1;
    }
    qputenv("TZ", "UTC");
    for (const QString& day : days) {
        const QString name = day.section(u'=', 0, 0);
        const QString path = day.section(u'=', 1);
        const QString out = path + QStringLiteral(".decoded");
        qint64 blocks = 0;
        const double reader = readerSeconds(path, blocks);
        const double wc = bestSeconds(QStringLiteral("wc"), {QStringLiteral("-l"), path}, out);
        if (reader < 0 || wc < 0)
            return 2;
        const QString floor =
            QStringLiteral("block reader %1 s, wc -l %2 s").arg(reader, 0, 'f', 2).arg(wc, 0, 'f', 2);
        const double mib = double(QFileInfo(path).size()) / (1024.0 * 1024.0);
        for (const bool vcd : {false, true}) {
            const QString option = vcd ? QStringLiteral(" --vcd") : QString();
            QStringList arguments{QStringLiteral("decode")};
            if (vcd)
                arguments << QStringLiteral("--vcd");
            arguments << path;
            const double seconds = bestSeconds(QStringLiteral(LUMORA_CLI_PATH), arguments, out);
            if (seconds < 0) {
                bench::printRow(
                    {QStringLiteral("decode%1 of a %2 MiB %3 day").arg(option).arg(mib, 0, 'f', 0).arg(name),
                     QStringLiteral("failed"),
                     floor,
                     {},
                     {},
                     bench::metText(false)});
                continue;
            }
            bench::printRow({QStringLiteral("decode%1 of a %2 MiB %3 day (%4 blocks)")
                                 .arg(option)
                                 .arg(mib, 0, 'f', 0)
                                 .arg(name)
                                 .arg(blocks),
                             QStringLiteral("%1 s").arg(seconds, 0, 'f', 2), floor,
                             QStringLiteral("%1x").arg(seconds / reader, 0, 'f', 1),
                             QStringLiteral("<= %1 s").arg(kTargetSeconds),
                             bench::metText(seconds <= kTargetSeconds)});
        }
    }
    return 0;
}
