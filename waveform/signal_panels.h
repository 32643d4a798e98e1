// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/measure.h"
#include "timeline/reply_store.h"
#include "waveform/coalesced.h"

#include <QObject>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMainWindow;
class QPlainTextEdit;

namespace lumora::waveform {

class SignalView;

// What the Signals window shows around its view: under the lanes the
// measurements of the span between the cursors (the whole view while fewer
// than two are down) and the findings of all that is loaded; beside them Go
// to time and Find. Clicking a finding or a stretch moves the view there.
// Follows the view and the store at most as often as the view repaints.
class SignalPanels : public QObject {
    Q_OBJECT
public:
    SignalPanels(const timeline::ReplyStore& store, SignalView* view, QMainWindow* window);

private:
    void refresh();
    void goToTyped();
    void findTyped();
    void showItem(const QListWidgetItem* item);
    // The findings of all the store holds, folding only what was appended
    // since the last time while nothing was dropped or replaced. False when
    // nothing came.
    [[nodiscard]] bool catchUp();

    const timeline::ReplyStore& store_;
    SignalView* view_;
    // One per store: a span costs its two ends and a merge per chunk.
    timeline::MeasureCache cache_;
    QPlainTextEdit* measurements_ = nullptr;
    QListWidget* findings_ = nullptr;
    QLineEdit* goTo_ = nullptr;
    QLineEdit* find_ = nullptr;
    QLabel* reason_ = nullptr;
    QListWidget* stretches_ = nullptr;
    Coalesced coalesce_;
    // All the store held, measured up to the reply appended as number
    // allUpTo_ - 1, the store's first then being number allFrom_.
    timeline::Measure all_;
    qint64 allFrom_ = 0;
    qint64 allUpTo_ = 0;
    // What the findings list shows, and in which clock.
    std::vector<timeline::Finding> listed_;
    bool listedLocal_ = false;
};

} // namespace lumora::waveform
