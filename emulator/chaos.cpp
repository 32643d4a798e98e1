// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/chaos.h"

#include "emulator/unit_simulation.h"

namespace lumora::emulator {

namespace {

// Out of every thousand requests: 30 split, 30 of a wrong length, 20 left
// unanswered, 20 closed, so about one in ten misbehaves.
constexpr std::uint64_t kRollRange = 1000;
constexpr std::uint64_t kSplitBelow = 30;
constexpr std::uint64_t kWrongLengthBelow = 60;
constexpr std::uint64_t kNoReplyBelow = 80;
constexpr std::uint64_t kCloseBelow = 100;

// Wrong lengths range over up to two replies' worth, so a client also sees
// two replies glued together and everything short of one.
constexpr std::uint64_t kLongestWrongLength = 2 * kStatusReplySize;

constexpr int kAmountShift = 16;

} // namespace

ChaosAction ChaosPlanner::next() {
    const std::uint64_t draw = mix64(state_++);
    const std::uint64_t roll = draw % kRollRange;
    const std::uint64_t spare = draw >> kAmountShift;
    if (roll < kSplitBelow) {
        // 1..111: both parts hold at least one byte.
        return {ChaosKind::Split, static_cast<int>(1 + spare % (kStatusReplySize - 1))};
    }
    if (roll < kWrongLengthBelow) {
        auto length = static_cast<int>(1 + spare % (kLongestWrongLength - 1));
        if (length >= kStatusReplySize) {
            ++length;
        }
        return {ChaosKind::WrongLength, length};
    }
    if (roll < kNoReplyBelow) {
        return {ChaosKind::NoReply, 0};
    }
    if (roll < kCloseBelow) {
        return {ChaosKind::Close, 0};
    }
    return {};
}

} // namespace lumora::emulator
