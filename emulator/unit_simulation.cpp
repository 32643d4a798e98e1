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

// A millihertz times a millisecond is a millionth of a period.
constexpr std::int64_t kMilliHzMs = 1000000;

// A pulsed input is low for the first half of each period, high for the
// second, from time 0; on the millisecond clock a half period ends at the
// first millisecond at or past it.
std::int64_t halfPeriods(std::int64_t elapsedMs, std::int64_t milliHz) {
    return elapsedMs * 2 * milliHz / kMilliHzMs;
}

std::int64_t pulseRiseMs(std::uint64_t rise, std::int64_t milliHz) {
    const std::int64_t numerator = (2 * static_cast<std::int64_t>(rise) - 1) * kMilliHzMs;
    return (numerator + 2 * milliHz - 1) / (2 * milliHz);
}

} // namespace

std::uint8_t Wiring::driversOf(int input) const {
    std::uint8_t drivers = 0;
    for (int o = 0; o < kOutputCount; ++o) {
        if ((drives[static_cast<std::size_t>(o)] >> input & 1U) != 0) {
            drivers |= static_cast<std::uint8_t>(1U << o);
        }
    }
    return drivers;
}

std::uint32_t RiseHistory::gapMs() const {
    return previousMs < 0 ? 0U : saturate32(static_cast<std::uint64_t>(lastMs - previousMs));
}

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

UnitSimulation::UnitSimulation(std::uint64_t seed, const Wiring& wiring)
    : wiring_(wiring) {
    tracks_.reserve(kInputCount);
    for (int channel = 0; channel < kInputCount; ++channel) {
        tracks_.emplace_back(seed, channel);
    }
}

void UnitSimulation::setOutputs(const Outputs& outputs, std::int64_t elapsedMs) {
    outputs_ = outputs;
    std::uint8_t on = 0;
    for (int o = 0; o < kOutputCount; ++o) {
        if (outputs[static_cast<std::size_t>(o)] != 0) {
            on |= static_cast<std::uint8_t>(1U << o);
        }
    }
    pending_.push_back({std::max(elapsedMs, wiresAtMs_) + wiring_.delayMs, on});
}

void UnitSimulation::countRises(WiredInput& input, std::int64_t untilMs) const {
    while (input.risesCounted <= wiring_.bounce) {
        const std::int64_t riseMs = input.highSinceMs + std::int64_t{2} * input.risesCounted;
        if (riseMs > untilMs) {
            return;
        }
        input.history.rise(riseMs);
        ++input.risesCounted;
    }
}

void UnitSimulation::advanceWires(std::int64_t elapsedMs) {
    wiresAtMs_ = std::max(elapsedMs, wiresAtMs_);
    while (!pending_.empty() && pending_.front().atMs <= wiresAtMs_) {
        const PendingSetting setting = pending_.front();
        pending_.pop_front();
        for (int k = 0; k < kInputCount; ++k) {
            WiredInput& input = wired_[static_cast<std::size_t>(k)];
            const bool drive = (wiring_.driversOf(k) & setting.outputsOn) != 0;
            if (drive == input.drive) {
                continue;
            }
            if (input.drive) {
                countRises(input, setting.atMs - 1); // a bounce rise at the fall itself never shows
            } else {
                input.highSinceMs = setting.atMs;
                input.risesCounted = 0;
            }
            input.drive = drive;
        }
    }
    for (WiredInput& input : wired_) {
        if (input.drive) {
            countRises(input, wiresAtMs_);
        }
    }
}

bool Wiring::onBench() const {
    for (int k = 0; k < kInputCount; ++k) {
        if (driversOf(k) != 0 || pulsed(k))
            return true;
    }
    return false;
}

QByteArray UnitSimulation::statusReply(std::int64_t elapsedMs) {
    advanceWires(elapsedMs);
    QByteArray reply(kStatusReplySize, '\0');
    for (int k = 0; k < kInputCount; ++k) {
        const auto index = static_cast<std::size_t>(k);
        const std::uint64_t base = counterBase_[index];
        bool level = false;
        std::uint64_t counted = 0;
        std::uint32_t timeGapMs = 0;
        if (wiring_.driversOf(k) != 0) {
            const WiredInput& input = wired_[index];
            const std::int64_t sinceRise = wiresAtMs_ - input.highSinceMs;
            level = input.drive && !(sinceRise < std::int64_t{2} * wiring_.bounce && sinceRise % 2 == 1);
            counted = input.history.rises;
            timeGapMs = input.history.gapMs();
        } else if (wiring_.pulsed(k)) {
            const std::int64_t milliHz = wiring_.pulseMilliHz[index];
            const std::int64_t halves = halfPeriods(std::max<std::int64_t>(elapsedMs, 0), milliHz);
            const auto rises = static_cast<std::uint64_t>((halves + 1) / 2);
            level = halves % 2 == 1;
            counted = rises >= base ? rises - base : 0;
            timeGapMs = counted < 2 ? 0U
                                    : static_cast<std::uint32_t>(pulseRiseMs(rises, milliHz) -
                                                                 pulseRiseMs(rises - 1, milliHz));
        } else if (!wiring_.onBench()) {
            const InputTrack::State state = tracks_[index].at(elapsedMs);
            level = state.level;
            counted = state.risingEdges >= base ? state.risingEdges - base : 0;
            timeGapMs = state.timeGapMs;
        }
        reply[k] = level ? '\1' : '\0';
        // The unit's counter is a 32-bit register and wraps like one.
        putLittleEndian32(reply, kCounterOffset + qsizetype{4} * k, static_cast<std::uint32_t>(counted));
        putLittleEndian32(reply, kTimeGapOffset + qsizetype{4} * k, timeGapMs);
    }
    for (int k = 0; k < kOutputCount; ++k) {
        reply[kOutputOffset + k] = static_cast<char>(outputs_[static_cast<std::size_t>(k)]);
    }
    return reply;
}

void UnitSimulation::resetCounters(std::int64_t elapsedMs) {
    advanceWires(elapsedMs);
    for (int k = 0; k < kInputCount; ++k) {
        const auto index = static_cast<std::size_t>(k);
        if (wiring_.driversOf(k) != 0) {
            wired_[index].history = {};
        } else if (wiring_.pulsed(k)) {
            const std::int64_t halves =
                halfPeriods(std::max<std::int64_t>(elapsedMs, 0), wiring_.pulseMilliHz[index]);
            counterBase_[index] = static_cast<std::uint64_t>((halves + 1) / 2);
        } else {
            counterBase_[index] = tracks_[index].at(elapsedMs).risingEdges;
        }
    }
}

} // namespace lumora::emulator
