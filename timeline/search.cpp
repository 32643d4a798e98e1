// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/search.h"

#include <algorithm>
#include <array>
#include <bit>

namespace lumora::timeline {

namespace {

// The sizes whose summaries the store keeps, largest first.
constexpr std::array<qsizetype, 3> kUnits{ReplyStore::kChunkReplies, ReplyStore::kBlockReplies,
                                          ReplyStore::kGroupReplies};

template <typename Visit> void forEachLane(LaneSet lanes, Visit&& visit) {
    for (lanes &= kEveryLane; lanes != 0; lanes &= lanes - 1)
        visit(std::countr_zero(lanes));
}

// Whether every reply a summary covers shows what `held` shows on the
// lanes. A stretch that holds one value may still differ from the reply
// before it, so the value itself is compared, not only that it is one.
bool allAs(const Summary& s, const Sample& held, LaneSet lanes) {
    bool same = true;
    forEachLane(lanes, [&](int lane) {
        if (lane < kFirstCounterLane) {
            same = same && s.levelsSeen[std::size_t(lane)] == 1U << unsigned(held.lane(lane));
            return;
        }
        const bool counter = lane < kFirstGapLane;
        const auto k = std::size_t(counter ? lane - kFirstCounterLane : lane - kFirstGapLane);
        const std::uint32_t value = counter ? held.counters[k] : held.gaps[k];
        same = same && (counter ? s.counterMin[k] == value && s.counterMax[k] == value
                                : s.gapMin[k] == value && s.gapMax[k] == value);
    });
    return same;
}

} // namespace

bool sameOn(const Sample& a, const Sample& b, LaneSet lanes) {
    bool same = true;
    forEachLane(lanes, [&](int lane) {
        if (lane < kFirstCounterLane)
            same = same && a.lane(lane) == b.lane(lane);
        else if (lane < kFirstGapLane)
            same = same && a.counters[std::size_t(lane - kFirstCounterLane)] ==
                               b.counters[std::size_t(lane - kFirstCounterLane)];
        else
            same = same &&
                   a.gaps[std::size_t(lane - kFirstGapLane)] == b.gaps[std::size_t(lane - kFirstGapLane)];
    });
    return same;
}

qsizetype firstDiffering(const ReplyStore& store, IndexRange range, const Sample& held, LaneSet lanes) {
    constexpr qsizetype kGroup = ReplyStore::kGroupReplies;
    const qsizetype to = std::min(range.to, store.size());
    qsizetype i = std::max<qsizetype>(range.from, 0);
    // The first reply alone: a search that stops often, as a Find over a
    // busy lane does, stops there. Then the rest of its group by one summary,
    // whole chunks, blocks and groups passed over when their summaries show
    // only the held value, a size down where they do not, and a group that
    // differs reply by reply.
    if (i < to) {
        if (!sameOn(store.at(i), held, lanes))
            return i;
        const qsizetype end = std::min(to, (i / kGroup + 1) * kGroup);
        ++i;
        if (i < end && allAs(store.summarize({i, end}), held, lanes))
            i = end;
    }
    std::size_t unit = 0;
    while (i < to) {
        if (i % kGroup != 0 || unit == kUnits.size() || i + kGroup > to) {
            if (!sameOn(store.at(i), held, lanes))
                return i;
            unit = ++i % kGroup == 0 ? 0 : unit;
            continue;
        }
        const qsizetype size = kUnits[unit];
        if (i % size == 0 && i + size <= to && allAs(store.summarize({i, i + size}), held, lanes)) {
            i += size;
            unit = 0;
        } else {
            ++unit;
        }
    }
    return to;
}

qsizetype nextChange(const ReplyStore& store, qsizetype index, LaneSet lanes) {
    const qsizetype from = std::max<qsizetype>(index + 1, 1);
    if (from >= store.size() || (lanes & kEveryLane) == 0)
        return -1;
    const qsizetype found = firstDiffering(store, {from, store.size()}, store.at(from - 1), lanes);
    return found < store.size() ? found : -1;
}

qsizetype previousChange(const ReplyStore& store, qsizetype index, LaneSet lanes) {
    constexpr qsizetype kGroup = ReplyStore::kGroupReplies;
    // Reply p holds what the replies after it up to index - 1 hold: a change
    // is looked for at or before p, the same way as forward, mirrored: when
    // all of [p - size, p) shows what p shows, nothing changes at
    // p - size + 1 .. p.
    qsizetype p = std::min(index, store.size()) - 1;
    if (p < 1 || (lanes & kEveryLane) == 0)
        return -1;
    const Sample held = store.at(p);
    std::size_t unit = 0;
    while (p > 0) {
        if (p % kGroup != 0 || unit == kUnits.size()) {
            if (!sameOn(store.at(p - 1), held, lanes))
                return p;
            unit = --p % kGroup == 0 ? 0 : unit;
            continue;
        }
        const qsizetype size = kUnits[unit];
        if (p % size == 0 && allAs(store.summarize({p - size, p}), held, lanes)) {
            p -= size;
            unit = 0;
        } else {
            ++unit;
        }
    }
    return -1;
}

} // namespace lumora::timeline
