// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/lanes.h"
#include "timeline/reply_store.h"


namespace lumora::timeline {

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
} // namespace lumora::timeline
