// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/status_reply.h"

#include "protocol/hex_text.h"

#include <algorithm>
#include <array>

namespace lumora::protocol {

namespace {

constexpr int kFieldWidth = 4;
constexpr int kHundredthsPerUnit = 100;
constexpr std::uint32_t kThousandthsPerHundredth = 10;

int digitValue(QChar c) {
    return c.unicode() - u'0';
}

std::uint8_t byteAt(QByteArrayView reply, qsizetype offset) {
    return static_cast<std::uint8_t>(reply.at(offset));
}

std::uint32_t fieldValue(QByteArrayView reply, qsizetype offset) {
    // The wire sends the least significant byte first.
    return fourByteInt(byteAt(reply, offset + 3), byteAt(reply, offset + 2), byteAt(reply, offset + 1),
                       byteAt(reply, offset));
}

} // namespace

int stateNumber(QStringView hexPair) {
    if (hexPair.isEmpty() || !isDecimalDigit(hexPair.front()))
        return 0;
    const int first = digitValue(hexPair.front());
    if (hexPair.size() >= 2 && isDecimalDigit(hexPair.at(1)))
        return first * 10 + digitValue(hexPair.at(1));
    return first;
}

QString channelText(int number) {
    return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

QString counterText(std::uint32_t value) {
    return QString::number(value);
}

std::uint64_t timeGapHundredths(std::uint32_t thousandths) {
    // Rounded on the exact integer, so a third decimal of 5 always goes up
    // (1005 -> 1.01), which a binary 1.005 would not guarantee.
    return (std::uint64_t{thousandths} + kThousandthsPerHundredth / 2) / kThousandthsPerHundredth;
}

char* putTimeGapText(char* out, std::uint32_t thousandths) {
    const std::uint64_t hundredths = timeGapHundredths(thousandths);
    const std::uint64_t units = hundredths / kHundredthsPerUnit;
    const auto fraction = static_cast<int>(hundredths % kHundredthsPerUnit);

    // Right to left, then moved to the front: this runs 12 times per reply.
    std::array<char, kMostTimeGapChars> buffer{};
    auto at = buffer.end();
    *--at = char('0' + fraction % 10);
    *--at = char('0' + fraction / 10);
    *--at = '.';
    std::uint64_t rest = units;
    do {
        *--at = char('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    return std::copy(at, buffer.end(), out);
}

QString timeGapText(std::uint32_t thousandths) {
    std::array<char, kMostTimeGapChars> text{};
    return QString::fromLatin1(text.data(), putTimeGapText(text.data(), thousandths) - text.data());
}

QString wrongLengthLine(qsizetype byteCount) {
    return QStringLiteral("Different responce data length : %1 Bytes").arg(byteCount);
}

// The state number of every byte, as its hex pair reads: each reply of a
// day's file asks 16 times.
int byteState(std::uint8_t byte) {
    static const auto states = [] {
        constexpr int kBytes = 256;
        std::array<std::uint8_t, kBytes> numbers{};
        for (int b = 0; b < kBytes; ++b)
            numbers.at(std::size_t(b)) = std::uint8_t(stateNumber(hexPair(std::uint8_t(b))));
        return numbers;
    }();
    return states[byte];
}

int inputState(QByteArrayView reply, int input) {
    return byteState(byteAt(reply, input));
}

int outputState(QByteArrayView reply, int output) {
    return byteState(byteAt(reply, kOutputOffset + output));
}

std::uint32_t counterValue(QByteArrayView reply, int input) {
    return fieldValue(reply, kCounterOffset + kFieldWidth * input);
}

std::uint32_t timeGapValue(QByteArrayView reply, int input) {
    return fieldValue(reply, kTimeGapOffset + kFieldWidth * input);
}

DecodedReply decodeStatusReply(QByteArrayView reply) {
    DecodedReply decoded;
    if (reply.size() != kStatusReplySize)
        return decoded;

    for (qsizetype offset = 0; offset < kStatusReplySize; ++offset)
        decoded.hex[offset] = hexPair(byteAt(reply, offset));

    for (int k = 0; k < kInputCount; ++k) {
        decoded.inputs[k] = inputState(reply, k);
        decoded.counters[k] = counterText(counterValue(reply, k));
        decoded.timeGaps[k] = timeGapText(timeGapValue(reply, k));
    }
    for (int k = 0; k < kOutputCount; ++k)
        decoded.outputs[k] = outputState(reply, k);
    return decoded;
}

bool hasRefusedValue(QByteArrayView reply) {
    for (int input = 0; input < kInputCount; ++input) {
        if (!isShownState(inputState(reply, input)))
            return true;
    }
    for (int output = 0; output < kOutputCount; ++output) {
        if (!isShownState(outputState(reply, output)))
            return true;
    }
    return false;
}

} // namespace lumora::protocol
