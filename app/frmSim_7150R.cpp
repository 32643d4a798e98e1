// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmSim_7150R.h"

#include "app/layout.h"
#include "app/send_rules.h"
#include "app/window_builder.h"
#include "log/daily_log.h"
#include "log/recv_block.h"
#include "log/time_stamp.h"
#include "platform/widgets/input_hold.h"
#include "platform/widgets/numeric_key_filter.h"
#include "platform/widgets/paint_throttle.h"
#include "platform/widgets/system_colour.h"
#include "protocol/command_frame.h"
#include "protocol/hex_text.h"
#include "protocol/status_reply.h"
#include "settings/conversions.h"
#include "settings/settings_keys.h"
#include "waveform/signal_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QUrl>

#include <tuple>
#include <utility>

namespace lumora::app {


namespace {

const QString kCrLf = QStringLiteral("\r\n");

constexpr QColor kTickedText{0xFF, 0x00, 0x00};
constexpr QColor kTickedBack{0x80, 0xFF, 0xFF};
constexpr QColor kUntickedText{0x80, 0x80, 0x80};
constexpr QColor kWhite{0xFF, 0xFF, 0xFF};

} // namespace

frmSim_7150R::frmSim_7150R(const Services& services, QWidget* parent)
    : QWidget(parent)
    , services_(services) {
    setObjectName(QStringLiteral("frmSim_7150R"));
    buildWindow(*this, *this);
    List1->setModel(&logModel_);
    // Rows laid out anew: where the newest stood tells nothing any more.
    connect(&logModel_, &QAbstractItemModel::modelReset, this, [this] { newestInViewAt_.reset(); });
    // Right-clicks on the read-only boxes reach the window's menu like those
    // anywhere else; only the three fields keep an edit menu of their own.
    for (auto* boxes : {&txtCounter, &txtTimegap})
        for (platform::widgets::TextBox* box : *boxes)
            box->setContextMenuPolicy(Qt::NoContextMenu);
    // A disabled control drops a right-click without passing it on: the
    // window hears of it here instead (eventFilter).
    for (QWidget* control : findChildren<QWidget*>())
        control->installEventFilter(this);
    signalsAction_ = new QAction(kSignalsEntry, this);
    // F9 types no character, so the fields' key filters let it by wherever the focus is.
    signalsAction_->setShortcut(QKeySequence(Qt::Key_F9));
    signalsAction_->setShortcutContext(Qt::WindowShortcut);
    addAction(signalsAction_);
    signalsMenu_ = new QMenu(this);
    signalsMenu_->addAction(signalsAction_);
    wireEvents();
    new platform::widgets::PaintThrottle(this);
}

frmSim_7150R::~frmSim_7150R() {
    gate_.shutDown();
    delete signalsWindow_.data();
}

void frmSim_7150R::wireEvents() {
    auto onClick = [this](QPushButton* button, void (frmSim_7150R::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { gate_.deliver([this, handler] { (this->*handler)(); }); });
    };
    onClick(cmdConnect, &frmSim_7150R::cmdConnect_Click);
    onClick(cmdDisconnect, &frmSim_7150R::cmdDisconnect_Click);
    onClick(cmdPingStart, &frmSim_7150R::cmdPingStart_Click);
    onClick(cmdPingStop, &frmSim_7150R::cmdPingStop_Click);
    onClick(cmdSend, &frmSim_7150R::cmdSend_Click);
    // A click on End stops repetition at once, even while a box holds the
    // handlers: a tick that fell due meanwhile would otherwise still send,
    // and its reply bring one box more. The rest of End runs in its turn.
    connect(cmdEnd, &QPushButton::clicked, this, [this] { sendTimer_.setEnabled(false); });
    onClick(cmdEnd, &frmSim_7150R::cmdEnd_Click);
    onClick(cmdClear, &frmSim_7150R::cmdClear_Click);

    using platform::widgets::connectChange;
    for (int i = 0; i < 3; ++i)
        connectChange(optCommand[i], &platform::widgets::OptionButton::selected, this, gate_,
                      [this, i] { optCommand_Click(i); });
    for (int i = 0; i < 2; ++i)
        connectChange(optInterval[i], &platform::widgets::OptionButton::selected, this, gate_,
                      [this, i] { optInterval_Click(i); });
    for (int i = 0; i < 4; ++i)
        connectChange(chkDOValue[i], &platform::widgets::CheckBox::changed, this, gate_,
                      [this, i] { chkDOValue_Click(i); });
    connectChange(txtDestIP, &platform::widgets::TextBox::changed, this, gate_, [this] { txtDestIP_Change(); });
    connectChange(txtDestPort, &platform::widgets::TextBox::changed, this, gate_,
                  [this] { txtDestPort_Change(); });
    connectChange(cboTime, &platform::widgets::ComboBox::changed, this, gate_, [this] { cboTime_Change(); });
    // Picking an item and clicking the link are the user's alone.
    connect(cboTime, &QComboBox::activated, this, [this] { gate_.deliver([this] { cboTime_Click(); }); });
    connect(Label11, &platform::widgets::LinkLabel::clicked, this,
            [this] { gate_.deliver([this] { Label11_Click(); }); });
    connect(signalsAction_, &QAction::triggered, this, [this] { gate_.deliver([this] { openSignals(); }); });

    for (QWidget* field : {static_cast<QWidget*>(txtDestIP), static_cast<QWidget*>(txtDestPort),
                           static_cast<QWidget*>(cboTime)})
        connect(platform::widgets::NumericKeyFilter::install(field), &platform::widgets::NumericKeyFilter::refused,
                this, [this] { services_.beeper.beep(); });

    connect(&winsock_, &platform::Winsock::connected, this, &frmSim_7150R::Winsock1_Connect);
    connect(&winsock_, &platform::Winsock::closed, this, &frmSim_7150R::Winsock1_Close);
    connect(&winsock_, &platform::Winsock::dataArrival, this, &frmSim_7150R::Winsock1_DataArrival);
    connect(&winsock_, &platform::Winsock::connectFailed, this, &frmSim_7150R::Winsock1_ConnectFailed);
    // The store writes on a thread of its own; how it went comes back here.
    connect(&services_.settings, &settings::SettingsStore::written, this,
            [this] { gate_.deliver([this] { settingsWritten(true, QString()); }); });
    connect(&services_.settings, &settings::SettingsStore::errorOccurred, this,
            [this] { gate_.deliver([this] { settingsWritten(false, services_.settings.errorString()); }); });
    connect(&sendTimer_, &platform::Timer::tick, this, &frmSim_7150R::SendTimer_Timer);
    connect(&pingTimer_, &platform::Timer::tick, this, &frmSim_7150R::PingTimer_Timer);
    connect(&pinger_, &ping::TickRunner::done, this, [this](quint64 tick, const QString& line) {
        gate_.deliver([this, tick, line] { PingTick_Done(tick, line); });
    });
}

// ---- Start-up and settings -------------------------------------------------

void frmSim_7150R::Form_Load() {
    auto read = [this](const QString& key, const QString& fallback) {
        return services_.settings.read(settings::kApplication, settings::kSection, key, fallback);
    };
    const QString address = read(settings::kAddressKey, settings::kDefaultAddress);
    const QString port = read(settings::kPortKey, settings::kDefaultPort);
    const QString interval = read(settings::kIntervalKey, settings::kDefaultInterval);
    if (!services_.settings.isReadable(settings::kApplication)) {
        AddLog(GetTimeStamp() + QStringLiteral(" Settings Read Fail!! ") + services_.settings.errorString() +
               QStringLiteral(": left as it is, starting on the defaults"));
        // The store refuses every save now; this line has said so.
        settingsFailing_ = true;
    }
    txtDestIP->setTextByProgram(address);
    txtDestPort->setTextByProgram(port);
    cboTime->setTextByProgram(interval);
    for (int i = 0; i < static_cast<int>(chkDIValue.size()); ++i)
        chkDIValue[i]->setText(protocol::channelText(i));
}

void frmSim_7150R::saveSetting(const QString& key, const QString& value) {
    // A refusal is known at once; a write's outcome comes later, through settingsWritten.
    if (!services_.settings.save(settings::kApplication, settings::kSection, key, value))
        settingsWritten(false, services_.settings.errorString());
}

void frmSim_7150R::settingsWritten(bool ok, const QString& reason) {
    // Said once when saving starts to fail, not on every keystroke after.
    if (!ok && !settingsFailing_)
        AddLog(GetTimeStamp() + QStringLiteral(" Settings Save Fail!! ") + reason);
    settingsFailing_ = !ok;
}

void frmSim_7150R::txtDestIP_Change() {
    saveSetting(settings::kAddressKey, txtDestIP->text());
}

void frmSim_7150R::txtDestPort_Change() {
    saveSetting(settings::kPortKey, txtDestPort->text());
}

void frmSim_7150R::cboTime_Change() {
    saveSetting(settings::kIntervalKey, cboTime->currentText());
}

void frmSim_7150R::cboTime_Click() {
    saveSetting(settings::kIntervalKey, cboTime->currentText());
}

// ---- Connection ------------------------------------------------------------

void frmSim_7150R::ConnectSocket() {
    winsock_.close();
    const auto port = settings::portFromText(txtDestPort->text());
    if (!port) {
        AddLog(GetTimeStamp() + event_line::kInvalidPort +
               txtDestPort->text());
        return;
    }
    winsock_.setRemoteHost(txtDestIP->text());
    winsock_.setRemotePort(*port);
    winsock_.connectToHost();
}

void frmSim_7150R::cmdConnect_Click() {
    ConnectSocket();
}

void frmSim_7150R::cmdDisconnect_Click() {
    winsock_.close();
    Winsock1_Close();
}

void frmSim_7150R::Winsock1_Connect() {
    cmdConnect->setEnabled(false);
    cmdDisconnect->setEnabled(true);
    cmdSend->setEnabled(true);
    cmdEnd->setEnabled(true);
    AddLog(GetTimeStamp() + event_line::kConnected);
}

void frmSim_7150R::Winsock1_Close() {
    cmdConnect->setEnabled(true);
    cmdDisconnect->setEnabled(false);
    cmdSend->setEnabled(false);
    cmdEnd->setEnabled(false);
    // No reply can come on a closed connection: a request still awaited
    // would otherwise hold repeated sending, and with it the reconnect, for good.
    mbStatusWait = false;
    AddLog(GetTimeStamp() + event_line::kClosed);
}

void frmSim_7150R::Winsock1_ConnectFailed(const QString& reason) {
    AddLog(GetTimeStamp() + event_line::kConnectFail + reason);
}

// ---- Sending and scheduling ------------------------------------------------

void frmSim_7150R::cmdSend_Click() {
    if (optInterval[1]->isChecked()) {
        cmdSend->setEnabled(false);
        sendTimer_.setInterval(settings::intervalMsFromText(cboTime->currentText()));
        sendTimer_.setEnabled(true);
    }
    optInterval[0]->setEnabled(false);
    optInterval[1]->setEnabled(false);
    cboTime->setEnabled(false);

    int selected = 0;
    for (int i = 0; i < static_cast<int>(optCommand.size()); ++i) {
        if (optCommand[i]->isChecked())
            selected = i;
    }
    const auto command = static_cast<protocol::Command>(selected);
    const std::array<int, 4> outputs{chkDOValue[0]->value(), chkDOValue[1]->value(), chkDOValue[2]->value(),
                                     chkDOValue[3]->value()};
    const QByteArray frame = protocol::buildFrame(command, outputs);
    const QString sendLine = GetTimeStamp() + event_line::kSend + protocol::hexText(frame);

    const SendPlan plan = planSend(winsock_.state() == platform::Winsock::State::Connected, optInterval[1]->isChecked());
    if (plan.handOver) {
        const bool waitedBefore = mbStatusWait;
        mbStatusWait = statusWaitAfterSend(waitedBefore, command, true);
        if (!winsock_.sendData(frame)) {
            mbStatusWait = statusWaitAfterSend(waitedBefore, command, false);
            AddLog(GetTimeStamp() + event_line::kSendFail);
            return;
        }
        AddLog(sendLine);
        return;
    }
    AddLog(GetTimeStamp() + event_line::kSendFail);
    if (plan.reconnect) {
        ConnectSocket();
        AddLog(GetTimeStamp() + event_line::kReconnecting);
    }
}

void frmSim_7150R::optCommand_Click(int index) {
    if (index == static_cast<int>(protocol::Command::OutputSetting)) {
        for (platform::widgets::CheckBox* box : chkDOValue)
            box->setEnabled(true);
        return;
    }
    for (platform::widgets::CheckBox* box : chkDOValue) {
        // 0 is a value every box takes.
        std::ignore = box->setValue(0);
        box->setEnabled(false);
    }
}

void frmSim_7150R::chkDOValue_Click(int index) {
    platform::widgets::CheckBox* box = chkDOValue[index];
    if (box->value() == 1)
        box->setColours(kTickedText, kTickedBack);
    else
        box->setColours(kUntickedText, platform::widgets::systemColour(platform::widgets::SystemColour::ButtonFace));
}

void frmSim_7150R::optInterval_Click(int) {
    const bool repeat = optInterval[1]->isChecked();
    lblTime[0]->setEnabled(repeat);
    lblTime[1]->setEnabled(repeat);
    cboTime->setEnabled(repeat);
    cboTime->setBackground(repeat ? kWhite : platform::widgets::systemColour(platform::widgets::SystemColour::Menu));
}

void frmSim_7150R::SendTimer_Timer() {
    if (tickSends(mbStatusWait))
        cmdSend_Click();
}

void frmSim_7150R::cmdEnd_Click() {
    if (sendTimer_.isEnabled())
        sendTimer_.setEnabled(false);
    if (winsock_.state() == platform::Winsock::State::Connected && !cmdSend->isEnabled())
        cmdSend->setEnabled(true);
    optInterval[0]->setEnabled(true);
    optInterval[1]->setEnabled(true);
    cboTime->setEnabled(true);
}

// ---- Receiving -------------------------------------------------------------

void frmSim_7150R::Winsock1_DataArrival(const QByteArray& bytes) {
    mbStatusWait = false;
    if (bytes.size() > 1)
        ShowStatus(bytes);
}

bool frmSim_7150R::showErrorBox(const QString& text) {
    // End stays within reach: repetition against a unit whose every reply
    // brings a box must be stoppable (closing the window always is).
    const platform::widgets::InputHold hold(*this, {cmdEnd});
    services_.dialogs.critical(this, QStringLiteral("Error"), text);
    return !gate_.isShutDown();
}

void frmSim_7150R::ShowStatus(const QByteArray& bytes) {
    if (bytes.size() != protocol::kStatusReplySize) {
        AddLog(protocol::wrongLengthLine(bytes.size()));
        return;
    }
    // One reading of the clock for the reply: the store, the log line and the
    // day file all place it at the moment it came, however long a box below
    // holds it up. A refused value is kept too and shows as such over time.
    const QDateTime came = services_.clock.nowUtc();
    liveReplies_.take(came.toMSecsSinceEpoch(), bytes);
    // A value a box refuses is reported and skipped; the rest is still shown.
    // Closing the window during the box ends the program there: nothing more
    // of this reply is shown, logged or filed, and no further box comes up.
    using platform::widgets::CheckBox;
    auto show = [this](CheckBox* box, int state) {
        return box->setValue(state) ||
               showErrorBox(QStringLiteral("Data Display Error!!") + kCrLf +
                            QStringLiteral("Error Number : ") + QString::number(CheckBox::kRefusedValueCode) +
                            kCrLf + QStringLiteral("Error Description : ") + CheckBox::kRefusedValueText);
    };
    // Most replies repeat most values: only a new one is formatted and set.
    auto showNumber = [](platform::widgets::TextBox* box, std::optional<std::uint32_t>& shown, std::uint32_t value,
                         QString (*format)(std::uint32_t)) {
        if (shown == value)
            return;
        box->setTextByProgram(format(value));
        shown = value;
    };
    for (int k = 0; k < protocol::kInputCount; ++k) {
        if (!show(chkDIValue[k], protocol::inputState(bytes, k)))
            return;
    }
    for (int k = 0; k < protocol::kInputCount; ++k)
        showNumber(txtCounter[k], shownCounters_[k], protocol::counterValue(bytes, k), &protocol::counterText);
    for (int k = 0; k < protocol::kInputCount; ++k)
        showNumber(txtTimegap[k], shownTimeGaps_[k], protocol::timeGapValue(bytes, k), &protocol::timeGapText);
    for (int k = 0; k < protocol::kOutputCount; ++k) {
        if (!show(chkDOValue[k], protocol::outputState(bytes, k)))
            return;
    }

    const QStringList block = log::recvBlockLines(log::formatTimeStamp(came.toUTC().time()), bytes);
    AddLog(block);

    if (optLog[1]->isChecked())
        WriteLogFile(log::dailyFileText(block), services_.clock.localDate(came));
}

// ---- Log -------------------------------------------------------------------

void frmSim_7150R::AddLog(const QString& line) {
    logModel_.append(line);
    selectNewestWhenTurnEnds();
}

void frmSim_7150R::AddLog(const QStringList& lines) {
    logModel_.append(lines);
    selectNewestWhenTurnEnds();
}

void frmSim_7150R::selectNewestWhenTurnEnds() {
    // Selecting a row lays the whole list out at once; a reply adds six lines
    // and a fast repeat hundreds a second, so the newest line is selected and
    // scrolled into view once, when the handlers of this turn are done.
    if (selectNewestPending_)
        return;
    selectNewestPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            selectNewestPending_ = false;
            const int rows = logModel_.rowCount();
            if (rows == 0)
                return;
            const QModelIndex newest = logModel_.index(rows - 1);
            // A full list keeps its newest line in the last row: once selected,
            // that row stays so unless the user picks another.
            if (List1->currentIndex() != newest || !List1->selectionModel()->isSelected(newest))
                List1->setCurrentIndex(newest);
            // Nor does it move in view: a full list whose scroll bars stand
            // where the last scroll left them still shows that row.
            auto place = [this] {
                return std::pair(List1->verticalScrollBar()->value(), List1->horizontalScrollBar()->value());
            };
            const bool full = rows == log::LogListModel::kFull;
            if (!full || newestInViewAt_ != place())
                List1->scrollTo(newest);
            newestInViewAt_ = full ? std::optional(place()) : std::nullopt;
        },
        Qt::QueuedConnection);
}

QString frmSim_7150R::GetTimeStamp() const {
    return log::formatTimeStamp(services_.clock.nowUtc().toUTC().time());
}

void frmSim_7150R::WriteLogFile(const QString& text, const QDate& localDate) {
    log::DailyLogFile file(log::dailyLogPath(services_.programDir, localDate));
    if (!file.appendLine(text))
        AddLog(GetTimeStamp() + QStringLiteral(" Log File Write Fail!! ") + file.fileName() +
               QStringLiteral(" : ") + file.errorString());
}

void frmSim_7150R::cmdClear_Click() {
    logModel_.clear();
}

// ---- Ping test -------------------------------------------------------------

void frmSim_7150R::cmdPingStart_Click() {
    PingTimer_Timer();
    pingTimer_.setEnabled(true);
    txtDestIP->setEnabled(false);
}

void frmSim_7150R::cmdPingStop_Click() {
    if (!pingTimer_.isEnabled())
        return;
    pingTimer_.setEnabled(false);
    // An echo still awaited is abandoned: its line is dropped when it comes.
    pingOutstanding_ = 0;
    pingTickDue_ = false;
    txtDestIP->setEnabled(true);
    AddLog(QStringLiteral("Ping Test End~!!"));
}

void frmSim_7150R::PingTimer_Timer() {
    // One request at a time. A tick that falls due meanwhile goes out as soon
    // as the line of the one awaited is in, so a silent host is asked about
    // every 2.7 s and one that answers every second.
    if (pingOutstanding_ != 0) {
        pingTickDue_ = true;
        return;
    }
    pingOutstanding_ = pinger_.start(txtDestIP->text());
}

void frmSim_7150R::PingTick_Done(quint64 tick, const QString& line) {
    if (tick != pingOutstanding_)
        return;
    pingOutstanding_ = 0;
    AddLog(line);
    if (std::exchange(pingTickDue_, false))
        PingTimer_Timer();
}

// ---- Window behaviour ------------------------------------------------------

void frmSim_7150R::Label11_Click() {
    if (!services_.shell.open(this, QUrl(kMakerPage)))
        std::ignore = showErrorBox(services_.shell.errorString());
}

void frmSim_7150R::openSignals() {
    if (signalsWindow_ == nullptr) {
        // A window of its own, not the main window's child: it stays behind
        // when the main window is raised, and closing it frees what it drew.
        signalsWindow_ = new waveform::SignalWindow(liveReplies_.store());
        signalsWindow_->setAttribute(Qt::WA_DeleteOnClose);
        signalsWindow_->setWindowTitle(QStringLiteral("Signals over Time"));
        connect(&liveReplies_, &LiveReplies::appended, signalsWindow_.data(),
                &waveform::SignalWindow::storeChanged);
    }
    signalsWindow_->setWindowState(signalsWindow_->windowState() & ~Qt::WindowMinimized);
    signalsWindow_->show();
    signalsWindow_->raise();
    signalsWindow_->activateWindow();
}

bool frmSim_7150R::popUpSignalsMenu(const QWidget* clicked, const QPoint& globalPos) {
    if (!offersSignalsMenu(clicked, {txtDestIP, txtDestPort, cboTime}))
        return false;
    // popup, not exec: the window goes on receiving and logging while the menu is open.
    signalsMenu_->popup(globalPos);
    return true;
}

void frmSim_7150R::contextMenuEvent(QContextMenuEvent* event) {
    if (!popUpSignalsMenu(childAt(event->pos()), event->globalPos()))
        event->ignore();
}

bool frmSim_7150R::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu && watched->isWidgetType()) {
        const auto* control = static_cast<QWidget*>(watched);
        if (!control->isEnabled()) {
            std::ignore = popUpSignalsMenu(control, static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmSim_7150R::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void frmSim_7150R::closeEvent(QCloseEvent* event) {
    // The program ends here: nothing queued or ticking may run after this.
    gate_.shutDown();
    sendTimer_.setEnabled(false);
    pingTimer_.setEnabled(false);
    if (signalsWindow_ != nullptr)
        signalsWindow_->close();
    event->accept();
    Q_EMIT endRequested();
}

} // namespace lumora::app
