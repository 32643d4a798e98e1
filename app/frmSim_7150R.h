// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/client_session.h"
#include "app/window_controls.h"
#include "platform/widgets/services.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <utility>

class QAction;
class QMenu;

namespace lumora::waveform {
class SignalWindow;
}

namespace lumora::app {

// What the window needs from the platform, every one of them; tests put fakes
// in place.
struct Services {
    platform::Clock& clock;
    platform::widgets::Beeper& beeper;
    platform::widgets::Dialogs& dialogs;
    platform::widgets::Shell& shell;
    settings::SettingsStore& settings;
    platform::IcmpService& icmp;
    // The folder the Log folder lies in: the program's own, or the user's data
    // folder when the program runs installed (logHome).
    QString programDir;
};

// The one window, a shell over the client's session: its handlers read the
// controls, hand over to the session, and show what the session reports.
// Events reach them only through the controls and the session.
class frmSim_7150R : public QWidget, private WindowControls {
    Q_OBJECT
public:
    explicit frmSim_7150R(const Services& services, QWidget* parent = nullptr);
    ~frmSim_7150R() override;

    // The session the window shows: its log, its replies, its state.
    [[nodiscard]] ClientSession& session() { return session_; }

Q_SIGNALS:
    // The window was closed: the program ends, whoever runs it decides how.
    void endRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Main loads the window: it alone runs the load handler.
    friend std::unique_ptr<frmSim_7150R> Main(const Services& services);

    void Form_Load();

    // Connection
    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void Winsock1_Connect();
    void Winsock1_Close();

    // Sending and scheduling
    void cmdSend_Click();
    void showSending(bool repeating);
    void optCommand_Click(int index);
    void chkDOValue_Click(int index);
    void optInterval_Click(int index);
    void optLog_Click(int index);
    void cmdEnd_Click();

    // Receiving
    void showRefused(const QString& text);

    // Ping test
    void cmdPingStart_Click();
    void cmdPingStop_Click();

    // Log
    void cmdClear_Click();

    // Settings and window behaviour
    void txtDestIP_Change();
    void txtDestPort_Change();
    void cboTime_Change();
    void cboTime_Click();
    void Label11_Click();
    // The way into the signals over time: the context menu's one entry and F9.
    void openSignals();
    // The context menu for a right-click on `clicked`; false where there is none.
    bool popUpSignalsMenu(const QWidget* clicked, const QPoint& globalPos);

    void wireEvents();
    void selectNewestWhenTurnEnds();
    // False when the window was closed while the box was up: the caller
    // then stops where it is.
    [[nodiscard]] bool showErrorBox(const QString& text);

    Services services_;
    ClientSession session_;
    platform::EventGate& gate_;
    bool centred_ = false;
    bool selectNewestPending_ = false;
    // Where the scroll bars stood when the full list's newest row was last
    // scrolled into view.
    std::optional<std::pair<int, int>> newestInViewAt_;
    QAction* signalsAction_ = nullptr;
    QMenu* signalsMenu_ = nullptr;
    // Made on the first request, gone when closed.
    QPointer<waveform::SignalWindow> signalsWindow_;
};

} // namespace lumora::app
