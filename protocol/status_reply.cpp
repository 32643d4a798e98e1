#include "protocol/status_reply.h"

#include <QChar>

#include <cmath>
#include <cstdlib>

namespace lumora::protocol {

namespace {

constexpr int kHexBase = 16;
constexpr int kFieldWidth = 4;
constexpr qsizetype kHexPairChars = 2;
constexpr int kHundredthsPerUnit = 100;
constexpr std::int64_t kThousandthsPerHundredth = 10;

// Whole numbers up to 2^53 are exact in a double; every field value (at most
// 2^32 - 1) is far below that, so the integer path below is always taken for
// decoded replies.
constexpr double kLargestExactWhole = 9007199254740992.0;

// The dump lines cut the reply at these offsets: 30, 30, 30 and 22 bytes.
constexpr std::array<qsizetype, 5> kDumpLineBounds{0, 30, 60, 90, kStatusReplySize};

bool isDecimalDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

int digitValue(QChar c) {
    return c.unicode() - u'0';
}

std::uint8_t byteAt(QByteArrayView reply, qsizetype offset) {
    return static_cast<std::uint8_t>(reply.at(offset));
}

double fieldValue(QByteArrayView reply, qsizetype offset) {
    // The wire sends the least significant byte first.
    return fourbyte_int(byteAt(reply, offset + 3), byteAt(reply, offset + 2), byteAt(reply, offset + 1),
                        byteAt(reply, offset));
}

// Every byte's two-digit upper-case hex text, built once. The reply's table
// refers to these characters without copying them, so decoding allocates no
// string per byte.
struct HexPairTable {
    std::array<std::array<char16_t, kHexPairChars>, 256> chars{};
    HexPairTable() {
        constexpr char16_t kDigits[] = u"0123456789ABCDEF";
        for (std::size_t b = 0; b < chars.size(); ++b)
            chars[b] = {kDigits[b / kHexBase], kDigits[b % kHexBase]};
    }
};

const HexPairTable& hexPairs() {
    static const HexPairTable table;
    return table;
}

bool isExactWhole(double value) {
    return std::isfinite(value) && std::fabs(value) <= kLargestExactWhole && std::trunc(value) == value;
}

} // namespace

QString Pad2(const QString& text) {
    switch (text.size()) {
    case 1:
        return QLatin1Char('0') + text;
    case 2:
        return text;
    default:
        return {};
    }
}

double fourbyte_int(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4) {
    constexpr double kByte1Weight = 16777216.0;
    constexpr double kByte2Weight = 65536.0;
    constexpr double kByte3Weight = 256.0;
    return b1 * kByte1Weight + b2 * kByte2Weight + b3 * kByte3Weight + b4;
}

int stateNumber(QStringView hexPair) {
    if (hexPair.isEmpty() || !isDecimalDigit(hexPair.front()))
        return 0;
    const int first = digitValue(hexPair.front());
    if (hexPair.size() >= kHexPairChars && isDecimalDigit(hexPair.at(1)))
        return first * 10 + digitValue(hexPair.at(1));
    return first;
}

QString counterText(double value) {
    if (isExactWhole(value))
        return QString::number(static_cast<std::int64_t>(value));
    // Not reachable from a decoded reply; shown rounded rather than refused.
    return QString::number(value, 'f', 0);
}

QString timeGapText(double thousandths) {
    if (!isExactWhole(thousandths))
        return QString::number(thousandths / 1000.0, 'f', 2);

    // Rounded on the exact integer, so a third decimal of 5 always goes away
    // from zero (1005 -> 1.01), which a binary 1.005 would not guarantee.
    const auto whole = static_cast<std::int64_t>(thousandths);
    const std::int64_t magnitude = std::llabs(whole);
    const std::int64_t hundredths = (magnitude + kThousandthsPerHundredth / 2) / kThousandthsPerHundredth;
    const std::int64_t units = hundredths / kHundredthsPerUnit;
    const auto fraction = static_cast<int>(hundredths % kHundredthsPerUnit);

    // Written into one buffer, right to left: this runs 12 times per reply.
    constexpr int kMaxChars = 24;
    std::array<char, kMaxChars> buffer{};
    auto at = buffer.end();
    *--at = char('0' + fraction % 10);
    *--at = char('0' + fraction / 10);
    *--at = '.';
    std::int64_t rest = units;
    do {
        *--at = char('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (whole < 0 && hundredths != 0)
        *--at = '-';
    return QString::fromLatin1(at, buffer.end() - at);
}

QString wrongLengthLine(qsizetype byteCount) {
    return QStringLiteral("Different responce data length : %1 Bytes").arg(byteCount);
}

QString recvHeader(const QString& timeStamp) {
    return timeStamp + QStringLiteral(" RECV : Status Request (112 Bytes)");
}

DecodedReply decodeStatusReply(QByteArrayView reply) {
    DecodedReply decoded;
    if (reply.size() != kStatusReplySize)
        return decoded;

    // The same text as Pad2 of the upper-cased hex number: always two digits.
    const HexPairTable& pairs = hexPairs();
    for (qsizetype offset = 0; offset < kStatusReplySize; ++offset) {
        const auto& pair = pairs.chars[byteAt(reply, offset)];
        decoded.hex[offset] =
            QString::fromRawData(reinterpret_cast<const QChar*>(pair.data()), kHexPairChars);
    }

    for (int k = 0; k < kInputCount; ++k)
        decoded.inputs[k] = stateNumber(decoded.hex[k]);

    for (int k = 0; k < kInputCount; ++k) {
        decoded.counters[k] = counterText(fieldValue(reply, kCounterOffset + kFieldWidth * k));
        decoded.timeGaps[k] = timeGapText(fieldValue(reply, kTimeGapOffset + kFieldWidth * k));
    }

    for (int k = 0; k < kOutputCount; ++k)
        decoded.outputs[k] = stateNumber(decoded.hex[kOutputOffset + k]);

    for (std::size_t line = 0; line < decoded.dumpLines.size(); ++line) {
        QString& text = decoded.dumpLines[line];
        const qsizetype first = kDumpLineBounds[line];
        const qsizetype end = kDumpLineBounds[line + 1];
        text = QString((end - first) * (kHexPairChars + 1), Qt::Uninitialized);
        QChar* out = text.data();
        for (qsizetype offset = first; offset < end; ++offset) {
            const auto& pair = pairs.chars[byteAt(reply, offset)];
            *out++ = QChar(pair[0]);
            *out++ = QChar(pair[1]);
            *out++ = QLatin1Char(' ');
        }
    }
    return decoded;
}

} // namespace lumora::protocol