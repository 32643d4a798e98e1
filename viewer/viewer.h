// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/settings_store.h"
#include "timeline/day_files.h"
#include "timeline/reply_store.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

class QDockWidget;
class QMimeData;
class QPlainTextEdit;

namespace lumora::waveform {
class SignalWindow;
}

namespace lumora::viewer {

// The local files among dropped URLs; nothing for anything else.
[[nodiscard]] QStringList droppedFiles(const QMimeData& data);

// The "Signals over Time" window over daily files: what is open, File >
// Open..., files dropped on it, and, while the view follows, what is appended
// to the last file.
class Viewer : public QObject {
    Q_OBJECT
public:
    // Often enough that an appended block shows within a second.
    static constexpr int kFollowIntervalMs = 250;

    explicit Viewer(QObject* parent = nullptr);
    ~Viewer() override;

    [[nodiscard]] waveform::SignalWindow& window() const { return *window_; }
    [[nodiscard]] const timeline::ReplyStore& store() const { return store_; }
    // The problems as the window lists them; empty when there is none.
    [[nodiscard]] QString problemsShown() const;

    // Shows these files, as one timeline, in place of those shown before.
    void open(const QStringList& paths);

public Q_SLOTS:
    // Takes in what was appended to the last file since it was last read.
    void followFiles();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void chooseFiles();
    void followSwitched(bool follow);
    void showWhatWasRead();

    timeline::ReplyStore store_;
    std::unique_ptr<timeline::DayFiles> days_;
    // The lanes the window leaves out, kept under the program's own name.
    settings::IniSettingsStore settings_;
    std::unique_ptr<waveform::SignalWindow> window_;
    QDockWidget* problemsDock_ = nullptr;
    QPlainTextEdit* problems_ = nullptr;
    QTimer followTimer_;
    QString lastFolder_;
};

} // namespace lumora::viewer
