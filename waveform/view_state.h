// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <cstdint>

namespace lumora::waveform {

// What a picture of the signals shows: the time span [fromMs, toMs) (UTC,
// milliseconds since the epoch), the clock its axis reads in, and the
// counters and time gaps left out (bit k for channel k + 1).
struct ViewState {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    bool localTime = false;
    std::uint32_t hiddenCounters = 0;
    std::uint32_t hiddenGaps = 0;

    friend bool operator==(const ViewState&, const ViewState&) = default;
};

} // namespace lumora::waveform
