#include "app/frmSim_7150R.h"

#include "app/layout.h"
#include "link/settings_keys.h"
#include "link/conversions.h"
#include "log/daily_log.h"
#include "log/time_stamp.h"
#include "platform/widgets/paint_throttle.h"
#include "protocol/command_frame.h"
#include "protocol/hex_text.h"
#include "protocol/status_reply.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QScreen>
#include <QUrl>

#include <utility>

namespace lumora::app {

namespace settings = link::settings;

namespace {

const QString kCrLf = QStringLiteral("\r\n");

constexpr QColor kTickedText{0xFF, 0x00, 0x00};
constexpr QColor kTickedBack{0x80, 0xFF, 0xFF};
constexpr QColor kUntickedText{0x80, 0x80, 0x80};
constexpr QColor kWhite{0xFF, 0xFF, 0xFF};

QFont fontFor(FontRole role) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9);
    // Set explicitly: a child would otherwise inherit its frame's bold caption font.
    font.setBold(false);
    switch (role) {
    case FontRole::Window:
        break;
    case FontRole::FrameCaption:
    case FontRole::Link:
        font.setBold(true);
        break;
    case FontRole::Counter:
        font.setPointSizeF(8.25);
        break;
    case FontRole::LogList:
        font = QFont(QStringLiteral("GulimChe"));
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
        font.setPointSizeF(9);
        break;
    }
    return font;
}

QWidget* createControl(const ControlSpec& design, QWidget* parent) {
    switch (design.kind) {
    case Kind::Frame:
        return new platform::widgets::Frame(design.caption, parent);
    case Kind::Label: {
        auto* label = new QLabel(design.caption, parent);
        if (design.name.startsWith(QLatin1String("Label1(")))
            label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        return label;
    }
    case Kind::TextBox:
        return new platform::widgets::TextBox(parent);
    case Kind::Button:
        return new QPushButton(design.caption, parent);
    case Kind::Option: {
        auto* option = new platform::widgets::OptionButton(parent);
        option->setText(design.caption);
        return option;
    }
    case Kind::CheckBox: {
        auto* box = new platform::widgets::CheckBox(parent);
        box->setText(design.caption);
        return box;
    }
    case Kind::ComboBox: {
        auto* combo = new platform::widgets::ComboBox(parent);
        for (int i = 1; i <= 15; ++i)
            combo->addItem(QString::number(i));
        combo->setTextByProgram(design.caption);
        return combo;
    }
    case Kind::ListBox:
        return new platform::widgets::ListBox(parent);
    case Kind::Panel: {
        auto* panel = new QFrame(parent);
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        return panel;
    }
    case Kind::Link: {
        auto* link = new platform::widgets::LinkLabel(design.caption, parent);
        link->setCursor(Qt::PointingHandCursor);
        return link;
    }
    case Kind::Line:
        return new QWidget(parent);
    }
    return nullptr;
}

void applyColours(const ControlSpec& design, QWidget* widget) {
    if (auto* frame = qobject_cast<platform::widgets::Frame*>(widget)) {
        if (design.foreground)
            frame->setCaptionColour(*design.foreground);
        return;
    }
    if (auto* box = qobject_cast<platform::widgets::CheckBox*>(widget)) {
        if (design.foreground)
            box->setColours(*design.foreground, platform::widgets::systemColour(platform::widgets::SystemColour::ButtonFace));
        return;
    }
    QPalette p = widget->palette();
    if (design.kind == Kind::Line) {
        p.setColor(QPalette::Window, design.foreground.value_or(Qt::red));
        widget->setAutoFillBackground(true);
    } else {
        if (design.foreground) {
            p.setColor(QPalette::Active, QPalette::WindowText, *design.foreground);
            p.setColor(QPalette::Inactive, QPalette::WindowText, *design.foreground);
            p.setColor(QPalette::Active, QPalette::Text, *design.foreground);
            p.setColor(QPalette::Inactive, QPalette::Text, *design.foreground);
        }
        if (design.background) {
            p.setColor(QPalette::Window, *design.background);
            widget->setAutoFillBackground(true);
        }
    }
    widget->setPalette(p);
}

void applyAccessibleName(const ControlSpec& design, QWidget* widget) {
    if (design.accessibleName.isEmpty())
        return;
    widget->setAccessibleName(design.accessibleName);
    // On Linux a combo box reports its text as its name; the field typed into
    // carries the name there.
    if (auto* combo = qobject_cast<QComboBox*>(widget); combo != nullptr && combo->lineEdit() != nullptr)
        combo->lineEdit()->setAccessibleName(design.accessibleName);
}

} // namespace

frmSim_7150R::frmSim_7150R(const Services& services, QWidget* parent)
    : QWidget(parent)
    , services_(services) {
    setObjectName(QStringLiteral("frmSim_7150R"));
    setWindowTitle(kWindowTitle);
    setFont(fontFor(FontRole::Window));
    // The layout is fixed in place; a fixed-size window keeps it whole.
    setFixedSize(toPixels(kClientWidthTwips), toPixels(kClientHeightTwips));
    buildControls();
    wireEvents();
    new platform::widgets::PaintThrottle(this);
}

frmSim_7150R::~frmSim_7150R() {
    gate_.shutDown();
}

template <typename W> W* frmSim_7150R::control(const QString& name) const {
    W* w = findChild<W*>(name);
    Q_ASSERT_X(w != nullptr, "frmSim_7150R", qPrintable(name));
    return w;
}

void frmSim_7150R::buildControls() {
    QHash<QString, QWidget*> containers;
    QWidget* previousFocus = nullptr;
    for (const ControlSpec& design : controlInventory()) {
        QWidget* parent = design.parent.isEmpty() ? this : containers.value(design.parent, this);
        QWidget* widget = createControl(design, parent);
        widget->setObjectName(design.name);
        widget->setGeometry(toPixels(design.left), toPixels(design.top), toPixels(design.width),
                            toPixels(design.height));
        if (design.kind == Kind::Line)
            widget->setFixedHeight(1);
        widget->setFont(fontFor(design.font));
        widget->setEnabled(design.enabled);
        applyAccessibleName(design, widget);
        applyColours(design, widget);
        if (auto* box = qobject_cast<platform::widgets::TextBox*>(widget); box != nullptr && design.maxLength > 0)
            box->setTypingLimit(design.maxLength);
        if (design.kind == Kind::Frame || design.kind == Kind::Panel)
            containers.insert(design.name, widget);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previousFocus != nullptr)
                setTabOrder(previousFocus, widget);
            previousFocus = widget;
        }
    }

    txtDestIP = control<platform::widgets::TextBox>(QStringLiteral("txtDestIP"));
    txtDestPort = control<platform::widgets::TextBox>(QStringLiteral("txtDestPort"));
    cmdConnect = control<QPushButton>(QStringLiteral("cmdConnect"));
    cmdDisconnect = control<QPushButton>(QStringLiteral("cmdDisconnect"));
    cmdPingStart = control<QPushButton>(QStringLiteral("cmdPingStart"));
    cmdPingStop = control<QPushButton>(QStringLiteral("cmdPingStop"));
    cboTime = control<platform::widgets::ComboBox>(QStringLiteral("cboTime"));
    cmdSend = control<QPushButton>(QStringLiteral("cmdSend"));
    cmdEnd = control<QPushButton>(QStringLiteral("cmdEnd"));
    cmdClear = control<QPushButton>(QStringLiteral("cmdClear"));
    List1 = control<QListView>(QStringLiteral("List1"));
    Label11 = control<platform::widgets::LinkLabel>(QStringLiteral("Label11"));
    for (int i = 0; i < 2; ++i) {
        optInterval[i] = control<platform::widgets::OptionButton>(indexedName("optInterval", i));
        lblTime[i] = control<QWidget>(indexedName("lblTime", i));
        optLog[i] = control<platform::widgets::OptionButton>(indexedName("optLog", i));
    }
    for (int i = 0; i < 3; ++i)
        optCommand[i] = control<platform::widgets::OptionButton>(indexedName("optCommand", i));
    for (int i = 0; i < 4; ++i)
        chkDOValue[i] = control<platform::widgets::CheckBox>(indexedName("chkDOValue", i));
    for (int i = 0; i < 12; ++i) {
        chkDIValue[i] = control<platform::widgets::CheckBox>(indexedName("chkDIValue", i));
        txtCounter[i] = control<platform::widgets::TextBox>(indexedName("txtCounter", i));
        txtTimegap[i] = control<platform::widgets::TextBox>(indexedName("txtTimegap", i));
        // The program only writes these boxes.
        txtCounter[i]->setReadOnly(true);
        txtTimegap[i]->setReadOnly(true);
    }

    optInterval[0]->select();
    optLog[0]->select();
    optCommand[0]->select();

    List1->setModel(&logModel_);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
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
    onClick(cmdEnd, &frmSim_7150R::cmdEnd_Click);
    onClick(cmdClear, &frmSim_7150R::cmdClear_Click);

    for (int i = 0; i < 3; ++i)
        optCommand[i]->selected.bind(&gate_, [this, i] { optCommand_Click(i); });
    for (int i = 0; i < 2; ++i)
        optInterval[i]->selected.bind(&gate_, [this, i] { optInterval_Click(i); });
    for (int i = 0; i < 4; ++i)
        chkDOValue[i]->changed.bind(&gate_, [this, i] { chkDOValue_Click(i); });

    txtDestIP->changed.bind(&gate_, [this] { txtDestIP_Change(); });
    txtDestPort->changed.bind(&gate_, [this] { txtDestPort_Change(); });
    cboTime->changed.bind(&gate_, [this] { cboTime_Change(); });
    cboTime->clicked.bind(&gate_, [this] { cboTime_Click(); });
    Label11->clicked.bind(&gate_, [this] { Label11_Click(); });

    auto beep = [this] {
        if (services_.beeper != nullptr)
            services_.beeper->beep();
    };
    platform::widgets::NumericKeyFilter::install(txtDestIP, beep);
    platform::widgets::NumericKeyFilter::install(txtDestPort, beep);
    platform::widgets::NumericKeyFilter::install(cboTime, beep);

    winsock_.onConnect = [this] { Winsock1_Connect(); };
    winsock_.onClose = [this] { Winsock1_Close(); };
    winsock_.onDataArrival = [this](const QByteArray& bytes) { Winsock1_DataArrival(bytes); };
    winsock_.onConnectFailed = [this](const QString& reason) { Winsock1_ConnectFailed(reason); };
    sendTimer_.onTick = [this] { SendTimer_Timer(); };
    pingTimer_.onTick = [this] { PingTimer_Timer(); };
    if (services_.icmp != nullptr) {
        pinger_ = std::make_unique<ping::TickRunner>(*services_.icmp);
        pinger_->onDone = [this](quint64 tick, const QString& line) {
            gate_.deliver([this, tick, line] { PingTick_Done(tick, line); });
        };
    }
}

// ---- Start-up and settings -------------------------------------------------

void frmSim_7150R::Form_Load() {
    auto read = [this](const QString& key, const QString& fallback) {
        if (services_.settings == nullptr)
            return fallback;
        return services_.settings->read(settings::kApplication, settings::kSection, key, fallback);
    };
    const QString address = read(settings::kAddressKey, settings::kDefaultAddress);
    const QString port = read(settings::kPortKey, settings::kDefaultPort);
    const QString interval = read(settings::kIntervalKey, settings::kDefaultInterval);
    if (services_.settings != nullptr && !services_.settings->isReadable(settings::kApplication)) {
        AddLog(GetTimeStamp() + QStringLiteral(" Settings Read Fail!! ") + services_.settings->errorString() +
               QStringLiteral(": left as it is, starting on the defaults"));
        // The store refuses every save now; this line has said so.
        settingsFailing_ = true;
    }
    txtDestIP->setTextByProgram(address);
    txtDestPort->setTextByProgram(port);
    cboTime->setTextByProgram(interval);
    for (int i = 0; i < static_cast<int>(chkDIValue.size()); ++i)
        chkDIValue[i]->setText(QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')));
}

void frmSim_7150R::saveSetting(const QString& key, const QString& value) {
    if (services_.settings == nullptr)
        return;
    const bool saved = services_.settings->save(settings::kApplication, settings::kSection, key, value);
    // Said once when saving starts to fail, not on every keystroke after.
    if (!saved && !settingsFailing_)
        AddLog(GetTimeStamp() + QStringLiteral(" Settings Save Fail!! ") + services_.settings->errorString());
    settingsFailing_ = !saved;
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
    winsock_.Close();
    const auto port = link::portFromText(txtDestPort->text());
    if (!port) {
        AddLog(GetTimeStamp() + QStringLiteral(" Socket Connect Fail!! Invalid Port No : ") +
               txtDestPort->text());
        return;
    }
    winsock_.SetRemoteHost(txtDestIP->text());
    winsock_.SetRemotePort(*port);
    winsock_.Connect();
}

void frmSim_7150R::cmdConnect_Click() {
    ConnectSocket();
}

void frmSim_7150R::cmdDisconnect_Click() {
    winsock_.Close();
    Winsock1_Close();
}

void frmSim_7150R::Winsock1_Connect() {
    cmdConnect->setEnabled(false);
    cmdDisconnect->setEnabled(true);
    cmdSend->setEnabled(true);
    cmdEnd->setEnabled(true);
    AddLog(GetTimeStamp() + QStringLiteral(" Socket Connected!!"));
}

void frmSim_7150R::Winsock1_Close() {
    cmdConnect->setEnabled(true);
    cmdDisconnect->setEnabled(false);
    cmdSend->setEnabled(false);
    cmdEnd->setEnabled(false);
    // No reply can come on a closed connection: a request still awaited
    // would otherwise hold repeated sending, and with it the reconnect, for good.
    mbStatusWait = false;
    AddLog(GetTimeStamp() + QStringLiteral(" Socket Closed!!"));
}

void frmSim_7150R::Winsock1_ConnectFailed(const QString& reason) {
    AddLog(GetTimeStamp() + QStringLiteral(" Socket Connect Fail!! ") + reason);
}

// ---- Sending and scheduling ------------------------------------------------

void frmSim_7150R::cmdSend_Click() {
    if (optInterval[1]->isChecked()) {
        cmdSend->setEnabled(false);
        sendTimer_.setInterval(link::intervalMsFromText(cboTime->currentText()));
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
    const QString sendLine = GetTimeStamp() + QStringLiteral(" SEND : ") + protocol::hexText(frame);

    if (winsock_.State() == platform::Winsock::kStateConnected) {
        const bool waitedBefore = mbStatusWait;
        if (command == protocol::Command::StatusRequest)
            mbStatusWait = true;
        if (!winsock_.SendData(frame)) {
            // Refused although connected: nothing went out, so nothing is awaited.
            mbStatusWait = waitedBefore;
            AddLog(GetTimeStamp() + QStringLiteral(" Socket Closed... Send Fail!!"));
            return;
        }
        AddLog(sendLine);
        return;
    }
    AddLog(GetTimeStamp() + QStringLiteral(" Socket Closed... Send Fail!!"));
    if (optInterval[1]->isChecked()) {
        ConnectSocket();
        AddLog(GetTimeStamp() + QStringLiteral(" Socket Reconnecting......."));
    }
}

void frmSim_7150R::optCommand_Click(int index) {
    if (index == static_cast<int>(protocol::Command::OutputSetting)) {
        for (platform::widgets::CheckBox* box : chkDOValue)
            box->setEnabled(true);
        return;
    }
    for (platform::widgets::CheckBox* box : chkDOValue) {
        box->setValue(0);
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
    if (mbStatusWait)
        return;
    cmdSend_Click();
}

void frmSim_7150R::cmdEnd_Click() {
    if (sendTimer_.isEnabled())
        sendTimer_.setEnabled(false);
    if (winsock_.State() == platform::Winsock::kStateConnected && !cmdSend->isEnabled())
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

void frmSim_7150R::showErrorBox(const QString& text) {
    if (services_.dialogs == nullptr)
        return;
    // End stays within reach: repetition against a unit whose every reply
    // brings a box must be stoppable (closing the window always is).
    const platform::widgets::InputHold hold(*this, {cmdEnd});
    services_.dialogs->critical(this, QStringLiteral("Error"), text);
}

void frmSim_7150R::showDisplayError(const platform::widgets::ControlError& error) {
    const QString text = QStringLiteral("Data Display Error!!") + kCrLf + QStringLiteral("Error Number : ") +
                         QString::number(error.code()) + kCrLf + QStringLiteral("Error Description : ") +
                         error.description();
    showErrorBox(text);
}

void frmSim_7150R::ShowStatus(const QByteArray& bytes) {
    if (bytes.size() != protocol::kStatusReplySize) {
        AddLog(protocol::wrongLengthLine(bytes.size()));
        return;
    }
    const protocol::DecodedReply reply = protocol::decodeStatusReply(bytes);

    // A value a box refuses is reported and skipped; the rest is still shown.
    auto show = [this](platform::widgets::CheckBox* box, int state) {
        try {
            box->setValue(state);
        } catch (const platform::widgets::ControlError& error) {
            showDisplayError(error);
        }
    };
    for (int k = 0; k < protocol::kInputCount; ++k)
        show(chkDIValue[k], reply.inputs[k]);
    for (int k = 0; k < protocol::kInputCount; ++k)
        txtCounter[k]->setTextByProgram(reply.counters[k]);
    for (int k = 0; k < protocol::kInputCount; ++k)
        txtTimegap[k]->setTextByProgram(reply.timeGaps[k]);
    for (int k = 0; k < protocol::kOutputCount; ++k)
        show(chkDOValue[k], reply.outputs[k]);

    const QString header = protocol::recvHeader(GetTimeStamp());
    QStringList block{header};
    for (const QString& line : reply.dumpLines)
        block.append(line);
    block.append(QString());
    AddLog(block);

    if (optLog[1]->isChecked()) {
        QString text = header + kCrLf;
        for (const QString& line : reply.dumpLines)
            text += line + kCrLf;
        WriteLogFile(text);
    }
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
            List1->setCurrentIndex(newest);
            List1->scrollTo(newest);
        },
        Qt::QueuedConnection);
}

QString frmSim_7150R::GetTimeStamp() const {
    const QDateTime now =
        services_.clock != nullptr ? services_.clock->nowUtc() : QDateTime::currentDateTimeUtc();
    return log::formatTimeStamp(now.toUTC().time());
}

void frmSim_7150R::WriteLogFile(const QString& text) {
    const QDate today = services_.clock != nullptr ? services_.clock->localDate() : QDate::currentDate();
    log::DailyLogFile file(log::dailyLogPath(services_.programDir, today));
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
    if (pinger_ == nullptr)
        return;
    // One request at a time. A tick that falls due meanwhile goes out as soon
    // as the line of the one awaited is in, so a silent host is asked about
    // every 2.7 s and one that answers every second.
    if (pingOutstanding_ != 0) {
        pingTickDue_ = true;
        return;
    }
    pingOutstanding_ = pinger_->start(txtDestIP->text());
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
    if (services_.shell == nullptr)
        return;
    if (const auto failure = services_.shell->open(this, QUrl(kMakerPage)))
        showErrorBox(*failure);
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
    event->accept();
    if (services_.endProgram)
        services_.endProgram();
}

} // namespace lumora::app