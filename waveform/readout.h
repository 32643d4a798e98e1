// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/sample.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace lumora::waveform {

// A moment as the axis reads it: "10:00:00.250 UTC", or local time with its
// offset ("23:45:00.250 +13:45").
[[nodiscard]] QString momentText(qint64 ms, bool localTime);

// What every lane showed at the cursor: the reply at or before the moment
// (none before the first reply).
[[nodiscard]] QString cursorText(qint64 ms, const std::optional<timeline::Sample>& shown, bool localTime);

// From the first cursor to the second: the time between them, and for each
// counter not hidden the difference of the replies shown at the two and its
// rate per second. A counter reset between them gives a negative difference.
[[nodiscard]] QString spanText(qint64 fromMs, const std::optional<timeline::Sample>& from, qint64 toMs,
                               const std::optional<timeline::Sample>& to, std::uint32_t hiddenCounters);

} // namespace lumora::waveform
