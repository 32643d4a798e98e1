// SPDX-License-Identifier: GPL-3.0-or-later
// Micro figures, each against its floor in the same run:
// - the reply path (decoding one reply into what the window shows, and the
//   window's whole ShowStatus) against formatting the same bytes as hex text;
// - one AddLog on the real window with 1001 lines in the list against one
//   with 10, once for the call alone and once with the event-loop turn that
//   follows it, where the list view does the work it has put off;
// - reading a daily file's blocks (as decode does) against splitting the same
//   bytes into lines, read the same way.
// Prints Google Benchmark's own report, then the rows for tools/bench.sh.

#include "bench_support.h"
#include "log/recv_block.h"
#include "log/time_stamp.h"
#include "median_collector.h"
#include "protocol/status_reply.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr int kSmallList = 10;
constexpr int kFullList = lumora::log::LogListModel::kKeepBeforeAppend + 1;
constexpr int kRepetitions = 5;
constexpr double kNsPerS = 1e9;
constexpr double kReplyTarget = 3.0;
constexpr double kAppendTarget = 1.5;
// A file of a gigabyte must read at a quarter of line-counting speed or better.
constexpr double kReadTarget = 4.0;
constexpr int kFileBlocks = 20000; // about 8 MB
constexpr qint64 kReadChunk = qint64{64} * 1024;

// A reply as the unit sends it: input states, counters, time gaps, outputs.
QByteArray sampleReply() {
    QByteArray reply(lumora::protocol::kStatusReplySize, '\0');
    for (int k = 0; k < lumora::protocol::kInputCount; ++k)
        reply[k] = char(k % 3);
    for (int i = lumora::protocol::kCounterOffset; i < lumora::protocol::kOutputOffset; ++i)
        reply[i] = char((i * 37 + 11) & 0xFF);
    for (int k = 0; k < lumora::protocol::kOutputCount; ++k)
        reply[lumora::protocol::kOutputOffset + k] = char(k % 2);
    return reply;
}

// The sample with every input, counter, time gap and output changed: each
// reply of a pair that alternates changes everything the window shows.
QByteArray changedReply() {
    QByteArray reply = sampleReply();
    for (int k = 0; k < lumora::protocol::kInputCount; ++k)
        reply[k] = char((k + 1) % 3);
    for (int i = lumora::protocol::kCounterOffset; i < lumora::protocol::kOutputOffset; ++i)
        reply[i] = char(reply[i] + 1);
    for (int k = 0; k < lumora::protocol::kOutputCount; ++k)
        reply[lumora::protocol::kOutputOffset + k] = char((k + 1) % 2);
    return reply;
}

std::unique_ptr<testsupport::Harness> g_window;

testsupport::Harness& window() {
    if (!g_window) {
        g_window = std::make_unique<testsupport::Harness>();
        // As Main makes it, without the test harness's check of every new
        // log line, which is no part of the client's cost.
        g_window->open(g_window->services());
        // "List" is what the window starts with; said here so the figure means it.
        g_window->find<QAbstractButton>("optLog", bench::kLogListOnly)->click();
        QCoreApplication::processEvents();
    }
    return *g_window;
}

// The floor is hex text written the plain way, a character at a time. It is
// kept here rather than taken from the client, so that it stays put when the
// client's own hex writer (which the decode also uses) gets faster.
QString plainHexText(const QByteArray& bytes) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text.append(QLatin1Char(kDigits[byte >> 4]));
        text.append(QLatin1Char(kDigits[byte & 0x0F]));
        text.append(QLatin1Char(' '));
    }
    return text;
}

void BM_ReplyHexFloor(benchmark::State& state) {
    const QByteArray reply = sampleReply();
    for (auto _ : state)
        benchmark::DoNotOptimize(plainHexText(reply));
}

void BM_ReplyDecode(benchmark::State& state) {
    const QByteArray reply = sampleReply();
    const QTime at(9, 5, 3, 7);
    for (auto _ : state) {
        lumora::protocol::DecodedReply decoded = lumora::protocol::decodeStatusReply(reply);
        QStringList block = lumora::log::recvBlockLines(lumora::log::formatTimeStamp(at), reply);
        benchmark::DoNotOptimize(decoded);
        benchmark::DoNotOptimize(block);
    }
}

void BM_ShowStatus(benchmark::State& state) {
    auto& h = window();
    const QByteArray reply = sampleReply();
    QElapsedTimer clock;
    for (auto _ : state) {
        clock.start();
        h.session().Winsock1_DataArrival(reply);
        state.SetIterationTime(double(clock.nsecsElapsed()) / kNsPerS);
        QCoreApplication::processEvents();
    }
}

// A day's file as the window writes it, every block of the sample reply.
const QByteArray& sampleFile() {
    static const QByteArray file = [] {
        const QString text = lumora::log::dailyFileText(lumora::log::recvBlockLines(
                                 QStringLiteral("[09:05:03.007]"), sampleReply())) +
                             QStringLiteral("\r\n");
        return text.toLatin1().repeated(kFileBlocks);
    }();
    return file;
}

// The floor: the same bytes read in chunks and split at every LF.
void BM_FileLinesFloor(benchmark::State& state) {
    QByteArray chunk(kReadChunk, Qt::Uninitialized);
    for (auto _ : state) {
        QBuffer buffer(const_cast<QByteArray*>(&sampleFile()));
        buffer.open(QIODevice::ReadOnly);
        qint64 lines = 0;
        for (qint64 got; (got = buffer.read(chunk.data(), kReadChunk)) > 0;) {
            const char* at = chunk.constData();
            const char* end = at + got;
            while (const void* lf = std::memchr(at, '\n', size_t(end - at))) {
                ++lines;
                at = static_cast<const char*>(lf) + 1;
            }
        }
        benchmark::DoNotOptimize(lines);
    }
}

void BM_FileBlocks(benchmark::State& state) {
    for (auto _ : state) {
        QBuffer buffer(const_cast<QByteArray*>(&sampleFile()));
        buffer.open(QIODevice::ReadOnly);
        lumora::log::RecvBlockReader reader(buffer);
        qint64 blocks = 0;
        while (reader.next() == lumora::log::RecvBlockReader::Found::Block)
            ++blocks;
        if (blocks != kFileBlocks)
            state.SkipWithError("blocks lost");
        benchmark::DoNotOptimize(blocks);
    }
}

void BM_ShowStatusAllNew(benchmark::State& state) {
    auto& h = window();
    const QByteArray replies[] = {sampleReply(), changedReply()};
    std::size_t next = 0;
    QElapsedTimer clock;
    for (auto _ : state) {
        clock.start();
        h.session().Winsock1_DataArrival(replies[next]);
        state.SetIterationTime(double(clock.nsecsElapsed()) / kNsPerS);
        next ^= 1U;
        QCoreApplication::processEvents();
    }
}

// state.range(0): lines in the list when AddLog runs; state.range(1): 1 to
// time the event-loop turn after it as well.
void BM_AddLog(benchmark::State& state) {
    auto& h = window();
    const auto lines = static_cast<int>(state.range(0));
    const bool withTurn = state.range(1) != 0;
    const QString line = QStringLiteral("[09:05:03.007] SEND : 52 ");
    auto fill = [&] {
        if (h.session().logLines().rowCount() > lines)
            h.button("cmdClear")->click();
        while (h.session().logLines().rowCount() < lines)
            h.session().addLog(line);
        QCoreApplication::processEvents();
    };
    fill();
    QElapsedTimer clock;
    for (auto _ : state) {
        // Below the cap the list grows by one per append: put it back first.
        if (h.session().logLines().rowCount() != lines)
            fill();
        clock.start();
        h.session().addLog(line);
        if (withTurn)
            QCoreApplication::processEvents();
        state.SetIterationTime(double(clock.nsecsElapsed()) / kNsPerS);
        if (!withTurn)
            QCoreApplication::processEvents();
    }
}

BENCHMARK(BM_ReplyHexFloor)->Repetitions(kRepetitions);
BENCHMARK(BM_ReplyDecode)->Repetitions(kRepetitions);
BENCHMARK(BM_ShowStatus)->UseManualTime()->Repetitions(kRepetitions);
BENCHMARK(BM_FileLinesFloor)->Repetitions(kRepetitions);
BENCHMARK(BM_FileBlocks)->Repetitions(kRepetitions);
BENCHMARK(BM_ShowStatusAllNew)->UseManualTime()->Repetitions(kRepetitions);
BENCHMARK(BM_AddLog)
    ->ArgsProduct({{kSmallList, kFullList}, {0, 1}})
    ->UseManualTime()
    ->Repetitions(kRepetitions);

QString nanoseconds(double ns) {
    return QStringLiteral("%1 ns").arg(ns, 0, 'f', 0);
}

void printRatioRow(const bench::MedianCollector& results, const QString& figure, const std::string& measured,
                   const std::string& floor, double target) {
    const auto m = results.medianNs.find(measured);
    const auto f = results.medianNs.find(floor);
    if (m == results.medianNs.end() || f == results.medianNs.end() || f->second <= 0) {
        bench::printRow({figure, QStringLiteral("missing"), {}, {}, {}, bench::metText(false)});
        return;
    }
    const double ratio = m->second / f->second;
    // No target: a figure shown for what it says about the one beside it.
    const bool hasTarget = target > 0;
    bench::printRow({figure, nanoseconds(m->second), nanoseconds(f->second),
                     QStringLiteral("%1x").arg(ratio, 0, 'f', 2),
                     hasTarget ? QStringLiteral("<= %1x").arg(target, 0, 'f', 1) : QStringLiteral("-"),
                     hasTarget ? bench::metText(ratio <= target) : QStringLiteral("-")});
}

std::string addLogName(int lines, bool withTurn) {
    return "BM_AddLog/" + std::to_string(lines) + "/" + (withTurn ? "1" : "0") + "/manual_time";
}

} // namespace

int main(int argc, char** argv) {
    testsupport::isolateProcess();
    QApplication app(argc, argv);
    bench::MedianCollector results;
    if (!bench::runBenchmarks(argc, argv, results))
        return 1;
    g_window.reset();

    printRatioRow(results, QStringLiteral("reply decode + header (vs hex text)"), "BM_ReplyDecode",
                  "BM_ReplyHexFloor", kReplyTarget);
    printRatioRow(results, QStringLiteral("ShowStatus, List (vs hex text)"), "BM_ShowStatus/manual_time",
                  "BM_ReplyHexFloor", kReplyTarget);
    printRatioRow(results, QStringLiteral("daily file read into blocks (vs line split)"), "BM_FileBlocks",
                  "BM_FileLinesFloor", kReadTarget);
    printRatioRow(results, QStringLiteral("ShowStatus, List, every value new (vs hex text)"),
                  "BM_ShowStatusAllNew/manual_time", "BM_ReplyHexFloor", 0);
    printRatioRow(results, QStringLiteral("AddLog at 1001 lines (vs 10)"), addLogName(kFullList, false),
                  addLogName(kSmallList, false), kAppendTarget);
    printRatioRow(results, QStringLiteral("AddLog + loop turn at 1001 (vs 10)"), addLogName(kFullList, true),
                  addLogName(kSmallList, true), kAppendTarget);
    return 0;
}
