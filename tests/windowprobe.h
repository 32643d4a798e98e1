// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/frmSim_7150R.h"

// In the window's namespace: it befriends exactly lumora::app::WindowProbe.
namespace lumora::app {

// The tests' one way into the window past its controls: state that no
// control shows, and handlers run at moments no control allows (inside
// another handler, on a closed connection, with bytes no socket gave).
class WindowProbe {
public:
    explicit WindowProbe(frmSim_7150R& window)
        : window_(window) {}

    const log::LogListModel& logLines() const { return window_.logModel_; }
    bool& mbStatusWait() { return window_.mbStatusWait; }
    platform::EventGate& gate() { return window_.gate_; }
    platform::Winsock& Winsock1() { return window_.winsock_; }
    platform::Timer& SendTimer() { return window_.sendTimer_; }
    platform::Timer& PingTimer() { return window_.pingTimer_; }
    const timeline::ReplyStore& liveReplies() const { return window_.liveReplies_.store(); }

    void Winsock1_DataArrival(const QByteArray& bytes) { window_.Winsock1_DataArrival(bytes); }
    void ShowStatus(const QByteArray& bytes) { window_.ShowStatus(bytes); }
    void AddLog(const QString& line) { window_.AddLog(line); }
    QString GetTimeStamp() const { return window_.GetTimeStamp(); }
    void cmdEnd_Click() { window_.cmdEnd_Click(); }
    void cmdPingStart_Click() { window_.cmdPingStart_Click(); }
    void PingTimer_Timer() { window_.PingTimer_Timer(); }

private:
    frmSim_7150R& window_;
};

} // namespace lumora::app
