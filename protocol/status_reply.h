// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>

namespace lumora::protocol {

inline constexpr qsizetype kStatusReplySize = 112;
inline constexpr int kInputCount = 12;
inline constexpr int kOutputCount = 4;
inline constexpr int kCounterOffset = 12;
inline constexpr int kTimeGapOffset = 60;
inline constexpr int kOutputOffset = 108;
// The dump lines cut the reply at these offsets: 30, 30, 30 and 22 bytes.
inline constexpr std::array<qsizetype, 5> kDumpLineBounds{0, 30, 60, 90, kStatusReplySize};

// An indicator box has three states, 0, 1 and 2 (off, on, greyed); the window
// refuses every other state number a reply carries, and the command line
// marks it as refused.
inline constexpr int kHighestShownState = 2;

[[nodiscard]] constexpr bool isShownState(int state) noexcept {
    return state >= 0 && state <= kHighestShownState;
}

// A channel or indicator number as the window's captions and the command
// line's columns show it: two digits at least, "07".
[[nodiscard]] QString channelText(int number);

// b1 * 2^24 + b2 * 2^16 + b3 * 2^8 + b4: a counter or time gap, most
// significant byte first.
[[nodiscard]] constexpr std::uint32_t fourByteInt(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3,
                                                  std::uint8_t b4) noexcept {
    return (std::uint32_t{b1} << 24) | (std::uint32_t{b2} << 16) | (std::uint32_t{b3} << 8) | b4;
}

// The state number an indicator shows for a byte, read from its two-digit
// hex text as a decimal number: "10" gives 10, "1A" gives 1, "A1" gives 0.
[[nodiscard]] int stateNumber(QStringView hexPair);

// A counter as plain decimal ("0", "4294967295").
[[nodiscard]] QString counterText(std::uint32_t value);

// A time gap (thousandths) in the "####0.00" form. A third decimal of 5 is
// rounded up, computed on the exact integer so 1005 gives "1.01".
[[nodiscard]] QString timeGapText(std::uint32_t thousandths);
// The same text written at `out` (room for kMostTimeGapChars); returns its end.
inline constexpr int kMostTimeGapChars = 11; // "42949672.96"
char* putTimeGapText(char* out, std::uint32_t thousandths);
// The hundredths it shows: gaps that show alike have the same.
[[nodiscard]] std::uint64_t timeGapHundredths(std::uint32_t thousandths);

// "Different responce data length : N Bytes" (the unit's own wording).
[[nodiscard]] QString wrongLengthLine(qsizetype byteCount);

struct DecodedReply {
    std::array<QString, kStatusReplySize> hex;  // hex text table, by offset
    std::array<int, kInputCount> inputs{};      // state numbers (may be outside 0..2)
    std::array<QString, kInputCount> counters;  // as shown in the counter boxes
    std::array<QString, kInputCount> timeGaps;  // as shown in the time-gap boxes
    std::array<int, kOutputCount> outputs{};    // state numbers (may be outside 0..2)
};

// Decodes a reply of exactly kStatusReplySize bytes (the caller checks the length).
[[nodiscard]] DecodedReply decodeStatusReply(QByteArrayView reply);

// The same fields one at a time, for a caller that shows only what changed
// since the last reply. Each takes a reply of exactly kStatusReplySize bytes.
[[nodiscard]] int inputState(QByteArrayView reply, int input);
[[nodiscard]] int outputState(QByteArrayView reply, int output);
// A reply of kStatusReplySize bytes carrying an input or output state number
// the window refuses: the exporter leaves those series out, never made up.
[[nodiscard]] bool hasRefusedValue(QByteArrayView reply);
[[nodiscard]] std::uint32_t counterValue(QByteArrayView reply, int input);
[[nodiscard]] std::uint32_t timeGapValue(QByteArrayView reply, int input);

} // namespace lumora::protocol
