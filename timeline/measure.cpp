// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/measure.h"

#include "timeline/reply_store.h"

#include <algorithm>
#include <bit>

namespace lumora::timeline {

namespace {

// A counter that goes down by less than half its range has passed 2^32; by
// more, it was set back to 0 and has counted its value since.
struct CounterStep {
    qint64 counted = 0;
    bool wrap = false;
    bool reset = false;
};

CounterStep counterStep(std::uint32_t before, std::uint32_t after) {
    if (after >= before)
        return {after - before, false, false};
    const std::uint32_t forward = after - before;
    if (forward < 0x80000000U)
        return {forward, true, false};
    return {after, false, true};
}

// Where time stepped back between two moments, what lies between them is
// no length at all: it is left out rather than counted as negative.
void addPeriod(LaneMeasure& m, qint64 ms) {
    if (ms < 0)
        return;
    m.periodMinMs = std::min(m.periodMinMs, ms);
    m.periodMaxMs = std::max(m.periodMaxMs, ms);
    m.periodSumMs += ms;
    ++m.periods;
}

void addWidth(LaneMeasure& m, qint64 ms) {
    if (ms < 0)
        return;
    m.widthMinMs = std::min(m.widthMinMs, ms);
    m.widthMaxMs = std::max(m.widthMaxMs, ms);
}

void addHeld(LaneMeasure& m, Level level, qint64 ms) {
    if (level == Level::High)
        m.highMs += ms;
    else if (level != Level::Low)
        m.otherMs += ms;
}

// Lane m (this run, ending at level x) meets r (the next, starting at level y
// at moment t).
inline void mergeLane(LaneMeasure& m, const LaneMeasure& r, Level startedAt, Level x, Level y, qint64 t) {
    const bool rise = x == Level::Low && y == Level::High;
    const bool fall = x == Level::High && y == Level::Low;
    const auto addRise = [&m](qint64 at) {
        if (m.lastRiseMs != kNoMs)
            addPeriod(m, at - m.lastRiseMs);
        else
            m.firstRiseMs = at;
        m.lastRiseMs = at;
    };
    if (rise)
        addRise(t);
    if (r.firstRiseMs != kNoMs) {
        addRise(r.firstRiseMs);
        m.lastRiseMs = r.lastRiseMs;
    }
    m.rising += r.rising + (rise ? 1 : 0);
    m.falling += r.falling + (fall ? 1 : 0);
    m.highMs += r.highMs;
    m.otherMs += r.otherMs;
    if (r.periods != 0) {
        m.periodMinMs = std::min(m.periodMinMs, r.periodMinMs);
        m.periodMaxMs = std::max(m.periodMaxMs, r.periodMaxMs);
        m.periodSumMs += r.periodSumMs;
        m.periods += r.periods;
    }
    if (r.widthMinMs != LaneMeasure{}.widthMinMs) {
        addWidth(m, r.widthMinMs);
        addWidth(m, r.widthMaxMs);
    }

    // A high run that spans the meeting: from the rise this run saw (or the
    // one at the meeting) to the first fall in the next.
    const qint64 open = x == Level::High ? m.openRiseMs : rise ? t : kNoMs;
    const bool laterAllHigh = y == Level::High && r.leadEndMs == kNoMs;
    qint64 fallAt = kNoMs;
    if (fall)
        fallAt = t;
    else if (y == Level::High && r.leadEndMs != kNoMs && r.leadEnd == Level::Low)
        fallAt = r.leadEndMs;
    if (open != kNoMs && fallAt != kNoMs)
        addWidth(m, fallAt - open);
    m.openRiseMs = laterAllHigh ? open : r.openRiseMs;

    if (startedAt == Level::High && m.leadEndMs == kNoMs) {
        m.leadEndMs = y == Level::High ? r.leadEndMs : t;
        m.leadEnd = y == Level::High ? r.leadEnd : y;
    }
}

} // namespace

Measure Measure::of(const Sample& sample, bool counted) {
    Measure m;
    m.any = true;
    m.first = m.last = sample;
    if (!counted)
        return m;
    m.replies = 1;
    for (std::size_t k = 0; k < std::size_t(kChannelCount); ++k)
        m.gaps[k] = {sample.gaps[k], sample.gaps[k], sample.gaps[k]};
    return m;
}

// A run of one reply's lanes: no edge, nothing held, nothing open. Known
// at compile time, so that appending a reply folds the rules down to it.
constexpr LaneMeasure kOneReplyLane{};

template <bool kOneReply>
Measure::Meeting Measure::meet(const Sample& next, const std::array<LaneMeasure, kLaneCount>& later) {
    const qint64 t = next.ms;
    // Where time stepped back, nothing was held in between.
    const qint64 held = std::max<qint64>(0, t - last.ms);
    if constexpr (kOneReply) {
        // A reply is appended millions of times while a day loads: only the
        // lanes not low hold anything, and only those whose level changed
        // meet; one that keeps its level has no edge, and a high run or a
        // run that started high stays as open as it was.
        constexpr std::uint32_t kLowBits = 0x55555555U;
        for (std::uint32_t m = (last.lanes | last.lanes >> 1) & kLowBits; m != 0; m &= m - 1) {
            const int k = std::countr_zero(m) / 2;
            addHeld(lanes[std::size_t(k)], last.lane(k), held);
        }
        const std::uint32_t changed = last.lanes ^ next.lanes;
        for (std::uint32_t m = (changed | changed >> 1) & kLowBits; m != 0; m &= m - 1) {
            const int k = std::countr_zero(m) / 2;
            mergeLane(lanes[std::size_t(k)], kOneReplyLane, first.lane(k), last.lane(k), next.lane(k), t);
        }
    } else {
        for (int k = 0; k < kLaneCount; ++k) {
            LaneMeasure& m = lanes[std::size_t(k)];
            addHeld(m, last.lane(k), held);
            mergeLane(m, later[std::size_t(k)], first.lane(k), last.lane(k), next.lane(k), t);
        }
    }

    Meeting at;
    for (std::size_t k = 0; k < std::size_t(kChannelCount); ++k) {
        CounterMeasure& c = counters[k];
        const std::uint32_t u = last.counters[k];
        const std::uint32_t v = next.counters[k];
        const bool rise = last.lane(int(k)) == Level::Low && next.lane(int(k)) == Level::High;
        at.stillBefore[k] = c.still;
        if (u == v && !rise) {
            // Nothing counted and nothing rose: a stretch of missed pulses ends.
            at.missedAt[k] = c.openMissed = -1;
            at.moved[k] = false;
            c.allMissed = false;
            continue;
        }
        const CounterStep step = counterStep(u, v);
        const qint64 edges = rise ? 1 : 0;
        c.pulses += step.counted;
        c.wraps += step.wrap ? 1 : 0;
        c.resets += step.reset ? 1 : 0;
        const bool missed = step.counted > edges;
        qsizetype missedAt = -1;
        if (missed) {
            c.missed += step.counted - edges;
            if (c.openMissed >= 0) {
                missedAt = c.openMissed;
                Finding& f = findings[std::size_t(missedAt)];
                f.toMs = t;
                f.counted += step.counted;
                f.edges += edges;
            } else {
                missedAt = qsizetype(findings.size());
                findings.push_back({Finding::Kind::MissedPulses, int(k), last.ms, t, step.counted, edges});
            }
            if (c.allMissed && c.leadMissed < 0)
                c.leadMissed = missedAt;
        }
        c.openMissed = missedAt;
        c.allMissed = c.allMissed && missed;
        at.missedAt[k] = missedAt;

        const bool moved = u != v;
        at.moved[k] = moved;
        if (moved)
            c.openStuck = -1;
        if (rise && !moved) {
            if (c.openStuck >= 0) {
                findings[std::size_t(c.openStuck)].toMs = t;
                ++findings[std::size_t(c.openStuck)].edges;
            } else {
                c.openStuck = qsizetype(findings.size());
                findings.push_back({Finding::Kind::CounterStuck, int(k), last.ms, t, 0, 1});
            }
            if (at.stillBefore[k] && c.leadStuck < 0)
                c.leadStuck = c.openStuck;
        }
        c.still = c.still && !moved;
    }
    return at;
}

void Measure::append(const Sample& next) {
    if (!any) {
        *this = of(next);
        return;
    }
    static_cast<void>(meet<true>(next, lanes));
    // Field by field: a wide load of what the last reply stored narrowly
    // stalls.
    for (std::size_t k = 0; k < std::size_t(kChannelCount); ++k)
        gaps[k].sum += next.gaps[k];
    // The gaps change at rises only; a counted last reply's are within min
    // and max already.
    if (replies == 0 || next.gaps != last.gaps) {
        for (std::size_t k = 0; k < std::size_t(kChannelCount); ++k) {
            GapMeasure& g = gaps[k];
            if (next.gaps[k] < g.min)
                g.min = next.gaps[k];
            if (next.gaps[k] > g.max)
                g.max = next.gaps[k];
        }
    }
    ++replies;
    last = next;
}

void Measure::merge(const Measure& later) {
    if (!later.any)
        return;
    if (!any) {
        *this = later;
        return;
    }
    const Meeting at = meet<false>(later.first, later.lanes);

    // The later run's findings follow, a stretch on either side of the
    // meeting joined into one.
    std::vector<qsizetype> joinedInto(later.findings.size(), -1);
    const auto join = [&](qsizetype into, qsizetype from) {
        Finding& f = findings[std::size_t(into)];
        const Finding& g = later.findings[std::size_t(from)];
        f.toMs = g.toMs;
        f.counted += g.counted;
        f.edges += g.edges;
        joinedInto[std::size_t(from)] = into;
    };
    for (std::size_t k = 0; k < std::size_t(kChannelCount); ++k) {
        CounterMeasure& c = counters[k];
        const CounterMeasure& r = later.counters[k];
        c.pulses += r.pulses;
        c.wraps += r.wraps;
        c.resets += r.resets;
        c.missed += r.missed;
        if (at.missedAt[k] >= 0 && r.leadMissed >= 0)
            join(at.missedAt[k], r.leadMissed);
        if (!at.moved[k] && c.openStuck >= 0 && r.leadStuck >= 0)
            join(c.openStuck, r.leadStuck);
        c.still = c.still && r.still;
    }
    std::vector<qsizetype> placed(later.findings.size(), -1);
    for (std::size_t i = 0; i < later.findings.size(); ++i) {
        if (joinedInto[i] >= 0) {
            placed[i] = joinedInto[i];
            continue;
        }
        placed[i] = qsizetype(findings.size());
        findings.push_back(later.findings[i]);
    }
    for (std::size_t k = 0; k < std::size_t(kChannelCount); ++k) {
        CounterMeasure& c = counters[k];
        const CounterMeasure& r = later.counters[k];
        if (r.openStuck >= 0)
            c.openStuck = placed[std::size_t(r.openStuck)];
        else if (at.moved[k] || !r.still)
            c.openStuck = -1;
        if (c.leadStuck < 0 && at.stillBefore[k] && !at.moved[k] && r.leadStuck >= 0)
            c.leadStuck = placed[std::size_t(r.leadStuck)];
        // A later run with no pair of replies leaves the meeting's stretch open.
        if (r.openMissed >= 0)
            c.openMissed = placed[std::size_t(r.openMissed)];
        else if (!r.allMissed)
            c.openMissed = -1;
        c.allMissed = c.allMissed && r.allMissed;
    }

    for (std::size_t k = 0; k < std::size_t(kChannelCount); ++k) {
        GapMeasure& g = gaps[k];
        const GapMeasure& r = later.gaps[k];
        g.min = std::min(g.min, r.min);
        g.max = std::max(g.max, r.max);
        g.sum += r.sum;
    }
    replies += later.replies;
    last = later.last;
}

void Measure::holdUntil(qint64 ms) {
    if (!any || ms <= last.ms)
        return;
    for (int k = 0; k < kLaneCount; ++k)
        addHeld(lanes[std::size_t(k)], last.lane(k), ms - last.ms);
    last.ms = ms;
}

Measure MeasureCache::measure(const ReplyStore& store, qint64 fromMs, qint64 toMs) const {
    return timeline::measure(store, fromMs, toMs);
}

Measure measure(const ReplyStore& store, qint64 fromMs, qint64 toMs) {
    Measure m;
    if (toMs <= fromMs)
        return m;
    // What was shown when the span opens is held from its first moment.
    if (const qsizetype shown = store.indexAt(fromMs - 1); shown >= 0) {
        Sample held = store.at(shown);
        held.ms = fromMs;
        m = Measure::of(held, false);
    }
    constexpr qsizetype kChunk = ReplyStore::kChunkReplies;
    for (const IndexRange& range : store.rangesIn(fromMs, toMs)) {
        for (qsizetype i = range.from; i < range.to;) {
            if (i % kChunk == 0 && i + kChunk <= range.to) {
                if (const Measure* chunk = store.chunkMeasure(i)) {
                    m.merge(*chunk);
                    i += kChunk;
                    continue;
                }
            }
            const qsizetype end = std::min(range.to, (i / kChunk + 1) * kChunk);
            for (; i < end; ++i)
                m.append(store.at(i));
        }
    }
    m.holdUntil(toMs);
    return m;
}

} // namespace lumora::timeline
