// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/measure.h"
#include "timeline/reply_store.h"
#include "waveform/view_state.h"

#include <QRect>
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

class QPainter;

namespace lumora::waveform {

// What a row of the picture shows.
enum class RowKind : std::uint8_t { Lane, Counter, Gap };

struct Row {
    RowKind kind = RowKind::Lane;
    int index = 0; // the lane (0..15), or the channel of a counter or time gap (0..11)
    QString name;  // "DI00", "DO01", "CNT01", "GAP01"
    QRect band;    // the row's full height across the plot
    // Inside the band: where a high and a low level are drawn, and where a
    // counter's or time gap's largest and smallest shown value are.
    int highY = 0;
    int lowY = 0;
};

// Where everything of a picture lies: the lane names to the left, the plot
// in which time runs left to right, and the time axis under it. The shown
// lanes share the height up to a most a row takes; below that the axis
// follows the last row and the rest of the rectangle stays blank. All forty
// always fill it.
struct Layout {
    QRect names;
    QRect plot;
    QRect axis;
    std::vector<Row> rows;
};

[[nodiscard]] Layout layoutOf(const QRect& rect, const ViewState& state);

// The moment at the left edge of pixel column x of the plot, and the column
// a moment falls in (columns of equal length, as timeline::columns() cuts them).
[[nodiscard]] qint64 msAtX(const QRect& plot, const ViewState& state, int x);
[[nodiscard]] int xAtMs(const QRect& plot, const ViewState& state, qint64 ms);

// Draws the lanes, the counters and the time gaps of the shown span, with
// their time axis, into the rectangle: the one drawing the window shows and
// the pictures export.
void paintSignals(QPainter& painter, const QRect& rect, const timeline::ReplyStore& store,
                  const ViewState& state);

// The same drawing from the plot's columns already summarized, as
// timeline::columns(store, state.fromMs, state.toMs, layoutOf(rect, state).plot.width())
// gives them: a view that only moves its cursor need not summarize again.
void paintColumns(QPainter& painter, const QRect& rect, const timeline::ReplyStore& store,
                  const ViewState& state, const std::vector<timeline::Column>& columns);

// Writes the shown span and lanes by the path's extension: .png and .svg as
// drawn at the given size (shorter when the lanes need less), .csv and .vcd
// as data. False, with the reason in `why`,
// when the extension is none of these or the file cannot be written.
[[nodiscard]] bool exportRange(const QString& path, const timeline::ReplyStore& store, const ViewState& state,
                               QSize size, QString& why);

// The row's lane numbered as timeline/search.h numbers all forty: the
// Sample's lanes, then CNT01..CNT12, then GAP01..GAP12.
[[nodiscard]] int laneNumber(const Row& row);

// Over a drawn picture: small marks on the counters' rows where the findings
// are, and the selected lane's name highlighted.
void paintMarks(QPainter& painter, const Layout& layout, const ViewState& state,
                const std::vector<timeline::Finding>& findings, std::optional<int> selected);

} // namespace lumora::waveform
