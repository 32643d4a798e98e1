// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/client_session.h"

#include "app/send_rules.h"
#include "log/daily_log.h"
#include "log/recv_block.h"
#include "log/time_stamp.h"
#include "protocol/hex_text.h"
#include "settings/conversions.h"
#include "settings/settings_keys.h"

#include <utility>

namespace lumora::app {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
// A state number no indicator shows: the window's controls have always said so this way.
constexpr int kRefusedValueCode = 380;
const QString kRefusedValueText = QStringLiteral("Invalid property value");

} // namespace

ClientSession::ClientSession(const SessionServices& services, QObject* parent)
    : QObject(parent)
    , services_(services) {
    connect(&winsock_, &Winsock::connected, this, &ClientSession::Winsock1_Connect);
    connect(&winsock_, &Winsock::closed, this, &ClientSession::Winsock1_Close);
    connect(&winsock_, &Winsock::dataArrival, this, &ClientSession::Winsock1_DataArrival);
    connect(&winsock_, &Winsock::errorOccurred, this, &ClientSession::Winsock1_Error);
    // The store writes on a thread of its own; how it went comes back here.
    connect(&services_.settings, &settings::SettingsStore::written, this,
            [this] { gate_.deliver([this] { settingsWritten(true, QString()); }); });
    connect(&services_.settings, &settings::SettingsStore::errorOccurred, this,
            [this] { gate_.deliver([this] { settingsWritten(false, services_.settings.errorString()); }); });
    connect(&sendTimer_, &platform::Timer::tick, this, &ClientSession::SendTimer_Timer);
    connect(&pingTimer_, &platform::Timer::tick, this, &ClientSession::PingTimer_Timer);
    connect(&pinger_, &ping::TickRunner::done, this, [this](quint64 tick, const QString& line) {
        gate_.deliver([this, tick, line] { PingTick_Done(tick, line); });
    });
}

ClientSession::~ClientSession() {
    gate_.shutDown();
}

void ClientSession::shutDown() {
    gate_.shutDown();
    sendTimer_.setEnabled(false);
    pingTimer_.setEnabled(false);
}

// ---- Settings --------------------------------------------------------------

StoredFields ClientSession::load() {
    auto read = [this](const QString& key, const QString& fallback) {
        return services_.settings.read(settings::kApplication, settings::kSection, key, fallback);
    };
    StoredFields fields{.address = read(settings::kAddressKey, settings::kDefaultAddress),
                        .port = read(settings::kPortKey, settings::kDefaultPort),
                        .interval = read(settings::kIntervalKey, settings::kDefaultInterval)};
    if (!services_.settings.isReadable(settings::kApplication)) {
        addLog(GetTimeStamp() + QStringLiteral(" Settings Read Fail!! ") + services_.settings.errorString() +
               QStringLiteral(": left as it is, starting on the defaults"));
        // The store refuses every save now; this line has said so.
        settingsFailing_ = true;
    }
    return fields;
}

void ClientSession::setAddress(const QString& address) {
    address_ = address;
    saveSetting(settings::kAddressKey, address);
}

void ClientSession::setPortText(const QString& port) {
    port_ = port;
    saveSetting(settings::kPortKey, port);
}

void ClientSession::setIntervalText(const QString& interval) {
    interval_ = interval;
    saveSetting(settings::kIntervalKey, interval);
}

void ClientSession::saveSetting(const QString& key, const QString& value) {
    // A refusal is known at once; a write's outcome comes later, through settingsWritten.
    if (!services_.settings.save(settings::kApplication, settings::kSection, key, value))
        settingsWritten(false, services_.settings.errorString());
}

void ClientSession::settingsWritten(bool ok, const QString& reason) {
    // Said once when saving starts to fail, not on every keystroke after.
    if (!ok && !settingsFailing_)
        addLog(GetTimeStamp() + QStringLiteral(" Settings Save Fail!! ") + reason);
    settingsFailing_ = !ok;
}

// ---- Connection ------------------------------------------------------------

void ClientSession::ConnectSocket() {
    winsock_.close();
    const auto port = settings::portFromText(port_);
    if (!port) {
        addLog(GetTimeStamp() + event_line::kInvalidPort + port_);
        return;
    }
    winsock_.setRemoteHost(address_);
    winsock_.setRemotePort(*port);
    winsock_.connectToHost();
}

void ClientSession::connectToUnit() {
    ConnectSocket();
}

void ClientSession::disconnectFromUnit() {
    winsock_.close();
    Winsock1_Close();
}

void ClientSession::Winsock1_Connect() {
    Q_EMIT connected();
    addLog(GetTimeStamp() + event_line::kConnected);
}

void ClientSession::Winsock1_Close() {
    // No reply can come on a closed connection: a request still awaited
    // would otherwise hold repeated sending, and with it the reconnect, for good.
    mbStatusWait = false;
    Q_EMIT closed();
    addLog(GetTimeStamp() + event_line::kClosed);
}

void ClientSession::Winsock1_Error(Winsock::Error) {
    addLog(GetTimeStamp() + event_line::kConnectFail + winsock_.errorString());
}

// ---- Sending and scheduling ------------------------------------------------

void ClientSession::send() {
    if (repeat_) {
        sendTimer_.setInterval(settings::intervalMsFromText(interval_));
        sendTimer_.setEnabled(true);
    }
    Q_EMIT sendStarted(repeat_);

    const QByteArray frame = protocol::buildFrame(command_, outputs_);
    const QString sendLine = GetTimeStamp() + event_line::kSend + protocol::hexText(frame);

    const SendPlan plan = planSend(isConnected(), repeat_);
    if (plan.handOver) {
        const bool waitedBefore = mbStatusWait;
        mbStatusWait = statusWaitAfterSend(waitedBefore, command_, true);
        if (!winsock_.sendData(frame)) {
            mbStatusWait = statusWaitAfterSend(waitedBefore, command_, false);
            addLog(GetTimeStamp() + event_line::kSendFail);
            return;
        }
        addLog(sendLine);
        return;
    }
    addLog(GetTimeStamp() + event_line::kSendFail);
    if (plan.reconnect) {
        ConnectSocket();
        addLog(GetTimeStamp() + event_line::kReconnecting);
    }
}

void ClientSession::SendTimer_Timer() {
    if (tickSends(mbStatusWait))
        send();
}

void ClientSession::end() {
    if (sendTimer_.isEnabled())
        sendTimer_.setEnabled(false);
}

// ---- Receiving -------------------------------------------------------------

void ClientSession::Winsock1_DataArrival(const QByteArray& bytes) {
    mbStatusWait = false;
    if (bytes.size() > 1)
        ShowStatus(bytes);
}

bool ClientSession::refuse() {
    Q_EMIT displayRefused(QStringLiteral("Data Display Error!!") + kCrLf + QStringLiteral("Error Number : ") +
                          QString::number(kRefusedValueCode) + kCrLf + QStringLiteral("Error Description : ") +
                          kRefusedValueText);
    // Closing the window while told ends the program there: nothing more of
    // this reply is shown, logged or filed, and nobody is told again.
    return !gate_.isShutDown();
}

void ClientSession::ShowStatus(const QByteArray& bytes) {
    if (bytes.size() != protocol::kStatusReplySize) {
        addLog(protocol::wrongLengthLine(bytes.size()));
        return;
    }
    // One reading of the clock for the reply: the store, the log line and the
    // day file all place it at the moment it came, however long the user
    // takes over a refused value below. A refused value is kept too and shows
    // as such over time.
    const QDateTime came = services_.clock.nowUtc();
    liveReplies_.take(came.toMSecsSinceEpoch(), bytes);
    // A value that cannot be shown is reported and skipped; the rest is still shown.
    for (int k = 0; k < protocol::kInputCount; ++k) {
        const int state = protocol::inputState(bytes, k);
        if (protocol::isShownState(state))
            Q_EMIT inputShown(k, state);
        else if (!refuse())
            return;
    }
    // Most replies repeat most values: only a new one is formatted and shown.
    auto showNumber = [](std::optional<std::uint32_t>& shown, std::uint32_t value) {
        return std::exchange(shown, value) != value;
    };
    for (int k = 0; k < protocol::kInputCount; ++k) {
        if (const std::uint32_t value = protocol::counterValue(bytes, k); showNumber(shownCounters_[k], value))
            Q_EMIT counterShown(k, protocol::counterText(value));
    }
    for (int k = 0; k < protocol::kInputCount; ++k) {
        if (const std::uint32_t value = protocol::timeGapValue(bytes, k); showNumber(shownTimeGaps_[k], value))
            Q_EMIT timeGapShown(k, protocol::timeGapText(value));
    }
    for (int k = 0; k < protocol::kOutputCount; ++k) {
        const int state = protocol::outputState(bytes, k);
        if (protocol::isShownState(state)) {
            // What the unit says its outputs are is what the next output setting sends.
            outputs_.at(static_cast<std::size_t>(k)) = state;
            Q_EMIT outputShown(k, state);
        } else if (!refuse()) {
            return;
        }
    }

    const QStringList block = log::recvBlockLines(log::formatTimeStamp(came.toUTC().time()), bytes);
    logModel_.append(block);

    if (writeToFile_)
        WriteLogFile(log::dailyFileText(block), services_.clock.localDate(came));
}

// ---- Log -------------------------------------------------------------------

void ClientSession::addLog(const QString& line) {
    logModel_.append(line);
}

QString ClientSession::GetTimeStamp() const {
    return log::formatTimeStamp(services_.clock.nowUtc().toUTC().time());
}

void ClientSession::WriteLogFile(const QString& text, const QDate& localDate) {
    log::DailyLogFile file(log::dailyLogPath(services_.programDir, localDate));
    if (!file.appendLine(text))
        addLog(GetTimeStamp() + QStringLiteral(" Log File Write Fail!! ") + file.fileName() + QStringLiteral(" : ") +
               file.errorString());
}

// ---- Ping test -------------------------------------------------------------

void ClientSession::startPing() {
    PingTimer_Timer();
    pingTimer_.setEnabled(true);
    Q_EMIT pingStarted();
}

void ClientSession::stopPing() {
    if (!pingTimer_.isEnabled())
        return;
    pingTimer_.setEnabled(false);
    // An echo still awaited is abandoned: its line is dropped when it comes.
    pingOutstanding_ = 0;
    pingTickDue_ = false;
    Q_EMIT pingStopped();
    addLog(QStringLiteral("Ping Test End~!!"));
}

void ClientSession::PingTimer_Timer() {
    // One request at a time. A tick that falls due meanwhile goes out as soon
    // as the line of the one awaited is in, so a silent host is asked about
    // every 2.7 s and one that answers every second.
    if (pingOutstanding_ != 0) {
        pingTickDue_ = true;
        return;
    }
    pingOutstanding_ = pinger_.start(address_);
}

void ClientSession::PingTick_Done(quint64 tick, const QString& line) {
    if (tick != pingOutstanding_)
        return;
    pingOutstanding_ = 0;
    addLog(line);
    if (std::exchange(pingTickDue_, false))
        PingTimer_Timer();
}

} // namespace lumora::app
