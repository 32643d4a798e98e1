// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/sample.h"

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace lumora::timeline {

class ReplyStore;

// A moment not known (no rise yet, no run to close).
inline constexpr qint64 kNoMs = std::numeric_limits<qint64>::min();

// Something the counters say that the levels alone do not. Channel is the
// input's number; its counter is channel + 1.
struct Finding {
    enum class Kind : std::uint8_t { MissedPulses, CounterStuck };
    Kind kind = Kind::MissedPulses;
    int channel = 0;
    qint64 fromMs = 0; // the two replies' moments (a stretch: its first and last)
    qint64 toMs = 0;
    qint64 counted = 0;
    qint64 edges = 0;
    friend bool operator==(const Finding&, const Finding&) = default;
};

// One lane between replies: levels held from one reply to the next.
struct LaneMeasure {
    qint64 rising = 0;
    qint64 falling = 0;
    qint64 highMs = 0;
    qint64 otherMs = 0; // held at 2 or at a refused value
    qint64 firstRiseMs = kNoMs;
    qint64 lastRiseMs = kNoMs;
    qint64 periodMinMs = std::numeric_limits<qint64>::max();
    qint64 periodMaxMs = 0;
    qint64 periodSumMs = 0; // over `periods` periods, for their mean
    qint64 periods = 0;
    qint64 widthMinMs = std::numeric_limits<qint64>::max();
    qint64 widthMaxMs = 0;
    // The rise the stretch ends high after, when the stretch saw it.
    qint64 openRiseMs = kNoMs;
    // A stretch that starts high: where it first is not, and at what level.
    qint64 leadEndMs = kNoMs;
    Level leadEnd = Level::Low;
    friend bool operator==(const LaneMeasure&, const LaneMeasure&) = default;
};

struct CounterMeasure {
    qint64 pulses = 0;
    qint64 missed = 0;
    qint64 wraps = 0;
    qint64 resets = 0;
    bool still = true; // never changed within the stretch
    // Indices into the findings: the stuck stretch still open at the end,
    // and the first one when nothing moved the counter before it.
    qsizetype openStuck = -1;
    qsizetype leadStuck = -1;
    // Missed pulses at consecutive pairs of replies are one stretch: the one
    // the last pair is in, the one the first pair is in, and whether every
    // pair so far missed some (so a run of one reply joins both sides).
    qsizetype openMissed = -1;
    qsizetype leadMissed = -1;
    bool allMissed = true;
    friend bool operator==(const CounterMeasure&, const CounterMeasure&) = default;
};

struct GapMeasure {
    std::uint32_t min = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t max = 0;
    qint64 sum = 0; // thousandths of a second, over the replies counted
    friend bool operator==(const GapMeasure&, const GapMeasure&) = default;
};

// What a run of consecutive replies measured, such that two runs, one right
// after the other, merge into the run of both: everything that happens
// between two replies is decided where they meet, in merge().
struct Measure {
    bool any = false;
    qsizetype replies = 0; // a held reply that only sets the start is not counted
    Sample first;
    Sample last;
    std::array<LaneMeasure, kLaneCount> lanes{};
    std::array<CounterMeasure, kChannelCount> counters{};
    std::array<GapMeasure, kChannelCount> gaps{};
    std::vector<Finding> findings;

    // One reply; a held one starts a span with what was shown, not counted.
    [[nodiscard]] static Measure of(const Sample& sample, bool counted = true);
    // Appends the run that came right after this one.
    void merge(const Measure& later);
    // Appends one reply: merge(of(sample)) without building a whole run.
    void append(const Sample& sample);
    // The last reply's levels held up to a moment.
    void holdUntil(qint64 ms);
    friend bool operator==(const Measure&, const Measure&) = default;

private:
    // What happened where this run met the next; merge() joins the next
    // run's stretches by it.
    // Every channel's is set by meet(); left uninitialized, as it is built
    // once a reply.
    struct Meeting {
        std::array<qsizetype, kChannelCount> missedAt;
        std::array<bool, kChannelCount> moved;
        std::array<bool, kChannelCount> stillBefore;
    };
    // Everything between last and next, the later run's lanes given (not
    // read when it is one reply).
    template <bool kOneReply>
    Meeting meet(const Sample& next, const std::array<LaneMeasure, kLaneCount>& later);
};

// Measures spans of one store. What each full chunk measured is folded by
// the store as the chunk fills (while a day loads, or as live replies come),
// so a span costs the replies at its two ends and a merge for each chunk
// between, the first time as any other; a store cleared or dropping chunks
// takes their runs with them.
class MeasureCache {
public:
    // Per-lane and per-channel numbers for [fromMs, toMs), from the level
    // shown at fromMs to toMs. Where time steps back, the stretches are taken
    // in store order.
    [[nodiscard]] Measure measure(const ReplyStore& store, qint64 fromMs, qint64 toMs) const;
    // Kept for the callers that count it: the runs live in the store.
    [[nodiscard]] std::size_t memoryBytes() const { return sizeof(*this); }
};

// The same, without a cache object.
[[nodiscard]] Measure measure(const ReplyStore& store, qint64 fromMs, qint64 toMs);

} // namespace lumora::timeline
