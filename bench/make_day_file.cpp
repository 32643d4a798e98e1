// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a daily log file of a given size as the client files it while
// polling the bundled emulator: one status reply's block per poll, CR LF line
// ends, the replies those of the emulator's own simulation of its seeded
// inputs; the outputs change every ten seconds, as a tester setting them by
// hand would. With --busy every value changes at every reply instead, the
// worst a bench can come close to (twelve counters counting fast pulses, an
// input at half the poll rate): input k is bit k of the reply's index,
// counter k the index times k + 1, time gap k (index * 7 + k) mod 100000,
// output k bit k + 3 of the index.
//
//   lumora-make-day-file OUT --size BYTES [--busy] [--seed N] [--start-ms MS] [--interval-ms MS]
//
// The file ends with a whole block and is at most BYTES long. Stamps start
// at --start-ms after midnight UTC (default 08:00) and step by --interval-ms
// (default 1), wrapping at midnight.

#include "emulator/unit_simulation.h"

#include <QByteArray>

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
constexpr int kGapOffset = 60;
constexpr int kOutputOffset = 108;
constexpr std::uint64_t kGapWrap = 100000;
constexpr std::int64_t kDayMs = std::int64_t{24} * 60 * 60 * 1000;
constexpr std::int64_t kOutputStepMs = 10000;

char* putDigits(char* out, std::int64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

// One block as the window files it.
char* putBlock(char* out, std::int64_t stampMs, const QByteArray& reply) {
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
        const auto byte = std::uint8_t(reply[i]);
        *out++ = kHex[byte >> 4];
        *out++ = kHex[byte & 15];
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

void putLittleEndian32(QByteArray& reply, int at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        reply[at + i] = char((value >> (8 * i)) & 0xFFU);
}

QByteArray busyReply(std::uint64_t index) {
    QByteArray reply(kReplySize, '\0');
    for (int k = 0; k < kInputs; ++k) {
        reply[k] = char((index >> k) & 1U);
        putLittleEndian32(reply, kCounterOffset + 4 * k, std::uint32_t(index * std::uint64_t(k + 1)));
        putLittleEndian32(reply, kGapOffset + 4 * k,
                          std::uint32_t((index * 7 + std::uint64_t(k)) % kGapWrap));
    }
    for (int k = 0; k < kOutputs; ++k)
        reply[kOutputOffset + k] = char((index >> (k + 3)) & 1U);
    return reply;
}

int usage() {
    std::fprintf(stderr, "usage: lumora-make-day-file OUT --size BYTES [--busy] [--seed N] [--start-ms MS] "
                         "[--interval-ms MS]\n");
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
    bool busy = false;
    for (int i = 2; i < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--busy") {
            busy = true;
            --i;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
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
    if (size < 0)
        return usage();

    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::perror(path);
        return 2;
    }
    lumora::emulator::UnitSimulation unit(seed);
    constexpr std::size_t kBuffer = std::size_t{4} << 20;
    constexpr std::size_t kLongestBlock = 400;
    std::vector<char> buffer(kBuffer);
    char* at = buffer.data();
    long long written = 0;
    long long blocks = 0;
    for (std::int64_t elapsed = 0;; elapsed += intervalMs) {
        const std::uint64_t step = std::uint64_t(elapsed / kOutputStepMs);
        lumora::emulator::UnitSimulation::Outputs outputs{};
        for (int k = 0; k < kOutputs; ++k)
            outputs[std::size_t(k)] = std::uint8_t((step >> k) & 1U);
        unit.setOutputs(outputs, elapsed);
        const QByteArray reply = busy ? busyReply(std::uint64_t(blocks)) : unit.statusReply(elapsed);
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
