// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/status_reply.h"

#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>

namespace lumora::timeline {

// What a lane shows at a moment: the three states an indicator box has, or a
// state number the window refuses (drawn as a gap, written as z or left empty).
enum class Level : std::uint8_t { Low = 0, High = 1, Third = 2, Refused = 3 };

// The lanes in the order they are drawn and exported: inputs DI00..DI11,
// then outputs DO01..DO04.
inline constexpr int kLaneCount = protocol::kInputCount + protocol::kOutputCount;
inline constexpr int kChannelCount = protocol::kInputCount; // counters and time gaps

// One status reply as the signals over time keep it: its UTC moment and the
// values the window would show, without their text.
struct Sample {
    qint64 ms = 0;           // UTC, milliseconds since the epoch
    std::uint32_t lanes = 0; // two bits a lane, lane k at bits 2k and 2k + 1
    std::array<std::uint32_t, kChannelCount> counters{};
    std::array<std::uint32_t, kChannelCount> gaps{}; // thousandths of a second

    [[nodiscard]] Level lane(int k) const noexcept { return Level((lanes >> (2 * k)) & 3U); }
    void setLane(int k, Level level) noexcept {
        lanes = (lanes & ~(3U << (2 * k))) | (std::uint32_t(level) << (2 * k));
    }
    friend bool operator==(const Sample&, const Sample&) = default;
};

// A reply of exactly protocol::kStatusReplySize bytes, taken at a moment.
[[nodiscard]] Sample sampleOf(qint64 ms, QByteArrayView reply);

// "DI00".."DI11", "DO01".."DO04".
[[nodiscard]] QString laneName(int lane);

} // namespace lumora::timeline
