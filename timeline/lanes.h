// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace lumora::timeline {

// Every lane the signals show, as one set of bits. Bits 0..15: DI00..DI11,
// DO01..DO04 (the Sample's lanes, in drawing order); 16..27: CNT01..CNT12;
// 28..39: GAP01..GAP12. The edge search keeps the same set of lanes: the two
// are one type, whichever header holds it.
using LaneSet = std::uint64_t;
inline constexpr int kAllLaneCount = kLaneCount + 2 * kChannelCount; // 40
inline constexpr LaneSet kEveryLane = (LaneSet{1} << kAllLaneCount) - 1;
inline constexpr int kFirstCounterLane = kLaneCount;
inline constexpr int kFirstGapLane = kLaneCount + kChannelCount;

// "DI00".."DO04", "CNT01".."GAP12".
[[nodiscard]] QString anyLaneName(int lane);
// Case-insensitive; nullopt for a name no lane has.
[[nodiscard]] std::optional<int> anyLaneByName(QStringView name);

// Lanes that differ somewhere in [from, to): a level, counter or time gap
// that takes more than one value. From the store's summaries, so a day of
// replies costs a few merges a chunk.
[[nodiscard]] LaneSet lanesThatChange(const ReplyStore& store, IndexRange range);

} // namespace lumora::timeline
