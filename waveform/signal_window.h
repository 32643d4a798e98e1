// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"

#include <QMainWindow>

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
    // The status line's text as shown, which is also its accessible name.
    [[nodiscard]] QString statusText() const;
    // Text put after the status line's own, such as "; time steps back at ...".
    void setNote(const QString& note);

public Q_SLOTS:
    // Replies were appended to the store, or dropped off it; repaints are
    // coalesced.
    void storeChanged();

private:
    void updateStatus();

    const timeline::ReplyStore& store_;
    SignalView* view_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QLabel* status_ = nullptr;
    QString note_;
};

} // namespace lumora::waveform
