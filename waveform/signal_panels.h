// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/measure.h"
#include "timeline/reply_store.h"

#include <QObject>
#include <QTimer>

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
    void changed();
    void refresh();
    void goToTyped();
    void findTyped();
    void showItem(const QListWidgetItem* item);

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
    QTimer coalesce_;
    bool pending_ = false;
    // The view's store version the findings were last listed at: a store
    // cleared and filled again to the same size is another store.
    qint64 listedAt_ = -1;
};

} // namespace lumora::waveform
