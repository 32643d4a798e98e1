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

// A text of length 1 gets a leading "0", length 2 is kept, anything else
// gives the empty text.
QString Pad2(const QString& text);

// b1 * 2^24 + b2 * 2^16 + b3 * 2^8 + b4, in double precision (always exact).
double fourbyte_int(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4);

// The state number an indicator shows for a byte, read from its two-digit
// hex text as a decimal number: "10" gives 10, "1A" gives 1, "A1" gives 0.
int stateNumber(QStringView hexPair);

// A counter as plain decimal ("0", "4294967295").
QString counterText(double value);

// A time gap (thousandths) in the "####0.00" form. A third decimal of 5 is
// rounded away from zero, computed on the exact integer so 1005 gives "1.01".
QString timeGapText(double thousandths);

// "Different responce data length : N Bytes" (the unit's own wording).
QString wrongLengthLine(qsizetype byteCount);

// "<stamp> RECV : Status Request (112 Bytes)".
QString recvHeader(const QString& timeStamp);

struct DecodedReply {
    std::array<QString, kStatusReplySize> hex;  // hex text table, by offset
    std::array<int, kInputCount> inputs{};      // state numbers (may be outside 0..2)
    std::array<QString, kInputCount> counters;  // as shown in the counter boxes
    std::array<QString, kInputCount> timeGaps;  // as shown in the time-gap boxes
    std::array<int, kOutputCount> outputs{};    // state numbers (may be outside 0..2)
    std::array<QString, 4> dumpLines;           // 30, 30, 30 and 22 bytes, each "XX " per byte
};

// Decodes a reply of exactly kStatusReplySize bytes (the caller checks the length).
DecodedReply decodeStatusReply(QByteArrayView reply);

} // namespace lumora::protocol