// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmSim_7150R.h"

#include "app/layout.h"
#include "app/window_builder.h"
#include "platform/widgets/input_hold.h"
#include "platform/widgets/numeric_key_filter.h"
#include "platform/widgets/paint_throttle.h"
#include "platform/widgets/system_colour.h"
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

constexpr QColor kTickedText{0xFF, 0x00, 0x00};
constexpr QColor kTickedBack{0x80, 0xFF, 0xFF};
constexpr QColor kUntickedText{0x80, 0x80, 0x80};
constexpr QColor kWhite{0xFF, 0xFF, 0xFF};

} // namespace

frmSim_7150R::frmSim_7150R(const Services& services, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , session_({.clock = services.clock,
                .settings = services.settings,
                .icmp = services.icmp,
                .programDir = services.programDir})
    , gate_(session_.gate()) {
    setObjectName(QStringLiteral("frmSim_7150R"));
    buildWindow(*this, *this);
    List1->setModel(&session_.logLines());
    // Rows laid out anew: where the newest stood tells nothing any more.
    connect(&session_.logLines(), &QAbstractItemModel::modelReset, this, [this] { newestInViewAt_.reset(); });
    connect(&session_.logLines(), &log::LogListModel::linesAppended, this, [this] { selectNewestWhenTurnEnds(); });
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
    session_.shutDown();
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
    connect(cmdEnd, &QPushButton::clicked, this, [this] { session_.stopRepeating(); });
    onClick(cmdEnd, &frmSim_7150R::cmdEnd_Click);
    onClick(cmdClear, &frmSim_7150R::cmdClear_Click);

    using platform::widgets::connectChange;
    for (int i = 0; i < 3; ++i)
        connectChange(optCommand[i], &platform::widgets::OptionButton::selected, this, gate_,
                      [this, i] { optCommand_Click(i); });
    for (int i = 0; i < 2; ++i)
        connectChange(optInterval[i], &platform::widgets::OptionButton::selected, this, gate_,
                      [this, i] { optInterval_Click(i); });
    for (int i = 0; i < 2; ++i)
        connectChange(optLog[i], &platform::widgets::OptionButton::selected, this, gate_,
                      [this, i] { optLog_Click(i); });
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

    connect(&session_, &ClientSession::connected, this, &frmSim_7150R::Winsock1_Connect);
    connect(&session_, &ClientSession::closed, this, &frmSim_7150R::Winsock1_Close);
    connect(&session_, &ClientSession::sendStarted, this, &frmSim_7150R::showSending);
    connect(&session_, &ClientSession::pingStarted, this, [this] { txtDestIP->setEnabled(false); });
    connect(&session_, &ClientSession::pingStopped, this, [this] { txtDestIP->setEnabled(true); });
    connect(&session_, &ClientSession::displayRefused, this, &frmSim_7150R::showRefused);
    // A refused value was told already; the box keeps the last it showed.
    connect(&session_, &ClientSession::inputShown, this,
            [this](int k, int state) { std::ignore = chkDIValue.at(static_cast<std::size_t>(k))->setValue(state); });
    connect(&session_, &ClientSession::outputShown, this,
            [this](int k, int state) { std::ignore = chkDOValue.at(static_cast<std::size_t>(k))->setValue(state); });
    connect(&session_, &ClientSession::counterShown, this,
            [this](int k, const QString& text) { txtCounter.at(static_cast<std::size_t>(k))->setTextByProgram(text); });
    connect(&session_, &ClientSession::timeGapShown, this,
            [this](int k, const QString& text) { txtTimegap.at(static_cast<std::size_t>(k))->setTextByProgram(text); });
}

// ---- Start-up and settings -------------------------------------------------

void frmSim_7150R::Form_Load() {
    const StoredFields fields = session_.load();
    txtDestIP->setTextByProgram(fields.address);
    txtDestPort->setTextByProgram(fields.port);
    cboTime->setTextByProgram(fields.interval);
    for (int i = 0; i < static_cast<int>(chkDIValue.size()); ++i)
        chkDIValue[i]->setText(protocol::channelText(i));
    // What the session sends follows the controls from here on.
    for (int i = 0; i < static_cast<int>(optCommand.size()); ++i)
        if (optCommand[i]->isChecked())
            session_.setCommand(static_cast<protocol::Command>(i));
    for (int i = 0; i < static_cast<int>(chkDOValue.size()); ++i)
        session_.setOutput(i, chkDOValue[i]->value());
    session_.setRepeat(optInterval[1]->isChecked());
    session_.setWriteToFile(optLog[1]->isChecked());
}

void frmSim_7150R::txtDestIP_Change() {
    session_.setAddress(txtDestIP->text());
}

void frmSim_7150R::txtDestPort_Change() {
    session_.setPortText(txtDestPort->text());
}

void frmSim_7150R::cboTime_Change() {
    session_.setIntervalText(cboTime->currentText());
}

void frmSim_7150R::cboTime_Click() {
    session_.setIntervalText(cboTime->currentText());
}

// ---- Connection ------------------------------------------------------------

void frmSim_7150R::cmdConnect_Click() {
    session_.connectToUnit();
}

void frmSim_7150R::cmdDisconnect_Click() {
    session_.disconnectFromUnit();
}

void frmSim_7150R::Winsock1_Connect() {
    cmdConnect->setEnabled(false);
    cmdDisconnect->setEnabled(true);
    cmdSend->setEnabled(true);
    cmdEnd->setEnabled(true);
}

void frmSim_7150R::Winsock1_Close() {
    cmdConnect->setEnabled(true);
    cmdDisconnect->setEnabled(false);
    cmdSend->setEnabled(false);
    cmdEnd->setEnabled(false);
}

// ---- Sending and scheduling ------------------------------------------------

void frmSim_7150R::cmdSend_Click() {
    session_.send();
}

void frmSim_7150R::showSending(bool repeating) {
    if (repeating)
        cmdSend->setEnabled(false);
    optInterval[0]->setEnabled(false);
    optInterval[1]->setEnabled(false);
    cboTime->setEnabled(false);
}

void frmSim_7150R::optCommand_Click(int index) {
    session_.setCommand(static_cast<protocol::Command>(index));
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
    session_.setOutput(index, box->value());
    if (box->value() == 1)
        box->setColours(kTickedText, kTickedBack);
    else
        box->setColours(kUntickedText, platform::widgets::systemColour(platform::widgets::SystemColour::ButtonFace));
}

void frmSim_7150R::optInterval_Click(int) {
    const bool repeat = optInterval[1]->isChecked();
    session_.setRepeat(repeat);
    lblTime[0]->setEnabled(repeat);
    lblTime[1]->setEnabled(repeat);
    cboTime->setEnabled(repeat);
    cboTime->setBackground(repeat ? kWhite : platform::widgets::systemColour(platform::widgets::SystemColour::Menu));
}

void frmSim_7150R::optLog_Click(int) {
    session_.setWriteToFile(optLog[1]->isChecked());
}

void frmSim_7150R::cmdEnd_Click() {
    session_.end();
    if (session_.isConnected() && !cmdSend->isEnabled())
        cmdSend->setEnabled(true);
    optInterval[0]->setEnabled(true);
    optInterval[1]->setEnabled(true);
    cboTime->setEnabled(true);
}

// ---- Receiving -------------------------------------------------------------

bool frmSim_7150R::showErrorBox(const QString& text) {
    // End stays within reach: repetition against a unit whose every reply
    // brings a box must be stoppable (closing the window always is).
    const platform::widgets::InputHold hold(*this, {cmdEnd});
    services_.dialogs.critical(this, QStringLiteral("Error"), text);
    return !gate_.isShutDown();
}

void frmSim_7150R::showRefused(const QString& text) {
    std::ignore = showErrorBox(text);
}

// ---- Log -------------------------------------------------------------------

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
            const log::LogListModel& logModel = session_.logLines();
            const int rows = logModel.rowCount();
            if (rows == 0)
                return;
            const QModelIndex newest = logModel.index(rows - 1);
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

void frmSim_7150R::cmdClear_Click() {
    session_.clearLog();
}

// ---- Ping test -------------------------------------------------------------

void frmSim_7150R::cmdPingStart_Click() {
    session_.startPing();
}

void frmSim_7150R::cmdPingStop_Click() {
    session_.stopPing();
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
        signalsWindow_ = new waveform::SignalWindow(session_.liveReplies().store(), services_.settings,
                                                   settings::kApplication);
        signalsWindow_->setAttribute(Qt::WA_DeleteOnClose);
        signalsWindow_->setWindowTitle(QStringLiteral("Signals over Time"));
        connect(&session_.liveReplies(), &LiveReplies::appended, signalsWindow_.data(),
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
    session_.shutDown();
    if (signalsWindow_ != nullptr)
        signalsWindow_->close();
    event->accept();
    Q_EMIT endRequested();
}

} // namespace lumora::app
