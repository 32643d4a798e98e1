// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/hex_text.h"

#include <array>

namespace lumora::protocol {

namespace {

constexpr qsizetype kPairChars = 2;
constexpr qsizetype kCharsPerByte = kPairChars + 1;

struct HexPairTable {
    std::array<std::array<char16_t, kPairChars>, 256> chars{};
    HexPairTable() {
        constexpr char16_t kDigits[] = u"0123456789ABCDEF";
        constexpr std::size_t kBase = 16;
        for (std::size_t b = 0; b < chars.size(); ++b)
            chars[b] = {kDigits[b / kBase], kDigits[b % kBase]};
    }
};

const HexPairTable& hexPairs() {
    static const HexPairTable table;
    return table;
}

} // namespace

QString hexPair(std::uint8_t byte) {
    return QString::fromRawData(reinterpret_cast<const QChar*>(hexPairs().chars[byte].data()), kPairChars);
}

QString hexText(QByteArrayView bytes) {
    // Written in place: four dump lines of every reply come through here.
    const HexPairTable& pairs = hexPairs();
    QString text(bytes.size() * kCharsPerByte, Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto& pair = pairs.chars[static_cast<std::uint8_t>(c)];
        *out++ = QChar(pair[0]);
        *out++ = QChar(pair[1]);
        *out++ = QLatin1Char(' ');
    }
    return text;
}

} // namespace lumora::protocol
