// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a daily log file of a given size as the client files it while
// polling the bundled emulator: one status reply's block per poll, CR LF line
// ends, the replies those of the emulator's seeded inputs. The input pattern
// is copied here, not linked, so that the reading benchmarks need neither
// the emulator nor the client; the outputs change every ten seconds, as a
// tester setting them by hand would.
//
//   lumora-make-day-file OUT --size BYTES [--seed N] [--start-ms MS] [--interval-ms MS]
//
// The file ends with a whole block and is at most BYTES long. Stamps start
// at --start-ms after midnight UTC (default 08:00) and step by --interval-ms
// (default 1), wrapping at midnight.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kInputs = 12;
constexpr int kOutputs = 4;
constexpr int kReplySize = 112;
constexpr int kCounterOffset = 12;
constexpr int kTimeGapOffset = 60;
constexpr int kOutputOffset = 108;
constexpr std::int64_t kMinToggleMs = 50;
constexpr std::int64_t kMaxToggleMs = 2000;
constexpr std::int64_t kBasePeriodMinMs = 60;
constexpr std::int64_t kBasePeriodSpanMs = 1680;
constexpr std::int64_t kJitterMinPercent = 85;
constexpr std::int64_t kJitterSpanPercent = 31;
constexpr std::uint64_t kChannelSalt = 0x5851F42D4C957F2DULL;
constexpr std::uint64_t kIndexSalt = 0x2545F4914F6CDD1DULL;
constexpr std::uint64_t kLevelSalt = 0x9E3779B97F4A7C15ULL;
constexpr std::int64_t kDayMs = std::int64_t{24} * 60 * 60 * 1000;
constexpr std::int64_t kOutputStepMs = 10000;

std::uint64_t mix64(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ULL;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
    return value ^ (value >> 31);
}

// One seeded input walked forward in time: its level, rising edges and the
// time between its last two rising edges.
class Input {
public:
    Input(std::uint64_t seed, int channel)
        : key_(mix64(seed ^ (kChannelSalt * std::uint64_t(channel + 1))))
        , basePeriodMs_(kBasePeriodMinMs + std::int64_t(mix64(key_) % kBasePeriodSpanMs))
        , level_((mix64(key_ ^ kLevelSalt) & 1U) != 0)
        , nextToggleMs_(interval(0)) {}

    void advanceTo(std::int64_t ms) {
        while (nextToggleMs_ <= ms) {
            level_ = !level_;
            if (level_) {
                ++risingEdges_;
                previousRiseMs_ = lastRiseMs_;
                lastRiseMs_ = nextToggleMs_;
            }
            ++toggles_;
            nextToggleMs_ += interval(toggles_);
        }
    }
    bool level() const { return level_; }
    std::uint32_t counter() const { return std::uint32_t(risingEdges_); }
    std::uint32_t timeGapMs() const {
        return previousRiseMs_ < 0
                   ? 0U
                   : std::uint32_t(std::min<std::int64_t>(lastRiseMs_ - previousRiseMs_, UINT32_MAX));
    }

private:
    std::int64_t interval(std::uint64_t index) const {
        const std::uint64_t hash = mix64(key_ ^ (kIndexSalt * (index + 1)));
        const std::int64_t percent = kJitterMinPercent + std::int64_t(hash % kJitterSpanPercent);
        return std::clamp(basePeriodMs_ * percent / 100, kMinToggleMs, kMaxToggleMs);
    }

    std::uint64_t key_;
    std::int64_t basePeriodMs_;
    bool level_;
    std::int64_t nextToggleMs_;
    std::uint64_t toggles_ = 0;
    std::uint64_t risingEdges_ = 0;
    std::int64_t lastRiseMs_ = -1;
    std::int64_t previousRiseMs_ = -1;
};

void put32(std::array<std::uint8_t, kReplySize>& reply, int at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        reply[std::size_t(at) + std::size_t(i)] = std::uint8_t(value >> (8 * i));
}

char* putDigits(char* out, std::int64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

// One block as the window files it.
char* putBlock(char* out, std::int64_t stampMs, const std::array<std::uint8_t, kReplySize>& reply) {
    static const char kHex[] = "0123456789ABCDEF";
    *out++ = '[';
    out = putDigits(out, stampMs / 3600000, 2);
    *out++ = ':';
    out = putDigits(out, stampMs / 60000 % 60, 2);
    *out++ = ':';
    out = putDigits(out, stampMs / 1000 % 60, 2);
    *out++ = '.';
    out = putDigits(out, stampMs % 1000, 3);
    static const char kHeader[] = "] RECV : Status Request (112 Bytes)\r\n";
    std::memcpy(out, kHeader, sizeof kHeader - 1);
    out += sizeof kHeader - 1;
    for (int i = 0; i < kReplySize; ++i) {
        *out++ = kHex[reply[std::size_t(i)] >> 4];
        *out++ = kHex[reply[std::size_t(i)] & 15];
        *out++ = ' ';
        if (i == 29 || i == 59 || i == 89 || i == kReplySize - 1) {
            *out++ = '\r';
            *out++ = '\n';
        }
    }
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

int usage() {
    std::fprintf(
        stderr,
        "usage: lumora-make-day-file OUT --size BYTES [--seed N] [--start-ms MS] [--interval-ms MS]\n");
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const char* path = argv[1];
    long long size = -1;
    unsigned long long seed = 7150;
    long long startMs = 8LL * 3600 * 1000;
    long long intervalMs = 1;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        char* end = nullptr;
        const long long value = std::strtoll(argv[i + 1], &end, 10);
        if (end == argv[i + 1] || *end != '\0' || value < 0)
            return usage();
        if (option == "--size")
            size = value;
        else if (option == "--seed")
            seed = (unsigned long long)value;
        else if (option == "--start-ms")
            startMs = value % kDayMs;
        else if (option == "--interval-ms")
            intervalMs = value;
        else
            return usage();
    }
    if (size < 0 || (argc % 2) != 0)
        return usage();

    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::perror(path);
        return 2;
    }
    std::vector<Input> inputs;
    inputs.reserve(kInputs);
    for (int k = 0; k < kInputs; ++k)
        inputs.emplace_back(seed, k);
    constexpr std::size_t kBuffer = std::size_t{4} << 20;
    constexpr std::size_t kLongestBlock = 400;
    std::vector<char> buffer(kBuffer);
    char* at = buffer.data();
    long long written = 0;
    long long blocks = 0;
    std::array<std::uint8_t, kReplySize> reply{};
    for (std::int64_t elapsed = 0;; elapsed += intervalMs) {
        for (int k = 0; k < kInputs; ++k) {
            Input& input = inputs[std::size_t(k)];
            input.advanceTo(elapsed);
            reply[std::size_t(k)] = input.level() ? 1 : 0;
            put32(reply, kCounterOffset + 4 * k, input.counter());
            put32(reply, kTimeGapOffset + 4 * k, input.timeGapMs());
        }
        const std::uint64_t outputs = std::uint64_t(elapsed / kOutputStepMs);
        for (int k = 0; k < kOutputs; ++k)
            reply[std::size_t(kOutputOffset) + std::size_t(k)] = std::uint8_t((outputs >> k) & 1U);
        char* end = putBlock(at, (startMs + elapsed) % kDayMs, reply);
        if (written + (end - buffer.data()) > size)
            break;
        at = end;
        ++blocks;
        if (std::size_t(at - buffer.data()) > kBuffer - kLongestBlock) {
            const std::size_t n = std::size_t(at - buffer.data());
            if (std::fwrite(buffer.data(), 1, n, out) != n)
                break;
            written += (long long)n;
            at = buffer.data();
        }
    }
    const std::size_t n = std::size_t(at - buffer.data());
    const bool ok = std::fwrite(buffer.data(), 1, n, out) == n && std::fclose(out) == 0;
    written += (long long)n;
    if (!ok) {
        std::perror(path);
        return 2;
    }
    std::fprintf(stderr, "%s: %lld blocks, %lld bytes\n", path, blocks, written);
    return 0;
}
