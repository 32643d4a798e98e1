// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/live_signals.h"
#include "app/window_controls.h"
#include "log/log_list_model.h"
#include "ping/tick_runner.h"
#include "platform/clock.h"
#include "platform/event_gate.h"
#include "platform/icmp_service.h"
#include "platform/timer.h"
#include "platform/widgets/services.h"
#include "platform/winsock.h"
#include "protocol/status_reply.h"
#include "settings/settings_store.h"

#include <QByteArray>
#include <QPointer>
#include <QWidget>

#include <array>
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

// The one window. Its handlers are thin: they read controls, call the
// protocol, log and link code, and write controls and the log. Events reach
// them only through the controls, the socket and the timers.
class frmSim_7150R : public QWidget, private WindowControls {
    Q_OBJECT
public:
    explicit frmSim_7150R(const Services& services, QWidget* parent = nullptr);
    ~frmSim_7150R() override;

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
    // Tests reach what no control shows or allows through this one door (tests/windowprobe.h).
    friend class WindowProbe;

    void Form_Load();

    // Connection
    void ConnectSocket();
    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void Winsock1_Connect();
    void Winsock1_Close();
    void Winsock1_ConnectFailed(const QString& reason);

    // Sending and scheduling
    void cmdSend_Click();
    void optCommand_Click(int index);
    void chkDOValue_Click(int index);
    void optInterval_Click(int index);
    void SendTimer_Timer();
    void cmdEnd_Click();

    // Receiving
    void Winsock1_DataArrival(const QByteArray& bytes);
    void ShowStatus(const QByteArray& bytes);

    // Ping test
    void cmdPingStart_Click();
    void cmdPingStop_Click();
    void PingTimer_Timer();
    void PingTick_Done(quint64 tick, const QString& line);

    // Log
    void AddLog(const QString& line);
    // The lines of one block, each as by AddLog, shown in one go.
    void AddLog(const QStringList& lines);
    QString GetTimeStamp() const;
    // Into the file of the day the text's reply came, by the local date.
    void WriteLogFile(const QString& text, const QDate& localDate);
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
    void saveSetting(const QString& key, const QString& value);
    void settingsWritten(bool ok, const QString& reason);
    void selectNewestWhenTurnEnds();
    // False when the window was closed while the box was up: the caller
    // then stops where it is.
    [[nodiscard]] bool showErrorBox(const QString& text);

    bool mbStatusWait = false;

    Services services_;
    platform::EventGate gate_;
    platform::Winsock winsock_{gate_};
    platform::Timer sendTimer_{gate_, 1000};
    platform::Timer pingTimer_{gate_, 1000};
    log::LogListModel logModel_;
    ping::TickRunner pinger_{services_.icmp};
    // The tick whose line is awaited (0: none), and whether a tick fell due
    // while it was.
    quint64 pingOutstanding_ = 0;
    bool pingTickDue_ = false;
    bool centred_ = false;
    bool settingsFailing_ = false;
    bool selectNewestPending_ = false;
    // The values the counter and time-gap boxes show (none before the first
    // reply): a value that stays is neither formatted nor set again.
    std::array<std::optional<std::uint32_t>, protocol::kInputCount> shownCounters_{};
    std::array<std::optional<std::uint32_t>, protocol::kInputCount> shownTimeGaps_{};
    // Where the scroll bars stood when the full list's newest row was last
    // scrolled into view.
    std::optional<std::pair<int, int>> newestInViewAt_;
    // Before the window that shows it, which it outlives.
    LiveReplies liveReplies_;
    QAction* signalsAction_ = nullptr;
    QMenu* signalsMenu_ = nullptr;
    // Made on the first request, gone when closed.
    QPointer<waveform::SignalWindow> signalsWindow_;
};

} // namespace lumora::app
