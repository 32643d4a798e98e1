// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

namespace lumora::emulator {

inline constexpr int kInputCount = 12;
inline constexpr int kOutputCount = 4;
inline constexpr qsizetype kStatusReplySize = 112;
inline constexpr qsizetype kCounterOffset = 12;
inline constexpr qsizetype kTimeGapOffset = 60;
inline constexpr qsizetype kOutputOffset = 108;

// Toggle intervals of the simulated inputs stay inside what the real unit's
// inputs see on a test bench: fast enough to watch counters move, slow enough
// that every edge is visible at a one-second repeat interval.
inline constexpr std::int64_t kMinToggleIntervalMs = 50;
inline constexpr std::int64_t kMaxToggleIntervalMs = 2000;

inline constexpr std::uint64_t kDefaultSeed = 7150;

// splitmix64: a cheap, well-mixed hash, identical on every platform and
// compiler, unlike the standard library's distributions.
std::uint64_t mix64(std::uint64_t value);

// One input's level over time. Everything it reports is a function of the
// seed, the channel and the elapsed time alone; the cursor only caches the
// walk so that a clock moving forward costs a few steps per query.
class InputTrack {
public:
    struct State {
        bool level = false;
        std::uint64_t risingEdges = 0;
        std::uint32_t timeGapMs = 0; // between the last two rising edges, 0 until two
    };

    InputTrack(std::uint64_t seed, int channel);

    State at(std::int64_t elapsedMs);

    // The time until the input toggles for the index-th time after the
    // previous toggle (index 0: after start).
    std::int64_t interval(std::uint64_t index) const;

private:
    void rewind();

    std::uint64_t key_ = 0;
    std::int64_t basePeriodMs_ = kMinToggleIntervalMs;
    bool initialLevel_ = false;

    std::int64_t cursorMs_ = 0;
    std::uint64_t toggles_ = 0;
    std::int64_t nextToggleMs_ = 0;
    bool level_ = false;
    std::uint64_t risingEdges_ = 0;
    std::int64_t lastRiseMs_ = -1;
    std::int64_t previousRiseMs_ = -1;
};

// The whole unit: twelve seeded inputs with counters and time gaps, and four
// outputs that hold whatever bytes the last output setting carried.
class UnitSimulation {
public:
    using Outputs = std::array<std::uint8_t, kOutputCount>;

    explicit UnitSimulation(std::uint64_t seed);

    QByteArray statusReply(std::int64_t elapsedMs);
    void setOutputs(const Outputs& outputs) { outputs_ = outputs; }
    // Counters restart from zero; time gaps keep their history, as they
    // describe the signal rather than the count.
    void resetCounters(std::int64_t elapsedMs);

private:
    std::vector<InputTrack> tracks_;
    std::array<std::uint64_t, kInputCount> counterBase_{};
    Outputs outputs_{};
};

} // namespace lumora::emulator
