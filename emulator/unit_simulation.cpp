// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/unit_simulation.h"

#include <algorithm>
#include <limits>

namespace lumora::emulator {

namespace {

// Each input gets its own base period in this range; single intervals then
// wander by up to 15 % around it.
constexpr std::int64_t kBasePeriodMinMs = 60;
constexpr std::int64_t kBasePeriodSpanMs = 1680;
constexpr std::int64_t kJitterMinPercent = 85;
constexpr std::int64_t kJitterSpanPercent = 31;
constexpr std::int64_t kPercent = 100;

constexpr std::uint64_t kChannelSalt = 0x5851F42D4C957F2DULL;
constexpr std::uint64_t kIndexSalt = 0x2545F4914F6CDD1DULL;
constexpr std::uint64_t kLevelSalt = 0x9E3779B97F4A7C15ULL;

void putLittleEndian32(QByteArray& bytes, qsizetype offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFFU);
    }
}

std::uint32_t saturate32(std::uint64_t value) {
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

} // namespace

std::uint64_t mix64(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

InputTrack::InputTrack(std::uint64_t seed, int channel)
    : key_(mix64(seed ^ (kChannelSalt * static_cast<std::uint64_t>(channel + 1))))
    , basePeriodMs_(kBasePeriodMinMs + static_cast<std::int64_t>(mix64(key_) % kBasePeriodSpanMs))
    , initialLevel_((mix64(key_ ^ kLevelSalt) & 1U) != 0) {
    rewind();
}

std::int64_t InputTrack::interval(std::uint64_t index) const {
    const std::uint64_t hash = mix64(key_ ^ (kIndexSalt * (index + 1)));
    const std::int64_t percent = kJitterMinPercent + static_cast<std::int64_t>(hash % kJitterSpanPercent);
    return std::clamp(basePeriodMs_ * percent / kPercent, kMinToggleIntervalMs, kMaxToggleIntervalMs);
}

void InputTrack::rewind() {
    cursorMs_ = 0;
    toggles_ = 0;
    nextToggleMs_ = interval(0);
    level_ = initialLevel_;
    risingEdges_ = 0;
    lastRiseMs_ = -1;
    previousRiseMs_ = -1;
}

InputTrack::State InputTrack::at(std::int64_t elapsedMs) {
    elapsedMs = std::max<std::int64_t>(elapsedMs, 0);
    if (elapsedMs < cursorMs_) {
        rewind();
    }
    while (nextToggleMs_ <= elapsedMs) {
        level_ = !level_;
        if (level_) {
            ++risingEdges_;
            previousRiseMs_ = lastRiseMs_;
            lastRiseMs_ = nextToggleMs_;
        }
        ++toggles_;
        nextToggleMs_ += interval(toggles_);
    }
    cursorMs_ = elapsedMs;

    State state;
    state.level = level_;
    state.risingEdges = risingEdges_;
    state.timeGapMs =
        previousRiseMs_ < 0 ? 0U : saturate32(static_cast<std::uint64_t>(lastRiseMs_ - previousRiseMs_));
    return state;
}

UnitSimulation::UnitSimulation(std::uint64_t seed) {
    tracks_.reserve(kInputCount);
    for (int channel = 0; channel < kInputCount; ++channel) {
        tracks_.emplace_back(seed, channel);
    }
}

QByteArray UnitSimulation::statusReply(std::int64_t elapsedMs) {
    QByteArray reply(kStatusReplySize, '\0');
    for (int k = 0; k < kInputCount; ++k) {
        const InputTrack::State state = tracks_[static_cast<std::size_t>(k)].at(elapsedMs);
        const std::uint64_t base = counterBase_[static_cast<std::size_t>(k)];
        const std::uint64_t counted = state.risingEdges >= base ? state.risingEdges - base : 0;
        reply[k] = state.level ? '\1' : '\0';
        // The unit's counter is a 32-bit register and wraps like one.
        putLittleEndian32(reply, kCounterOffset + qsizetype{4} * k, static_cast<std::uint32_t>(counted));
        putLittleEndian32(reply, kTimeGapOffset + qsizetype{4} * k, state.timeGapMs);
    }
    for (int k = 0; k < kOutputCount; ++k) {
        reply[kOutputOffset + k] = static_cast<char>(outputs_[static_cast<std::size_t>(k)]);
    }
    return reply;
}

void UnitSimulation::resetCounters(std::int64_t elapsedMs) {
    for (int k = 0; k < kInputCount; ++k) {
        counterBase_[static_cast<std::size_t>(k)] =
            tracks_[static_cast<std::size_t>(k)].at(elapsedMs).risingEdges;
    }
}

} // namespace lumora::emulator
