// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/settings_store.h"
#include "timeline/lanes.h"
#include "timeline/reply_store.h"
#include "waveform/coalesced.h"

#include <QMainWindow>

class QAction;
class QLabel;
class QMenu;

namespace lumora::waveform {

class LaneChoice;
class SignalView;

// The "Signals over Time" window over a store someone else fills: the
// client's live replies, or the viewer's daily files. Its title is the
// owner's to set. The lanes it leaves out are kept in the owner's settings,
// under its application name (see LaneChoice).
class SignalWindow : public QMainWindow {
    Q_OBJECT
public:
    SignalWindow(const timeline::ReplyStore& store, settings::SettingsStore& settings,
                 const QString& application, QWidget* parent = nullptr);
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
    void showHidden(timeline::LaneSet hidden);
    void keepChoice(bool kept);

    const timeline::ReplyStore& store_;
    SignalView* view_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QLabel* status_ = nullptr;
    QString note_;
    LaneChoice* lanes_ = nullptr;
    QList<QAction*> hideLane_; // by lane
    QAction* hideStill_ = nullptr;
    // The status line follows the store at most as often as the view repaints.
    Coalesced statusCoalesce_;
};

} // namespace lumora::waveform
