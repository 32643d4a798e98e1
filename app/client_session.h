// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/live_signals.h"
#include "app/winsock.h"
#include "log/log_list_model.h"
#include "ping/tick_runner.h"
#include "platform/clock.h"
#include "platform/event_gate.h"
#include "platform/icmp_service.h"
#include "platform/timer.h"
#include "protocol/command_frame.h"
#include "protocol/status_reply.h"
#include "settings/settings_store.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace lumora::app {

// What the session needs from the system; tests put fakes in place.
struct SessionServices {
    platform::Clock& clock;
    settings::SettingsStore& settings;
    platform::IcmpService& icmp;
    // The folder the Log folder lies in (logHome).
    QString programDir;
};

// The three texts the window starts with, as stored or by default.
struct StoredFields {
    QString address;
    QString port;
    QString interval;
};

// The client's rules, without a widget: the connection to the unit, what a
// send does in each state, the status wait, repetition and End, reconnecting
// on the next send, the ping's schedule, the decoded reply, the log and its
// daily file, and the settings. The window tells it what the user set and
// did, and shows what it reports. Every event it hears runs through its gate,
// one at a time, so that nothing runs while a handler waits in a box.
class ClientSession : public QObject {
    Q_OBJECT
public:
    explicit ClientSession(const SessionServices& services, QObject* parent = nullptr);
    ~ClientSession() override;

    [[nodiscard]] platform::EventGate& gate() { return gate_; }
    [[nodiscard]] const log::LogListModel& logLines() const { return logModel_; }
    [[nodiscard]] log::LogListModel& logLines() { return logModel_; }
    [[nodiscard]] LiveReplies& liveReplies() { return liveReplies_; }
    [[nodiscard]] Winsock& Winsock1() { return winsock_; }
    [[nodiscard]] bool isConnected() const { return winsock_.state() == Winsock::State::Connected; }
    // A status request went out and nothing has arrived since.
    [[nodiscard]] bool isStatusAwaited() const { return mbStatusWait; }
    [[nodiscard]] bool isRepeating() const { return sendTimer_.isEnabled(); }
    [[nodiscard]] bool isPinging() const { return pingTimer_.isEnabled(); }

    // Reads the stored fields; unreadable settings are said in the log once.
    [[nodiscard]] StoredFields load();

    // What the user set. The address, port and interval are stored as they change.
    void setAddress(const QString& address);
    void setPortText(const QString& port);
    void setIntervalText(const QString& interval);
    void setCommand(protocol::Command command) { command_ = command; }
    void setOutput(int index, int value) { outputs_.at(static_cast<std::size_t>(index)) = value; }
    void setRepeat(bool repeat) { repeat_ = repeat; }
    void setWriteToFile(bool write) { writeToFile_ = write; }

    // What the user did.
    void connectToUnit();
    void disconnectFromUnit();
    // Sends the set command once, or starts repeating it at the set interval.
    void send();
    // Stops repeating at once; the rest of End runs in the gate's turn.
    void stopRepeating() { sendTimer_.setEnabled(false); }
    void end();
    void startPing();
    void stopPing();
    // A line of the program's own into the log.
    void addLog(const QString& line);
    void clearLog() { logModel_.clear(); }
    // The program ends: nothing queued or ticking runs after this.
    void shutDown();

    // The connection's events, each as the socket reports it.
    void Winsock1_Connect();
    void Winsock1_Close();
    void Winsock1_Error(lumora::platform::UnitConnection::Error error);
    void Winsock1_DataArrival(const QByteArray& bytes);

    // The time stamp of a line written now.
    [[nodiscard]] QString GetTimeStamp() const;

Q_SIGNALS:
    void connected();
    void closed();
    // A send went out or was tried: the mode can no longer be changed until End.
    void sendStarted(bool repeating);
    void pingStarted();
    void pingStopped();
    // A reply's values, each where it is shown. Counters and time gaps come
    // only when they differ from what was last shown.
    void inputShown(int input, int state);
    void outputShown(int output, int state);
    void counterShown(int input, const QString& text);
    void timeGapShown(int input, const QString& text);
    // A value that cannot be shown: the user is told, and the reply goes on
    // with the next value unless the program ended meanwhile.
    void displayRefused(const QString& text);

private:
    void ConnectSocket();
    void SendTimer_Timer();
    void ShowStatus(const QByteArray& bytes);
    void PingTimer_Timer();
    void PingTick_Done(quint64 tick, const QString& line);
    void WriteLogFile(const QString& text, const QDate& localDate);
    void saveSetting(const QString& key, const QString& value);
    void settingsWritten(bool ok, const QString& reason);
    [[nodiscard]] bool refuse();

    SessionServices services_;
    platform::EventGate gate_;
    Winsock winsock_{gate_};
    platform::Timer sendTimer_{gate_, 1000};
    platform::Timer pingTimer_{gate_, 1000};
    log::LogListModel logModel_;
    ping::TickRunner pinger_{services_.icmp};
    LiveReplies liveReplies_;

    QString address_;
    QString port_;
    QString interval_;
    protocol::Command command_ = protocol::Command::StatusRequest;
    std::array<int, protocol::kOutputCount> outputs_{};
    bool repeat_ = false;
    bool writeToFile_ = false;

    bool mbStatusWait = false;
    bool settingsFailing_ = false;
    // The tick whose line is awaited (0: none), and whether a tick fell due
    // while it was.
    quint64 pingOutstanding_ = 0;
    bool pingTickDue_ = false;
    // The counter and time-gap values last shown (none before the first
    // reply): a value that stays is neither formatted nor shown again.
    std::array<std::optional<std::uint32_t>, protocol::kInputCount> shownCounters_{};
    std::array<std::optional<std::uint32_t>, protocol::kInputCount> shownTimeGaps_{};
};

} // namespace lumora::app
