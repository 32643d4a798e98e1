// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <deque>
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

inline constexpr std::int64_t kDefaultWireDelayMs = 5;
// A square wave needs a high and a low millisecond of the clock in each period.
inline constexpr std::int64_t kMaxPulseMilliHz = 500000;
inline constexpr std::int64_t kMilliHzPerHz = 1000;

// A bench on the desk: outputs wired back to inputs, and square waves from a
// generator. Once anything is wired or pulsed, the seeded pattern is gone:
// the other inputs rest low, as on a bench where nothing else drives them,
// so a check that wants them off can pass.
struct Wiring {
    std::array<std::uint16_t, kOutputCount> drives{};     // bit k set: the output drives input k
    std::int64_t delayMs = kDefaultWireDelayMs;           // from the output setting to the inputs
    int bounce = 0;                                       // extra 1 ms pulses after each wired rise
    std::array<std::int64_t, kInputCount> pulseMilliHz{}; // 0: not pulsed

    // The outputs that drive input k, bit o for output o.
    std::uint8_t driversOf(int input) const;
    bool pulsed(int input) const { return pulseMilliHz[static_cast<std::size_t>(input)] > 0; }
    bool onBench() const;
};

// Rises, and the time between the last two, since the last counter reset.
struct RiseHistory {
    std::uint64_t rises = 0;
    std::int64_t lastMs = -1;
    std::int64_t previousMs = -1;

    void rise(std::int64_t atMs) {
        ++rises;
        previousMs = lastMs;
        lastMs = atMs;
    }
    std::uint32_t gapMs() const;
};

// An input driven by outputs: high while any of its drivers is on (a byte
// other than 00), seen delayMs after the output setting. Each rise from low
// is followed by `bounce` pulses of one millisecond low, one high, all
// counted; the drive going low ends a bounce at once.
struct WiredInput {
    bool drive = false;
    std::int64_t highSinceMs = 0;
    int risesCounted = 0; // of the current high stretch, the wired rise first
    RiseHistory history;
};

// The whole unit: twelve seeded inputs with counters and time gaps, and four
// outputs that hold whatever bytes the last output setting carried.
class UnitSimulation {
public:
    using Outputs = std::array<std::uint8_t, kOutputCount>;

    explicit UnitSimulation(std::uint64_t seed, const Wiring& wiring = {});

    // The clock never goes back for wired inputs: an earlier time reads as the latest one.
    QByteArray statusReply(std::int64_t elapsedMs);
    // The reply shows the outputs at once; wired inputs follow after the wire delay.
    void setOutputs(const Outputs& outputs, std::int64_t elapsedMs);
    // Counters restart from zero. Seeded inputs' time gaps keep their history,
    // as they describe the signal rather than the count; wired and pulsed
    // inputs, which a check resets before each step, show 0 until two rises follow.
    void resetCounters(std::int64_t elapsedMs);

private:
    struct PendingSetting {
        std::int64_t atMs = 0;
        std::uint8_t outputsOn = 0; // bit o: output o is on
    };

    void advanceWires(std::int64_t elapsedMs);
    void countRises(WiredInput& input, std::int64_t untilMs) const;

    std::vector<InputTrack> tracks_;
    std::array<std::uint64_t, kInputCount> counterBase_{};
    Outputs outputs_{};
    Wiring wiring_;
    std::array<WiredInput, kInputCount> wired_{};
    std::deque<PendingSetting> pending_;
    std::int64_t wiresAtMs_ = 0;
};

} // namespace lumora::emulator
