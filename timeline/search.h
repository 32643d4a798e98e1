// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace lumora::timeline {

// Bits 0..15: DI00..DI11, DO01..DO04 (the Sample's lanes, in drawing order); 16..27: CNT01..CNT12;
// 28..39: GAP01..GAP12.
using LaneSet = std::uint64_t;
inline constexpr int kAllLaneCount = kLaneCount + 2 * kChannelCount; // 40
inline constexpr LaneSet kEveryLane = (LaneSet{1} << kAllLaneCount) - 1;

// "DI00".."DO04", "CNT01".."CNT12", "GAP01".."GAP12".
[[nodiscard]] QString anyLaneName(int lane);
// Case-insensitive; nullopt for a name no lane has.
[[nodiscard]] std::optional<int> anyLaneByName(QStringView name);

// Whether two replies show the same on every lane of the set.
[[nodiscard]] bool sameOn(const Sample& a, const Sample& b, LaneSet lanes);

// The first index after `index`, in store order, whose reply differs from the one before it on
// one of the lanes; -1 when none. Whole groups, blocks and chunks that show nothing but the value
// held before them are passed over by their summaries.
[[nodiscard]] qsizetype nextChange(const ReplyStore& store, qsizetype index, LaneSet lanes);
// The last index before `index` whose reply differs from the one before it on one of the lanes;
// -1 when none.
[[nodiscard]] qsizetype previousChange(const ReplyStore& store, qsizetype index, LaneSet lanes);
// The first index in [range.from, range.to) whose reply differs from `held` on one of the lanes;
// range.to when none.
[[nodiscard]] qsizetype firstDiffering(const ReplyStore& store, IndexRange range, const Sample& held,
                                       LaneSet lanes);
// Lanes that differ somewhere in [from, to).
[[nodiscard]] LaneSet lanesThatChange(const ReplyStore& store, IndexRange range);

} // namespace lumora::timeline
