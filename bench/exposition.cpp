// SPDX-License-Identifier: GPL-3.0-or-later
// The exporter's metrics text at 1,000 units:
// - update() of one unit, once with every value of its reply changed and once
//   as most polls go (the same reply, one more reply and poll duration);
// - text() of all 1,000 units, which is what a scrape costs, against the
//   scrape's time budget;
// - the resident memory the 1,000 units' lines take (each scrape's text
//   comes on top while it is sent);
// - a scrape's password check under --web-config once its header is
//   remembered, against the bcrypt run (cost 10) a first check takes.
// Prints Google Benchmark's own report, then the rows for tools/bench.sh.

#include "exporter/exposition.h"
#include "exporter/web_config.h"
#include "bench_support.h"
#include "median_collector.h"
#include "protocol/status_reply.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

using lumora::exporter::Exposition;
using lumora::exporter::Unit;
using lumora::exporter::UnitState;

constexpr int kUnits = 1000;
constexpr int kRepetitions = 5;
constexpr qint64 kStartMs = 1'796'637'600'000;
constexpr double kNsPerUs = 1e3;
constexpr double kNsPerMs = 1e6;
constexpr double kBytesPerMiB = 1024.0 * 1024.0;
// Most polls change no value: 1,000 units a second may spend 2 % of a core
// on their lines. A poll that changes every value is a figure for the record.
constexpr double kUpdateTargetUs = 20;
// Half of the 50 ms a scrape may take, the rest left to the HTTP side.
constexpr double kTextTargetMs = 25;
constexpr double kMemoryTargetMiB = 6;
// A remembered password may cost the scrape no more than a fortieth of its
// text at 1,000 units.
constexpr double kRememberedTargetUs = 10;
// "scrape-me" at cost 10, as htpasswd -B makes it.
constexpr auto kHash = "$2y$10$7BDzC1/ezvVSlAOrVMj.M.THR.cb/bP5TANvL5LsL6mqYEokXdk9y";

QList<Unit> someUnits() {
    QList<Unit> units;
    for (int i = 0; i < kUnits; ++i)
        units << Unit{QStringLiteral("127.0.0.1:%1").arg(40000 + i), QStringLiteral("127.0.0.1"),
                      quint16(40000 + i)};
    return units;
}

// A unit's state after `polls` polls: inputs toggling, counters and gaps
// moving, durations spread over the buckets, as the emulator's units give.
UnitState stateAfter(int unit, int polls) {
    UnitState state;
    state.up = true;
    state.reply = QByteArray(lumora::protocol::kStatusReplySize, '\0');
    for (int k = 0; k < lumora::protocol::kInputCount; ++k)
        state.reply[k] = char((unit + k + polls) % 3);
    for (int i = lumora::protocol::kCounterOffset; i < lumora::protocol::kOutputOffset; ++i)
        state.reply[i] = char((i * 37 + unit + polls) & 0xFF);
    for (int k = 0; k < lumora::protocol::kOutputCount; ++k)
        state.reply[lumora::protocol::kOutputOffset + k] = char((unit + k + polls) % 2);
    state.lastReplyMs = kStartMs + qint64(polls) * 1000;
    state.replies = std::uint64_t(polls);
    state.failures[0] = std::uint64_t(unit % 3);
    for (int p = 0; p < polls % 50 + 1; ++p)
        state.durations.add(0.0004 * (p % 7 + 1) * (unit % 5 + 1));
    return state;
}

// Every unit stands as after some polls; the states each benchmark
// alternates between are made before it starts timing.
std::unique_ptr<Exposition> filledExposition() {
    auto exposition = std::make_unique<Exposition>(someUnits());
    for (int unit = 0; unit < kUnits; ++unit)
        exposition->update(unit, stateAfter(unit, 1));
    return exposition;
}

// Each unit in turn, each time with the other of its two states, so every
// update changes what the unit's lines say.
void updateInTurn(benchmark::State& state, Exposition& exposition,
                  const std::vector<std::array<UnitState, 2>>& states) {
    int unit = 0;
    int round = 0;
    for (auto _ : state) {
        exposition.update(unit, states[std::size_t(unit)][std::size_t(round)]);
        if (++unit == kUnits) {
            unit = 0;
            round ^= 1;
        }
    }
}

void BM_UpdateEverythingChanged(benchmark::State& state) {
    const auto exposition = filledExposition();
    std::vector<std::array<UnitState, 2>> states;
    states.reserve(kUnits);
    for (int unit = 0; unit < kUnits; ++unit)
        states.push_back({stateAfter(unit, 2), stateAfter(unit, 1)});
    updateInTurn(state, *exposition, states);
}

void BM_UpdateSameValues(benchmark::State& state) {
    const auto exposition = filledExposition();
    std::vector<std::array<UnitState, 2>> states;
    states.reserve(kUnits);
    for (int unit = 0; unit < kUnits; ++unit) {
        UnitState next = stateAfter(unit, 1);
        ++next.replies;
        next.lastReplyMs += 1000;
        next.durations.add(0.002);
        states.push_back({next, stateAfter(unit, 1)});
    }
    updateInTurn(state, *exposition, states);
}

void BM_Text(benchmark::State& state) {
    const auto exposition = filledExposition();
    for (auto _ : state)
        benchmark::DoNotOptimize(exposition->text());
    state.counters["bytes"] = double(exposition->text().size());
}

// authorization: always the same header, as a scraper sends it.
void checkPassword(benchmark::State& state, const QByteArray& authorization, bool right) {
    lumora::exporter::Passwords passwords({{"prometheus", kHash}});
    bool allowed = false;
    for (auto _ : state)
        allowed = passwords.allows(authorization);
    if (allowed != right)
        state.SkipWithError("the check went wrong");
}

void BM_PasswordRemembered(benchmark::State& state) {
    checkPassword(state, "Basic " + QByteArray("prometheus:scrape-me").toBase64(), true);
}

// Never remembered, so each check runs bcrypt.
void BM_PasswordWrong(benchmark::State& state) {
    checkPassword(state, "Basic " + QByteArray("prometheus:scrape-you").toBase64(), false);
}

BENCHMARK(BM_PasswordRemembered)->Repetitions(kRepetitions);
BENCHMARK(BM_PasswordWrong)->Repetitions(kRepetitions);
BENCHMARK(BM_UpdateEverythingChanged)->Repetitions(kRepetitions);
BENCHMARK(BM_UpdateSameValues)->Repetitions(kRepetitions);
BENCHMARK(BM_Text)->Repetitions(kRepetitions);

QString ratioText(double ratio) {
    return QStringLiteral("%1x").arg(ratio, 0, 'f', 2);
}

void printAgainstTarget(const QString& figure, double measured, double target, const QString& unit) {
    if (measured <= 0) {
        bench::printRow({figure, QStringLiteral("missing"), {}, {}, {}, bench::metText(false)});
        return;
    }
    bench::printRow({figure,
                     QStringLiteral("%1 %2").arg(measured, 0, 'f', 2).arg(unit),
                     {},
                     ratioText(measured / target),
                     QStringLiteral("<= %1 %2").arg(target).arg(unit),
                     bench::metText(measured <= target)});
}

} // namespace

int main(int argc, char** argv) {
    // Measured first, before the benchmarks' own allocations come and go.
    const qint64 before = bench::residentBytes();
    auto exposition = filledExposition();
    const qint64 filled = bench::residentBytes();
    const QByteArray text = exposition->text();
    const double heldMiB = double(filled - before) / kBytesPerMiB;
    const double textMiB = double(text.size()) / kBytesPerMiB;
    exposition.reset();

    bench::MedianCollector results;
    if (!bench::runBenchmarks(argc, argv, results))
        return 1;
    const auto median = [&results](const char* name) { return results.median(name); };
    const double everything = median("BM_UpdateEverythingChanged") / kNsPerUs;
    bench::printRow(
        {QStringLiteral("exposition update() of a unit, every value changed"),
         everything > 0 ? QStringLiteral("%1 us").arg(everything, 0, 'f', 2) : QStringLiteral("missing"),
         {},
         {},
         {},
         everything > 0 ? QStringLiteral("-") : bench::metText(false)});
    printAgainstTarget(QStringLiteral("exposition update() of a unit, a poll with the same values"),
                       median("BM_UpdateSameValues") / kNsPerUs, kUpdateTargetUs, QStringLiteral("us"));
    printAgainstTarget(QStringLiteral("exposition text() of 1,000 units (%1 MiB)").arg(textMiB, 0, 'f', 1),
                       median("BM_Text") / kNsPerMs, kTextTargetMs, QStringLiteral("ms"));
    printAgainstTarget(
        QStringLiteral("exposition resident memory, 1,000 units' lines (a scrape's text adds its size)"),
        heldMiB, kMemoryTargetMiB, QStringLiteral("MiB"));
    const double remembered = median("BM_PasswordRemembered") / kNsPerUs;
    const double bcrypt = median("BM_PasswordWrong") / kNsPerMs;
    bench::printRow({QStringLiteral("scrape's password check, remembered (vs bcrypt at cost 10)"),
                     QStringLiteral("%1 us").arg(remembered, 0, 'f', 2), QStringLiteral("%1 ms").arg(bcrypt, 0, 'f', 1),
                     remembered > 0 ? QStringLiteral("1/%1").arg(qRound64(bcrypt * kNsPerUs / remembered))
                                    : QString(),
                     QStringLiteral("<= %1 us").arg(kRememberedTargetUs),
                     bench::metText(remembered > 0 && bcrypt > 0 && remembered <= kRememberedTargetUs)});
    return 0;
}
