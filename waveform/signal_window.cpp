// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/signal_window.h"

#include "timeline/status_line.h"
#include "waveform/signal_view.h"

#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>

namespace lumora::waveform {

SignalWindow::SignalWindow(const timeline::ReplyStore& store, QWidget* parent)
    : QMainWindow(parent)
    , store_(store)
    , view_(new SignalView(store, this))
    , fileMenu_(menuBar()->addMenu(tr("&File")))
    , status_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Signals over Time"));
    setCentralWidget(view_);
    statusBar()->addWidget(status_, 1);
    updateStatus();
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
    updateStatus();
}

void SignalWindow::updateStatus() {
    const QString text = timeline::statusLine(store_) + note_;
    status_->setText(text);
    status_->setAccessibleName(text);
}

} // namespace lumora::waveform
