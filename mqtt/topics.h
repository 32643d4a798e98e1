// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <optional>

namespace lumora::mqtt {

// A unit's topics below P/NAME/, in one fixed order: "status", "input/00".."input/11",
// "output/01".."output/04", "counter/01".."counter/12", "gap/01".."gap/12". A
// front keeps the last value it published for each, so that a change costs a
// comparison per topic and only what changed goes out.
inline constexpr int kStatusSlot = 0;
inline constexpr int kFirstInputSlot = 1;
inline constexpr int kFirstOutputSlot = kFirstInputSlot + 12;
inline constexpr int kFirstCounterSlot = kFirstOutputSlot + 4;
inline constexpr int kFirstGapSlot = kFirstCounterSlot + 12;
inline constexpr int kSlotsPerUnit = kFirstGapSlot + 12;

// Nothing to publish: a state number no box shows, or no reply yet.
inline constexpr std::int64_t kNoValue = -1;
using UnitValues = std::array<std::int64_t, kSlotsPerUnit>;

// The values a unit's topics carry: status 1 while `up`, else 0; the others
// from `reply` (kStatusReplySize bytes, or empty before the first good one).
// A unit that went down keeps its last reply, so its values stay as they were.
[[nodiscard]] UnitValues unitValues(bool up, QByteArrayView reply);

// "status", "input/07", "gap/12".
[[nodiscard]] QByteArray slotTopic(int slot);
// "online"/"offline", "0".."2", the decimal count, the gap in seconds with
// three decimals ("12.030").
[[nodiscard]] QByteArray slotPayload(int slot, std::int64_t value);

// P/NAME/output/NN/set, split. `output` is 1..4, or none for any other NN.
struct SetTopic {
    QByteArray unitName;
    std::optional<int> output;
};
// None unless `topic` is `prefix` followed by /NAME/output/NN/set.
[[nodiscard]] std::optional<SetTopic> setTopic(QByteArrayView prefix, QByteArrayView topic);
// The value a set asks for: exactly "0" or "1", nothing else.
[[nodiscard]] std::optional<bool> setValue(QByteArrayView payload);

} // namespace lumora::mqtt
