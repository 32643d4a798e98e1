// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/signal_window.h"

#include "timeline/status_line.h"
#include "waveform/lane_choice.h"
#include "waveform/picture.h"
#include "waveform/signal_panels.h"
#include "waveform/signal_view.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

namespace lumora::waveform {

namespace {

struct ExportKind {
    const char16_t* filter;
    const char16_t* suffix;
};

constexpr std::array<ExportKind, 4> kExportKinds{{
    {u"PNG picture (*.png)", u"png"},
    {u"SVG picture (*.svg)", u"svg"},
    {u"CSV data (*.csv)", u"csv"},
    {u"VCD value change dump (*.vcd)", u"vcd"},
}};

// Forty rows of about 20 pixels and the names beside them.
constexpr QSize kDefaultSize{1200, 900};

} // namespace

SignalWindow::SignalWindow(const timeline::ReplyStore& store, settings::SettingsStore& settings,
                           const QString& application, QWidget* parent)
    : QMainWindow(parent)
    , store_(store)
    , view_(new SignalView(store, this))
    , fileMenu_(menuBar()->addMenu(tr("&File")))
    , viewMenu_(menuBar()->addMenu(tr("&View")))
    , status_(new QLabel(this))
    , statusCoalesce_(SignalView::kRepaintMs, [this] { updateStatus(); }) {
    setWindowTitle(QStringLiteral("Signals over Time"));
    resize(kDefaultSize);
    setCentralWidget(view_);
    statusBar()->addWidget(status_, 1);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    QAction* exportAction = fileMenu_->addAction(tr("&Export..."), this, &SignalWindow::exportChosen);
    exportAction->setObjectName(QStringLiteral("actionExport"));

    QAction* follow = viewMenu_->addAction(tr("&Follow"));
    follow->setObjectName(QStringLiteral("actionFollow"));
    follow->setCheckable(true);
    follow->setChecked(view_->follows());
    connect(follow, &QAction::toggled, view_, &SignalView::setFollow);
    connect(view_, &SignalView::followChanged, follow, &QAction::setChecked);

    QAction* local = viewMenu_->addAction(tr("&Local Time"));
    local->setObjectName(QStringLiteral("actionLocalTime"));
    local->setCheckable(true);
    connect(local, &QAction::toggled, view_, &SignalView::setLocalTime);

    lanes_ = new LaneChoice(store, settings, application, this);
    QMenu* hide = viewMenu_->addMenu(tr("&Hide"));
    hide->setObjectName(QStringLiteral("menuHide"));
    for (int lane = 0; lane < timeline::kAllLaneCount; ++lane) {
        // Inputs, outputs, counters, time gaps.
        if (lane == protocol::kInputCount || lane == timeline::kFirstCounterLane ||
            lane == timeline::kFirstGapLane)
            hide->addSeparator();
        QAction* action = hide->addAction(timeline::anyLaneName(lane));
        action->setCheckable(true);
        const timeline::LaneSet bit = timeline::LaneSet{1} << lane;
        connect(action, &QAction::triggered, this, [this, bit](bool checked) {
            keepChoice(lanes_->setChosen(checked ? lanes_->chosen() | bit : lanes_->chosen() & ~bit));
        });
        hideLane_ << action;
    }
    hideStill_ = viewMenu_->addAction(tr("Hide Lanes That Never Change"));
    hideStill_->setObjectName(QStringLiteral("actionHideStill"));
    hideStill_->setCheckable(true);
    hideStill_->setChecked(lanes_->hidesStill());
    connect(hideStill_, &QAction::triggered, this,
            [this](bool checked) { keepChoice(lanes_->setHidesStill(checked)); });
    connect(lanes_, &LaneChoice::hiddenChanged, this, &SignalWindow::showHidden);
    showHidden(lanes_->hidden());

    updateStatus();
    new SignalPanels(store, view_, this);
}

SignalWindow::~SignalWindow() = default;

QString SignalWindow::statusText() const {
    return status_->text();
}

void SignalWindow::setNote(const QString& note) {
    note_ = note;
    updateStatus();
}

void SignalWindow::storeChanged() {
    view_->storeChanged();
    statusCoalesce_.request();
}

void SignalWindow::updateStatus() {
    // The lanes that never change follow the store as the status line does.
    lanes_->storeChanged();
    const QString text = timeline::statusLine(store_) + note_;
    status_->setText(text);
    status_->setAccessibleName(text);
}

bool SignalWindow::exportShown(const QString& path, QString& why) const {
    return exportRange(path, store_, view_->state(), view_->size(), why);
}

void SignalWindow::exportChosen() {
    QStringList filters;
    for (const ExportKind& kind : kExportKinds)
        filters << QString::fromUtf16(kind.filter);
    QString filter = filters.first();
    QString path = QFileDialog::getSaveFileName(this, tr("Export"), QString(),
                                                filters.join(QStringLiteral(";;")), &filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty()) {
        const auto chosen =
            std::find_if(kExportKinds.begin(), kExportKinds.end(),
                         [&](const ExportKind& kind) { return filter == QString::fromUtf16(kind.filter); });
        path += u'.' + QString::fromUtf16(chosen == kExportKinds.end() ? kExportKinds.front().suffix
                                                                       : chosen->suffix);
    }
    QString why;
    if (!exportShown(path, why))
        QMessageBox::warning(this, tr("Export"), why);
}

// A lane the rule leaves out is shown hidden, and cannot be shown while the rule is on.
void SignalWindow::showHidden(timeline::LaneSet hidden) {
    view_->setHidden(hidden);
    const timeline::LaneSet ruled = lanes_->still() & ~lanes_->chosen();
    for (int lane = 0; lane < timeline::kAllLaneCount; ++lane) {
        QAction* action = hideLane_.at(lane);
        action->setChecked((hidden >> lane & 1U) != 0);
        action->setEnabled((ruled >> lane & 1U) == 0);
    }
}

void SignalWindow::keepChoice(bool kept) {
    // An entry unchecked may stay hidden by the rule.
    showHidden(lanes_->hidden());
    if (!kept)
        statusBar()->showMessage(tr("Cannot keep the lanes shown: %1").arg(lanes_->errorString()));
}

} // namespace lumora::waveform
