// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/lanes.h"
#include "timeline/measure.h"

#include <QString>

#include <optional>

namespace lumora::waveform {

// The measurements panel's text for [fromMs, toMs): a line per lane, counter
// and time gap shown, in the lanes' order, plain enough to paste anywhere.
[[nodiscard]] QString measureText(const timeline::Measure& measure, qint64 fromMs, qint64 toMs,
                                  bool localTime, timeline::LaneSet shown = timeline::kEveryLane);

// A line of the findings list: kind, channel, the two replies' moments,
// what the counter counted and the edges its input showed.
[[nodiscard]] QString findingText(const timeline::Finding& finding, bool localTime);

// A line of Find's list: where a condition held, and for how long.
[[nodiscard]] QString stretchText(qint64 fromMs, qint64 toMs, bool localTime);

// "hh:mm:ss.mmm" (seconds and thousandths may be left out) as UTC on the day
// that dayMs falls in; nullopt when it is not such a time.
[[nodiscard]] std::optional<qint64> timeOnDay(QStringView text, qint64 dayMs);

// The window's keys, as its help shows them.
[[nodiscard]] QString keysText();

} // namespace lumora::waveform
