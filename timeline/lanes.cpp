// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/lanes.h"

#include "protocol/status_reply.h"

#include <algorithm>
#include <bit>

namespace lumora::timeline {

QString anyLaneName(int lane) {
    if (lane < kFirstCounterLane)
        return laneName(lane);
    if (lane < kFirstGapLane)
        return QStringLiteral("CNT") + protocol::channelText(lane - kFirstCounterLane + 1);
    return QStringLiteral("GAP") + protocol::channelText(lane - kFirstGapLane + 1);
}

std::optional<int> anyLaneByName(QStringView name) {
    for (int lane = 0; lane < kAllLaneCount; ++lane) {
        if (name.compare(anyLaneName(lane), Qt::CaseInsensitive) == 0)
            return lane;
    }
    return std::nullopt;
}

LaneSet lanesThatChange(const ReplyStore& store, IndexRange range) {
    range.to = std::min(range.to, store.size());
    if (range.to <= range.from || range.from < 0)
        return 0;
    const Summary summary = store.summarize(range);
    LaneSet changing = 0;
    for (int k = 0; k < kLaneCount; ++k) {
        if (std::popcount(summary.levelsSeen.at(std::size_t(k))) > 1)
            changing |= LaneSet{1} << k;
    }
    for (int k = 0; k < kChannelCount; ++k) {
        const auto c = std::size_t(k);
        if (summary.counterMin.at(c) != summary.counterMax.at(c) || (summary.counterDrops >> k & 1U) != 0)
            changing |= LaneSet{1} << (kFirstCounterLane + k);
        if (summary.gapMin.at(c) != summary.gapMax.at(c) || (summary.gapDrops >> k & 1U) != 0)
            changing |= LaneSet{1} << (kFirstGapLane + k);
    }
    return changing;
}

} // namespace lumora::timeline
