// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a large daily file (made by lumora-make-day-file), one figure a
// run so that each process starts clean:
//
//   lumora-bench-reading --throughput FILE     the block reader, reading as the viewer does, against `wc -l`
//   lumora-bench-reading --memory FILE [KIND]  peak resident memory while loading, against the file's size
//   lumora-bench-reading --picture FILE [KIND] from start to the first full picture
//
// KIND names the file's content in the row ("busy" for a file made with
// lumora-make-day-file --busy).
//
// The file is read from the page cache: each figure reads it once before it
// is timed (the picture's after the clock starts, as a viewer would).

#include "bench_support.h"
#include "log/recv_block.h"
#include "timeline/day_files.h"
#include "timeline/reply_store.h"
#include "waveform/picture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr qsizetype kPartBytes = qsizetype{4} << 20; // as timeline/day_files.cpp reads
constexpr int kRuns = 3;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kGiveUpSeconds = 60;
// CPU spent when the picture's clock starts: warming the page cache is not the viewer's.
double g_cpuAtStart = 0;

// The most resident memory the process has held, from /proc/self/status; 0
// when it cannot be read.
qint64 peakResidentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong() * 1024;
    }
    return 0;
}

// "1 GiB day file", or with the content's kind: "1 GiB busy day file".
QString fileName(const QString& kind) {
    return kind.isEmpty() ? QStringLiteral("1 GiB day file") : QStringLiteral("1 GiB %1 day file").arg(kind);
}

// Reads every page once, so that what follows finds the file in the page cache.
void warm(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray chunk(qsizetype{1} << 20, Qt::Uninitialized);
    while (file.read(chunk.data(), chunk.size()) > 0) {
    }
}

double wcSeconds(const QString& path) {
    double best = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        QProcess wc;
        wc.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        wc.start(QStringLiteral("wc"), {QStringLiteral("-l"), path});
        if (!wc.waitForFinished(-1) || wc.exitCode() != 0)
            return -1;
        best = std::min(best, double(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

// The whole file's blocks as the viewer reads them: in order with plain
// reads into parts that end after a whole block (the rest carried to the
// next), each part's blocks found on another thread while the next is read.
// The blocks found, or -1 when the file cannot be read.
qint64 readAllBlocks(QFile& file) {
    constexpr qsizetype kLookBack = 4096;
    constexpr std::size_t kAhead = 3;
    const auto count = [](QByteArrayView part) {
        qint64 found = 0;
        lumora::log::RecvBlockReader reader(part);
        while (reader.next() != lumora::log::RecvBlockReader::Found::End)
            ++found;
        return found;
    };
    if (!file.seek(0))
        return -1;
    std::deque<std::pair<std::future<qint64>, QByteArray>> ahead;
    std::vector<QByteArray> spare;
    qint64 blocks = 0;
    QByteArray carried;
    while (true) {
        while (ahead.size() >= kAhead) {
            blocks += ahead.front().first.get();
            spare.push_back(std::move(ahead.front().second));
            ahead.pop_front();
        }
        QByteArray bytes =
            spare.empty() ? QByteArray(kPartBytes, Qt::Uninitialized) : std::move(spare.back());
        if (!spare.empty())
            spare.pop_back();
        std::memcpy(bytes.data(), carried.constData(), std::size_t(carried.size()));
        qsizetype filled = carried.size();
        for (qint64 got;
             filled < bytes.size() && (got = file.read(bytes.data() + filled, bytes.size() - filled)) > 0;)
            filled += qsizetype(got);
        const QByteArrayView memory(bytes.constData(), filled);
        const bool last = filled < bytes.size();
        const std::vector<qsizetype> cuts =
            last ? std::vector<qsizetype>{0, filled} : lumora::log::blockCuts(memory, filled - kLookBack);
        const qsizetype end = cuts[cuts.size() - 2] > 0 ? cuts[cuts.size() - 2] : filled;
        carried = memory.sliced(end).toByteArray();
        ahead.emplace_back(std::async(std::launch::async, count, memory.first(end)), std::move(bytes));
        if (last)
            break;
    }
    for (auto& [part, bytes] : ahead)
        blocks += part.get();
    return blocks;
}

int throughput(const QString& path) {
    warm(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return 2;
    const qint64 size = file.size();
    const double wc = wcSeconds(path);
    if (wc <= 0)
        return 2;
    double best = 1e9;
    qint64 blocks = 0;
    // The reads are timed too, as wc pays for its own.
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        blocks = readAllBlocks(file);
        if (blocks < 0)
            return 2;
        best = std::min(best, double(timer.nsecsElapsed()) / 1e9);
    }
    const double ratio = wc / best;
    bench::printRow(
        {QStringLiteral("1 GiB day file: block reader throughput vs wc -l"),
         QStringLiteral("%1 MiB/s (%2 blocks in %3 s)")
             .arg(double(size) / kMiB / best, 0, 'f', 0)
             .arg(blocks)
             .arg(best, 0, 'f', 3),
         QStringLiteral("wc -l %1 MiB/s (%2 s)").arg(double(size) / kMiB / wc, 0, 'f', 0).arg(wc, 0, 'f', 3),
         QString::number(ratio, 'f', 2), QStringLiteral(">= 0.25"), bench::metText(ratio >= 0.25)});
    return 0;
}

int memory(const QString& path, const QString& kind) {
    warm(path);
    const qint64 before = bench::residentBytes();
    lumora::timeline::ReplyStore store;
    lumora::timeline::DayFiles days(store, QTimeZone::utc());
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = bench::cpuSeconds();
    days.load({path});
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = bench::cpuSeconds() - cpuBefore;
    const qint64 after = bench::residentBytes();
    const qint64 peak = std::max(peakResidentBytes(), after);
    const qint64 size = QFile(path).size();
    const double ratio = double(peak) / double(size);
    bench::printRow(
        {fileName(kind) + QStringLiteral(": loaded into the store, peak resident memory vs file size"),
         QStringLiteral("%1 MiB peak, %7 MiB once loaded (%2 before loading; loaded in %5 s taking "
                        "%6 s of CPU, %3 replies, %4 problems, store %8 B a reply)")
             .arg(double(peak) / kMiB, 0, 'f', 0)
             .arg(double(before) / kMiB, 0, 'f', 0)
             .arg(store.size())
             .arg(days.problems().size())
             .arg(seconds, 0, 'f', 2)
             .arg(cpu, 0, 'f', 2)
             .arg(double(after) / kMiB, 0, 'f', 0)
             .arg(double(store.memoryBytes()) / double(std::max<qsizetype>(store.size(), 1)), 0, 'f', 1),
         QStringLiteral("file %1 MiB").arg(double(size) / kMiB, 0, 'f', 0), QString::number(ratio, 'f', 3),
         QStringLiteral("<= 0.2"), bench::metText(ratio <= 0.2)});
    return 0;
}

int picture(const QString& path, const QString& kind, const QElapsedTimer& sinceStart) {
    // A picture that takes a minute has missed its target long before: the
    // row says how far it got, and the run ends there.
    std::atomic<double> loadedAt{0};
    std::thread([&sinceStart, &loadedAt, kind] {
        std::this_thread::sleep_for(std::chrono::duration<double>(kGiveUpSeconds));
        const double loaded = loadedAt;
        bench::printRow({fileName(kind) + QStringLiteral(": first full picture"),
                         loaded > 0
                             ? QStringLiteral("over %1 s (loaded %2 s, then still summarizing and drawing)")
                                   .arg(double(sinceStart.nsecsElapsed()) / 1e9, 0, 'f', 0)
                                   .arg(loaded, 0, 'f', 2)
                             : QStringLiteral("over %1 s, still loading").arg(kGiveUpSeconds, 0, 'f', 0),
                         QString(), QString(), QStringLiteral("<= 2 s"), bench::metText(false)});
        std::_Exit(0);
    }).detach();
    lumora::timeline::ReplyStore store;
    lumora::timeline::DayFiles days(store, QTimeZone::utc());
    days.load({path});
    const double loaded = double(sinceStart.nsecsElapsed()) / 1e9;
    loadedAt = loaded;
    if (store.isEmpty())
        return 2;
    constexpr int kWidth = 1600;
    constexpr int kHeight = 900;
    lumora::waveform::ViewState view;
    view.fromMs = store.msAt(0);
    view.toMs = store.msAt(store.size() - 1) + 1;
    const std::vector<lumora::timeline::Column> columns =
        lumora::timeline::columns(store, view.fromMs, view.toMs, kWidth);
    const double summarized = double(sinceStart.nsecsElapsed()) / 1e9;
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&image);
        lumora::waveform::paintSignals(painter, image.rect(), store, view);
    }
    const double seconds = double(sinceStart.nsecsElapsed()) / 1e9;
    const double cpu = bench::cpuSeconds() - g_cpuAtStart;
    bench::printRow({fileName(kind) + QStringLiteral(": first full picture"),
                     QStringLiteral("%1 s (loaded %2 s, %3 columns %4 s, %5 replies; %6 s of CPU)")
                         .arg(seconds, 0, 'f', 2)
                         .arg(loaded, 0, 'f', 2)
                         .arg(columns.size())
                         .arg(summarized - loaded, 0, 'f', 2)
                         .arg(store.size())
                         .arg(cpu, 0, 'f', 2),
                     QString(), QString(), QStringLiteral("<= 2 s"), bench::metText(seconds <= 2.0)});
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: lumora-bench-reading --throughput|--memory|--picture FILE [KIND]\n");
        return 1;
    }
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString path = QString::fromLocal8Bit(argv[2]);
    const QString kind = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString();
    // The picture's clock starts before the application, as a viewer's
    // start would; only the page cache is made ready first.
    if (mode == QStringLiteral("--picture"))
        warm(path);
    g_cpuAtStart = bench::cpuSeconds();
    QElapsedTimer sinceStart;
    sinceStart.start();
    QApplication app(argc, argv);
    if (mode == QStringLiteral("--throughput"))
        return throughput(path);
    if (mode == QStringLiteral("--memory"))
        return memory(path, kind);
    if (mode == QStringLiteral("--picture"))
        return picture(path, kind, sinceStart);
    std::fprintf(stderr, "usage: lumora-bench-reading --throughput|--memory|--picture FILE [KIND]\n");
    return 1;
}
