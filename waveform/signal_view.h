// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/measure.h"
#include "timeline/reply_store.h"
#include "waveform/coalesced.h"
#include "waveform/view_state.h"

#include <QImage>
#include <QWidget>

#include <optional>

class QLabel;

namespace lumora::waveform {

// The lanes over time, drawn from a store: wheel zooms around the pointer,
// dragging pans, and Follow keeps the newest reply in view until the user
// pans. A click puts the cursor down, shift+click the second cursor; what
// they read is shown in a panel at the top right. Arrows pan, + and - zoom,
// Escape lifts the cursors. Up and Down (or a click on a name) select a lane,
// Ctrl+Right and Ctrl+Left put the cursor on its next and previous change,
// with Shift on any lane's (keysText() lists them all).
class SignalView : public QWidget {
    Q_OBJECT
public:
    // However often the store changes, the view repaints at most this often:
    // a repaint holds the event loop a few milliseconds, and at 1 ms polling
    // every such pause costs the client a request or two.
    static constexpr int kRepaintMs = 200;

    explicit SignalView(const timeline::ReplyStore& store, QWidget* parent = nullptr);

    [[nodiscard]] const ViewState& state() const { return state_; }
    void setSpan(qint64 fromMs, qint64 toMs);
    [[nodiscard]] bool follows() const { return follow_; }
    void setFollow(bool follow);
    void setLocalTime(bool local);
    void setHidden(timeline::LaneSet lanes);

    [[nodiscard]] std::optional<qint64> cursor() const { return cursor_; }
    [[nodiscard]] std::optional<qint64> secondCursor() const { return secondCursor_; }
    // The cursor panel's text, empty while no cursor is down.
    [[nodiscard]] QString readoutText() const;
    // Puts the cursor down at a moment (lifting the second) and pans it into
    // view, to the middle when it was outside.
    void goTo(qint64 ms);
    // Puts the two cursors at a stretch's ends and shows it whole.
    void showSpan(qint64 fromMs, qint64 toMs);
    // The lane the change keys search, numbered as timeline/search.h's
    // forty; none at first.
    [[nodiscard]] std::optional<int> selectedLane() const { return selected_; }
    void selectLane(std::optional<int> lane);
    // Findings marked on their counters' lanes.
    void setMarks(std::vector<timeline::Finding> marks);
    // Counts the store's changes the view has taken in, clears included.
    [[nodiscard]] qint64 storeVersion() const { return storeVersion_; }
    // Repaints done since the view was made, for those who watch its cost.
    [[nodiscard]] qint64 paintCount() const { return paints_; }

public Q_SLOTS:
    void storeChanged();

Q_SIGNALS:
    void followChanged(bool follow);
    // The span shown, a cursor, the lanes shown or the store changed.
    void shownChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    // By wheel notches (positive narrows the span) around x.
    void zoom(double notches, double x);
    void pan(qint64 ms);
    void followNewest();
    void showAll();
    [[nodiscard]] qint64 msAt(int x) const;
    void updateReadout();
    // The change keys (edge_keys.cpp); false for any other key.
    bool changeKey(const QKeyEvent* event);
    void selectRow(int step);

    const timeline::ReplyStore& store_;
    ViewState state_;
    bool follow_ = true;
    std::optional<qint64> cursor_;
    std::optional<qint64> secondCursor_;
    QLabel* readout_ = nullptr;
    // The leading change repaints at once, those that follow within
    // kRepaintMs wait for the timer.
    Coalesced coalesce_;
    // A press becomes a pan once it moves; until then it may be a click.
    std::optional<QPoint> pressAt_;
    ViewState pressState_;
    bool panning_ = false;
    qint64 paints_ = 0;
    std::optional<int> selected_;
    std::vector<timeline::Finding> marks_;
    // The picture without the cursors, kept while neither the store nor
    // what is shown nor the size changed: a cursor moving only copies it.
    QImage frame_;
    ViewState frameState_;
    qint64 storeVersion_ = 0;
    qint64 frameVersion_ = -1;
};

} // namespace lumora::waveform
