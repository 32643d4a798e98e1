// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QChar>
#include <QString>

#include <cstdint>

namespace lumora::protocol {

// A byte's two upper-case hex digits ("0A"). The text refers to a table built
// once and is not copied: a reply's 112 bytes allocate nothing.
[[nodiscard]] QString hexPair(std::uint8_t byte);

// Every byte as its two hex digits followed by one space ("52 "), as SEND
// and dump lines show frames.
[[nodiscard]] QString hexText(QByteArrayView bytes);

// '0' to '9' only: QChar::isDigit also takes other scripts' digits, which
// neither a byte's hex text nor a number typed into a box may stand for.
[[nodiscard]] constexpr bool isDecimalDigit(QChar c) noexcept {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace lumora::protocol
