// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"
#include "waveform/view_state.h"

#include <QRect>
#include <QSize>
#include <QString>

class QPainter;

namespace lumora::waveform {

// Draws the lanes, the counters and the time gaps of the shown span, with
// their time axis, into the rectangle: the one drawing the window shows and
// the pictures export.
void paintSignals(QPainter& painter, const QRect& rect, const timeline::ReplyStore& store,
                  const ViewState& state);

// Writes the shown span by the path's extension: .png and .svg as drawn at
// the given size, .csv and .vcd as data. False, with the reason in *error,
// when the extension is none of these or the file cannot be written.
[[nodiscard]] bool exportRange(const QString& path, const timeline::ReplyStore& store,
                               const ViewState& state, QSize size, QString* error);

} // namespace lumora::waveform
