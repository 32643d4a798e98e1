// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/signal_window.h"

#include "timeline/status_line.h"
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

QString channelName(const char16_t* prefix, int k) {
    return QString::fromUtf16(prefix) + QStringLiteral("%1").arg(k + 1, 2, 10, QLatin1Char('0'));
}

} // namespace

SignalWindow::SignalWindow(const timeline::ReplyStore& store, QWidget* parent)
    : QMainWindow(parent)
    , store_(store)
    , view_(new SignalView(store, this))
    , fileMenu_(menuBar()->addMenu(tr("&File")))
    , viewMenu_(menuBar()->addMenu(tr("&View")))
    , status_(new QLabel(this)) {
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

    QMenu* hide = viewMenu_->addMenu(tr("&Hide"));
    hide->setObjectName(QStringLiteral("menuHide"));
    for (int k = 0; k < timeline::kChannelCount; ++k)
        hideCounters_ << hide->addAction(channelName(u"CNT", k));
    hide->addSeparator();
    for (int k = 0; k < timeline::kChannelCount; ++k)
        hideGaps_ << hide->addAction(channelName(u"GAP", k));
    for (QAction* action : hide->actions()) {
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, &SignalWindow::hiddenChanged);
    }

    statusCoalesce_.setSingleShot(true);
    statusCoalesce_.setInterval(SignalView::kRepaintMs);
    connect(&statusCoalesce_, &QTimer::timeout, this, [this] {
        if (!statusPending_)
            return;
        statusPending_ = false;
        updateStatus();
        statusCoalesce_.start();
    });
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
    if (statusCoalesce_.isActive()) {
        statusPending_ = true;
        return;
    }
    updateStatus();
    statusCoalesce_.start();
}

void SignalWindow::updateStatus() {
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

void SignalWindow::hiddenChanged() {
    std::uint32_t counters = 0;
    std::uint32_t gaps = 0;
    for (int k = 0; k < timeline::kChannelCount; ++k) {
        if (hideCounters_.at(k)->isChecked())
            counters |= 1U << k;
        if (hideGaps_.at(k)->isChecked())
            gaps |= 1U << k;
    }
    view_->setHidden(counters, gaps);
}

} // namespace lumora::waveform
