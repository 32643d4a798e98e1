// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/lanes.h"

#include <QtGlobal>

namespace lumora::waveform {

// What a picture of the signals shows: the time span [fromMs, toMs) (UTC,
// milliseconds since the epoch), the clock its axis reads in, and the lanes
// left out.
struct ViewState {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    bool localTime = false;
    timeline::LaneSet hiddenLanes = 0;

    friend bool operator==(const ViewState&, const ViewState&) = default;
};

} // namespace lumora::waveform
