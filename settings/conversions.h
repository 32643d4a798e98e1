// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace lumora::settings {

// Leading decimal number of a text, whatever the locale: blanks skipped, an
// optional sign, the longest run of digits with at most one '.', the rest
// ignored; no number at all reads as 0 ("1.2.3" -> 1.2, "abc" -> 0).
[[nodiscard]] double leadingNumber(const QString& text);

// The port box's text as a port: a decimal number with at most one '.',
// rounded half to even, that must be a whole number in 0..65535. Anything
// else (empty, letters, "1.2.3", "70000") gives no port.
[[nodiscard]] std::optional<std::uint16_t> portFromText(const QString& text);

inline constexpr int kMaxIntervalMs = 24 * 60 * 60 * 1000;

// The interval box's seconds as milliseconds: leadingNumber * 1000 rounded
// half to even; negative gives 0, above 24 h gives 24 h.
[[nodiscard]] int intervalMsFromText(const QString& text);

} // namespace lumora::settings
