// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"

#include <QMainWindow>
#include <QTimer>

class QAction;
class QLabel;
class QMenu;

namespace lumora::waveform {

class SignalView;

// The "Signals over Time" window over a store someone else fills: the
// client's live replies, or the viewer's daily files. Its title is the
// owner's to set.
class SignalWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit SignalWindow(const timeline::ReplyStore& store, QWidget* parent = nullptr);
    ~SignalWindow() override;

    [[nodiscard]] SignalView* view() const { return view_; }
    // The owner adds its own entries (the viewer's Open...).
    [[nodiscard]] QMenu* fileMenu() const { return fileMenu_; }
    [[nodiscard]] QMenu* viewMenu() const { return viewMenu_; }
    // The status line's text as shown, which is also its accessible name.
    [[nodiscard]] QString statusText() const;
    // Text put after the status line's own, such as "; time steps back at ...".
    void setNote(const QString& note);

    // What File > Export... does once a name is chosen: the shown span, by
    // the name's extension, pictures at the view's size. False with the
    // reason in `why`.
    [[nodiscard]] bool exportShown(const QString& path, QString& why) const;

public Q_SLOTS:
    // Replies were appended to the store, or dropped off it; repaints are
    // coalesced.
    void storeChanged();

private:
    void updateStatus();
    void exportChosen();
    void hiddenChanged();

    const timeline::ReplyStore& store_;
    SignalView* view_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QLabel* status_ = nullptr;
    QString note_;
    QList<QAction*> hideCounters_;
    QList<QAction*> hideGaps_;
    // The status line follows the store at most as often as the view repaints.
    QTimer statusCoalesce_;
    bool statusPending_ = false;
};

} // namespace lumora::waveform
