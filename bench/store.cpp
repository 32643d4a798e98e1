// SPDX-License-Identifier: GPL-3.0-or-later
// The reply store's figures, each beside its floor in the same run:
// - one append to a store bounded as the client's (100,000 replies) against
//   copying the same reply into a ring of that size;
// - the per-pixel summaries of 2.5 million replies (a day file of a
//   gigabyte) at 1600 pixels against the 16 ms a frame has at 60 Hz;
// - the bytes a reply of that day costs in the store;
// - the measurements of that whole day against the 100 ms they may take,
//   each chunk's run folded by the store as it filled;
// - what that folding adds to filling the store with the day: the fold of
//   the day's replies chunk by chunk against the fill without it (the fill
//   less the fold);
// - the next and previous change on a lane of that day whose only change is
//   at its far end, against the 20 ms they may take;
// - Find over that whole day, every stretch listed, against 100 ms (the
//   whole day's measurements' target);
// - the lanes that change over that whole day, which the signals window asks
//   at every status update while it hides the others, against a 16 ms frame.
// Prints Google Benchmark's own report, then the rows for tools/bench.sh.

#include "bench_support.h"
#include "median_collector.h"
#include "timeline/condition.h"
#include "timeline/lanes.h"
#include "timeline/measure.h"
#include "timeline/reply_store.h"
#include "timeline/search.h"

#include <benchmark/benchmark.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using lumora::timeline::Level;
using lumora::timeline::ReplyStore;
using lumora::timeline::Sample;

constexpr qsizetype kClientKeeps = 100'000;
constexpr qsizetype kDayReplies = 2'500'000;
constexpr int kWidth = 1600;
constexpr int kRepetitions = 5;
constexpr double kFrameNs = 16e6;
constexpr double kColumnsTarget = 0.25; // of a frame
constexpr double kAppendTarget = 25.0;  // times a plain copy: well under a microsecond
constexpr double kBytesTarget = 40.0;
constexpr double kMeasureTargetNs = 100e6;
constexpr double kEdgeTargetNs = 20e6;
constexpr double kFindTargetNs = 100e6;
constexpr int kLastOutput = lumora::timeline::kLaneCount - 1; // DO04
constexpr double kFoldTarget = 1.5; // of the fill without it
constexpr double kLanesTarget = 0.05; // of a frame
constexpr qint64 kStartMs = 1'796'637'600'000;

// Replies of the kind the emulator gives at 1 ms polling: each input
// toggling every 60 ms to 1.7 s, its counter counting rising edges, its gap
// the time between the last two; a reply a millisecond, now and then two.
std::vector<Sample> dayOfReplies(qsizetype count) {
    std::mt19937_64 random(3);
    std::array<qint64, lumora::timeline::kChannelCount> period{};
    std::array<qint64, lumora::timeline::kChannelCount> next{};
    std::array<qint64, lumora::timeline::kChannelCount> lastRise{};
    for (std::size_t k = 0; k < period.size(); ++k) {
        period[k] = 60 + qint64(random() % 1680);
        next[k] = kStartMs + period[k];
        lastRise[k] = kStartMs;
    }
    std::vector<Sample> replies;
    replies.reserve(std::size_t(count));
    Sample s;
    s.ms = kStartMs;
    for (qsizetype i = 0; i < count; ++i) {
        s.ms += random() % 50 == 0 ? 2 : 1;
        for (std::size_t k = 0; k < period.size(); ++k) {
            if (s.ms < next[k])
                continue;
            const bool rising = s.lane(int(k)) == Level::Low;
            s.setLane(int(k), rising ? Level::High : Level::Low);
            if (rising) {
                ++s.counters[k];
                s.gaps[k] = std::uint32_t(s.ms - lastRise[k]);
                lastRise[k] = s.ms;
            }
            next[k] = s.ms + period[k] * qint64(85 + random() % 31) / 100;
        }
        replies.push_back(s);
    }
    return replies;
}

const std::vector<Sample>& someReplies() {
    static const std::vector<Sample> replies = dayOfReplies(kClientKeeps);
    return replies;
}

const ReplyStore& dayStore() {
    static const ReplyStore store = [] {
        ReplyStore s;
        std::vector<Sample> replies = dayOfReplies(kDayReplies);
        // The outputs stand still all day; DO04 goes high at the last reply:
        // the farthest a search for its change has to go.
        replies.back().setLane(kLastOutput, Level::High);
        for (const Sample& reply : replies)
            s.append(reply);
        return s;
    }();
    return store;
}

void BM_StoreAppend(benchmark::State& state) {
    const auto& replies = someReplies();
    ReplyStore store(kClientKeeps);
    std::size_t next = 0;
    for (auto _ : state) {
        store.append(replies[next]);
        next = next + 1 == replies.size() ? 0 : next + 1;
    }
    benchmark::DoNotOptimize(store.size());
}

void BM_SampleCopyFloor(benchmark::State& state) {
    const auto& replies = someReplies();
    std::vector<Sample> ring(replies.size());
    std::size_t next = 0;
    for (auto _ : state) {
        ring[next] = replies[next];
        benchmark::ClobberMemory();
        next = next + 1 == replies.size() ? 0 : next + 1;
    }
}

void BM_StoreColumns(benchmark::State& state) {
    const ReplyStore& store = dayStore();
    const qint64 from = store.msAt(0);
    const qint64 to = store.msAt(store.size() - 1) + 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(lumora::timeline::columns(store, from, to, kWidth));
}

void BM_MeasureDay(benchmark::State& state) {
    const ReplyStore& store = dayStore();
    const qint64 from = store.msAt(0);
    const qint64 to = store.msAt(store.size() - 1) + 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(lumora::timeline::measure(store, from, to));
}

void BM_StoreFillDay(benchmark::State& state) {
    const std::vector<Sample> replies = dayOfReplies(kDayReplies);
    for (auto _ : state) {
        ReplyStore store;
        for (const Sample& reply : replies)
            store.append(reply);
        benchmark::DoNotOptimize(store.size());
    }
}

// The work the store adds as it packs each chunk.
void BM_FoldDay(benchmark::State& state) {
    const std::vector<Sample> replies = dayOfReplies(kDayReplies);
    for (auto _ : state) {
        for (std::size_t first = 0; first + ReplyStore::kChunkReplies <= replies.size();
             first += ReplyStore::kChunkReplies) {
            lumora::timeline::Measure run;
            for (std::size_t i = first; i < first + ReplyStore::kChunkReplies; ++i)
                run.append(replies[i]);
            benchmark::DoNotOptimize(run);
        }
    }
}

void BM_NextChangeFarEnd(benchmark::State& state) {
    const ReplyStore& store = dayStore();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            lumora::timeline::nextChange(store, 0, lumora::timeline::LaneSet{1} << kLastOutput));
}

void BM_PreviousChangeFarEnd(benchmark::State& state) {
    const ReplyStore& store = dayStore();
    for (auto _ : state)
        benchmark::DoNotOptimize(lumora::timeline::previousChange(
            store, store.size() - 1, lumora::timeline::LaneSet{1} << kLastOutput));
}

// Every stretch where the condition holds in the whole day.
void BM_FindDay(benchmark::State& state, const char* text) {
    const ReplyStore& store = dayStore();
    QString why;
    const auto condition = lumora::timeline::Condition::parse(QString::fromLatin1(text), why);
    const qint64 from = store.msAt(0);
    const qint64 to = store.msAt(store.size() - 1) + 1;
    bool more = false;
    qsizetype found = 0;
    for (auto _ : state)
        found =
            qsizetype(lumora::timeline::findStretches(store, *condition, from, to, kDayReplies, more).size());
    state.counters["stretches"] = double(found);
}

BENCHMARK_CAPTURE(BM_FindDay, levels, "DI03 & !DO01")->Repetitions(kRepetitions);
BENCHMARK_CAPTURE(BM_FindDay, counter, "CNT04 > 1000")->Repetitions(kRepetitions);
BENCHMARK(BM_NextChangeFarEnd)->Repetitions(kRepetitions);
BENCHMARK(BM_PreviousChangeFarEnd)->Repetitions(kRepetitions);
void BM_LanesThatChangeDay(benchmark::State& state) {
    const ReplyStore& store = dayStore();
    for (auto _ : state)
        benchmark::DoNotOptimize(lumora::timeline::lanesThatChange(store, {0, store.size()}));
}

BENCHMARK(BM_SampleCopyFloor)->Repetitions(kRepetitions);
BENCHMARK(BM_MeasureDay)->Repetitions(kRepetitions);
BENCHMARK(BM_StoreFillDay)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_FoldDay)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_StoreAppend)->Repetitions(kRepetitions);
BENCHMARK(BM_StoreColumns)->Repetitions(kRepetitions);
BENCHMARK(BM_LanesThatChangeDay)->Repetitions(kRepetitions);

QString ratioText(double ratio) {
    return QStringLiteral("%1x").arg(ratio, 0, 'f', 2);
}

} // namespace

int main(int argc, char** argv) {
    bench::MedianCollector results;
    if (!bench::runBenchmarks(argc, argv, results))
        return 1;
    const auto median = [&results](const char* name) { return results.median(name); };
    const double append = median("BM_StoreAppend");
    const double copy = median("BM_SampleCopyFloor");
    if (append > 0 && copy > 0)
        bench::printRow({QStringLiteral("reply store append, bounded at 100,000 (vs copying the reply)"),
                         QStringLiteral("%1 ns").arg(append, 0, 'f', 0),
                         QStringLiteral("%1 ns").arg(copy, 0, 'f', 0), ratioText(append / copy),
                         QStringLiteral("<= %1x").arg(kAppendTarget, 0, 'f', 0),
                         bench::metText(append / copy <= kAppendTarget)});
    else
        bench::printRow({QStringLiteral("reply store append"),
                         QStringLiteral("missing"),
                         {},
                         {},
                         {},
                         bench::metText(false)});
    const double columns = median("BM_StoreColumns");
    if (columns > 0)
        bench::printRow({QStringLiteral("columns() of 2.5M replies at 1600 px (vs a 16 ms frame)"),
                         QStringLiteral("%1 ms").arg(columns / 1e6, 0, 'f', 2), QStringLiteral("16 ms"),
                         ratioText(columns / kFrameNs),
                         QStringLiteral("<= %1x").arg(kColumnsTarget, 0, 'f', 2),
                         bench::metText(columns / kFrameNs <= kColumnsTarget)});
    else
        bench::printRow({QStringLiteral("columns() of 2.5M replies"),
                         QStringLiteral("missing"),
                         {},
                         {},
                         {},
                         bench::metText(false)});
    const double day = median("BM_MeasureDay");
    bench::printRow({QStringLiteral("measure() of 2.5M replies, the whole day, runs folded as the store filled "
                                    "(vs 100 ms)"),
                     day > 0 ? QStringLiteral("%1 ms").arg(day / 1e6, 0, 'f', 1) : QStringLiteral("missing"),
                     QStringLiteral("100 ms"), ratioText(day / kMeasureTargetNs), QStringLiteral("<= 1.00x"),
                     bench::metText(day > 0 && day <= kMeasureTargetNs)});
    const double fill = median("BM_StoreFillDay/iterations:1");
    const double fold = median("BM_FoldDay/iterations:1");
    const bool folded = fill > fold && fold > 0;
    bench::printRow({QStringLiteral("filling the store with 2.5M replies, each chunk's run folded (vs the fill "
                                    "less the fold)"),
                     folded ? QStringLiteral("%1 ms (fold %2 ms)").arg(fill / 1e6, 0, 'f', 0).arg(fold / 1e6, 0, 'f', 0)
                            : QStringLiteral("missing"),
                     folded ? QStringLiteral("%1 ms").arg((fill - fold) / 1e6, 0, 'f', 0) : QString(),
                     folded ? ratioText(fill / (fill - fold)) : QString(),
                     QStringLiteral("<= %1x").arg(kFoldTarget, 0, 'f', 2),
                     bench::metText(folded && fill / (fill - fold) <= kFoldTarget)});
    for (const auto& [name, what] :
         {std::pair{"BM_NextChangeFarEnd", "next"}, std::pair{"BM_PreviousChangeFarEnd", "previous"}}) {
        const double ns = median(name);
        bench::printRow(
            {QStringLiteral("%1 change on a lane of 2.5M replies changing only at the far end (vs 20 ms)")
                 .arg(QLatin1String(what)),
             ns > 0 ? QStringLiteral("%1 ms").arg(ns / 1e6, 0, 'f', 3) : QStringLiteral("missing"),
             QStringLiteral("20 ms"), QStringLiteral("%1x").arg(ns / kEdgeTargetNs, 0, 'f', 4),
             QStringLiteral("<= 1.00x"), bench::metText(ns > 0 && ns <= kEdgeTargetNs)});
    }
    for (const auto& [name, what] :
         {std::pair{"BM_FindDay/levels", "DI03 & !DO01"}, std::pair{"BM_FindDay/counter", "CNT04 > 1000"}}) {
        const double ns = median(name);
        bench::printRow(
            {QStringLiteral("Find \"%1\" over 2.5M replies, every stretch (vs 100 ms)")
                 .arg(QLatin1String(what)),
             ns > 0 ? QStringLiteral("%1 ms").arg(ns / 1e6, 0, 'f', 1) : QStringLiteral("missing"),
             QStringLiteral("100 ms"), ratioText(ns / kFindTargetNs), QStringLiteral("<= 1.00x"),
             bench::metText(ns > 0 && ns <= kFindTargetNs)});
    }
    const double lanes = median("BM_LanesThatChangeDay");
    bench::printRow(
        {QStringLiteral("lanesThatChange() of 2.5M replies, the whole day (vs a 16 ms frame)"),
         lanes > 0 ? QStringLiteral("%1 ms").arg(lanes / 1e6, 0, 'f', 3) : QStringLiteral("missing"),
         QStringLiteral("16 ms"), QStringLiteral("%1x").arg(lanes / kFrameNs, 0, 'f', 4),
         QStringLiteral("<= %1x").arg(kLanesTarget, 0, 'f', 2),
         bench::metText(lanes > 0 && lanes / kFrameNs <= kLanesTarget)});
    const double perReply = double(dayStore().memoryBytes()) / double(dayStore().size());
    bench::printRow({QStringLiteral("reply store bytes a reply, 2.5M replies of 1 ms polling"),
                     QStringLiteral("%1 B").arg(perReply, 0, 'f', 1), QStringLiteral("112 B (a sample)"),
                     ratioText(perReply / double(sizeof(Sample))),
                     QStringLiteral("<= %1 B").arg(kBytesTarget), bench::metText(perReply <= kBytesTarget)});
    return 0;
}
