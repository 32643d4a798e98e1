// SPDX-License-Identifier: GPL-3.0-or-later
// The view's moves to a moment: lane selection, the change keys, and the
// jumps the window's lists and Go to time ask for.
#include "timeline/search.h"
#include "waveform/picture.h"
#include "waveform/signal_view.h"

#include <QKeyEvent>

namespace lumora::waveform {

namespace {

// A stretch shown whole leaves this share of the span free on either side.
constexpr qint64 kShowMarginDivisor = 10;

} // namespace

void SignalView::selectLane(std::optional<int> lane) {
    selected_ = lane;
    update();
}

void SignalView::setMarks(std::vector<timeline::Finding> marks) {
    marks_ = std::move(marks);
    update();
}

void SignalView::selectRow(int step) {
    const Layout layout = layoutOf(rect(), state_);
    if (layout.rows.empty())
        return;
    const auto rows = qsizetype(layout.rows.size());
    qsizetype at = step > 0 ? -1 : rows;
    for (qsizetype i = 0; i < rows; ++i) {
        if (selected_ && laneNumber(layout.rows[std::size_t(i)]) == *selected_)
            at = i;
    }
    selectLane(laneNumber(layout.rows[std::size_t(std::clamp<qsizetype>(at + step, 0, rows - 1))]));
}

void SignalView::goTo(qint64 ms) {
    cursor_ = ms;
    secondCursor_.reset();
    const qint64 span = state_.toMs - state_.fromMs;
    if (span > 0 && (ms < state_.fromMs || ms >= state_.toMs)) {
        setFollow(false);
        state_.fromMs = ms - span / 2;
        state_.toMs = state_.fromMs + span;
    }
    updateReadout();
    update();
}

void SignalView::showSpan(qint64 fromMs, qint64 toMs) {
    setFollow(false);
    const qint64 span = state_.toMs - state_.fromMs;
    if (toMs - fromMs >= span - 2 * span / kShowMarginDivisor || span <= 0) {
        const qint64 margin = std::max<qint64>((toMs - fromMs) / kShowMarginDivisor, 1);
        state_.fromMs = fromMs - margin;
        state_.toMs = toMs + margin;
    } else if (fromMs < state_.fromMs || toMs > state_.toMs) {
        state_.fromMs = (fromMs + toMs - span) / 2;
        state_.toMs = state_.fromMs + span;
    }
    cursor_ = fromMs;
    secondCursor_ = toMs;
    updateReadout();
    update();
}

bool SignalView::changeKey(const QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        selectRow(event->key() == Qt::Key_Up ? -1 : 1);
        return true;
    }
    const bool any = modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
    if ((modifiers != Qt::ControlModifier && !any) ||
        (event->key() != Qt::Key_Right && event->key() != Qt::Key_Left))
        return false;
    // With no lane selected yet, every lane is searched rather than none.
    const timeline::LaneSet lanes =
        any || !selected_ ? timeline::kEveryLane : timeline::LaneSet{1} << *selected_;
    // From the cursor, else from the edge of the view the search moves away
    // from; a change exactly at the cursor is the one already shown.
    const qsizetype found =
        event->key() == Qt::Key_Right
            ? timeline::nextChange(store_, store_.indexAt(cursor_.value_or(state_.fromMs)), lanes)
            : timeline::previousChange(store_, store_.indexAt(cursor_.value_or(state_.toMs) - 1) + 1, lanes);
    if (found < 0)
        return true;
    const std::optional<qint64> second = secondCursor_;
    goTo(store_.msAt(found));
    secondCursor_ = second;
    updateReadout();
    return true;
}

} // namespace lumora::waveform
