// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/viewer.h"

#include "viewer/arguments.h"
#include "viewer/texts.h"
#include "waveform/signal_view.h"
#include "waveform/signal_window.h"

#include <QAction>
#include <QDockWidget>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>

namespace lumora::viewer {

using namespace Qt::StringLiterals;

QStringList droppedFiles(const QMimeData& data) {
    QStringList files;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile())
            files.append(url.toLocalFile());
    }
    return files;
}

Viewer::Viewer(QObject* parent)
    : QObject(parent)
    , days_(std::make_unique<timeline::DayFiles>(store_))
    , window_(std::make_unique<waveform::SignalWindow>(store_, settings_, QLatin1String(kProgramName))) {
    window_->setWindowTitle(windowTitle({}));
    window_->setAcceptDrops(true);
    window_->installEventFilter(this);

    QAction* openAction = window_->fileMenu()->addAction(tr("&Open..."));
    openAction->setShortcut(QKeySequence::Open);
    connect(openAction, &QAction::triggered, this, &Viewer::chooseFiles);

    // One place for every problem of the files, read when convenient, rather
    // than a box to click away for each.
    problems_ = new QPlainTextEdit(window_.get());
    problems_->setReadOnly(true);
    problems_->setAccessibleName(tr("Problems in the files"));
    problemsDock_ = new QDockWidget(tr("Problems in the files"), window_.get());
    problemsDock_->setObjectName(u"problems"_s);
    problemsDock_->setWidget(problems_);
    window_->addDockWidget(Qt::BottomDockWidgetArea, problemsDock_);
    problemsDock_->hide();

    followTimer_.setInterval(kFollowIntervalMs);
    connect(&followTimer_, &QTimer::timeout, this, &Viewer::followFiles);
    connect(window_->view(), &waveform::SignalView::followChanged, this, &Viewer::followSwitched);
}

Viewer::~Viewer() {
    // The window goes after this object's own members; it must not call back.
    window_->removeEventFilter(this);
}

QString Viewer::problemsShown() const {
    return problemsDock_->isHidden() ? QString() : problems_->toPlainText();
}

void Viewer::open(const QStringList& paths) {
    store_.clear();
    days_ = std::make_unique<timeline::DayFiles>(store_);
    days_->load(paths);
    if (!paths.isEmpty())
        lastFolder_ = QFileInfo(paths.constLast()).absolutePath();
    const Span whole = wholeSpan(store_);
    window_->view()->setSpan(whole.fromMs, whole.toMs);
    showWhatWasRead();
    followSwitched(window_->view()->follows());
}

void Viewer::followFiles() {
    const std::size_t problemsBefore = days_->problems().size();
    const std::size_t stepsBefore = days_->stepsBack().size();
    if (days_->follow() > 0 || days_->problems().size() != problemsBefore ||
        days_->stepsBack().size() != stepsBefore)
        showWhatWasRead();
}

bool Viewer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_.get())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData() && !droppedFiles(*drag->mimeData()).isEmpty())
            drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files = drop->mimeData() ? droppedFiles(*drop->mimeData()) : QStringList();
        if (!files.isEmpty()) {
            drop->acceptProposedAction();
            open(files);
        }
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

void Viewer::chooseFiles() {
    auto* dialog = new QFileDialog(window_.get(), tr("Open Daily Log Files"), lastFolder_,
                                   tr("Daily log files (*.txt);;All files (*)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    connect(dialog, &QFileDialog::filesSelected, this, &Viewer::open);
    dialog->open();
}

void Viewer::followSwitched(bool follow) {
    if (follow && !days_->files().isEmpty())
        followTimer_.start();
    else
        followTimer_.stop();
}

void Viewer::showWhatWasRead() {
    window_->setWindowTitle(windowTitle(days_->files()));
    window_->setNote(timeline::stepsBackNote(days_->stepsBack()));
    window_->storeChanged();
    const QString problems = problemsText(days_->problems());
    if (problems != problems_->toPlainText())
        problems_->setPlainText(problems);
    problemsDock_->setVisible(!problems.isEmpty());
}

} // namespace lumora::viewer
