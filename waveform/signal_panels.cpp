// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/signal_panels.h"

#include "timeline/condition.h"
#include "waveform/measure_text.h"
#include "waveform/signal_view.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDockWidget>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumora::waveform {

using namespace Qt::StringLiterals;

namespace {

// A day can hold thousands of findings or stretches: the lists show the
// first ones and say how many more there are.
constexpr int kListed = 1000;
constexpr int kFromRole = Qt::UserRole;
constexpr int kToRole = Qt::UserRole + 1;

QListWidgetItem* spanItem(const QString& text, qint64 fromMs, qint64 toMs) {
    auto* item = new QListWidgetItem(text);
    item->setData(kFromRole, fromMs);
    item->setData(kToRole, toMs);
    return item;
}

QWidget* docked(QMainWindow* window, const QString& title, const QString& name, QWidget* content,
                Qt::DockWidgetArea area) {
    auto* dock = new QDockWidget(title, window);
    dock->setObjectName(name);
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    dock->setWidget(content);
    window->addDockWidget(area, dock);
    return dock;
}

} // namespace

SignalPanels::SignalPanels(const timeline::ReplyStore& store, SignalView* view, QMainWindow* window)
    : QObject(window)
    , store_(store)
    , view_(view)
    , measurements_(new QPlainTextEdit)
    , findings_(new QListWidget)
    , goTo_(new QLineEdit)
    , find_(new QLineEdit)
    , reason_(new QLabel)
    , stretches_(new QListWidget)
    , coalesce_(SignalView::kRepaintMs, [this] { refresh(); }) {
    measurements_->setObjectName(u"measurements"_s);
    measurements_->setReadOnly(true);
    measurements_->setLineWrapMode(QPlainTextEdit::NoWrap);
    measurements_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* copy = new QAction(tr("&Copy Measurements"), this);
    copy->setObjectName(u"actionCopyMeasurements"_s);
    connect(copy, &QAction::triggered, this,
            [this] { QApplication::clipboard()->setText(measurements_->toPlainText()); });
    auto* copyButton = new QToolButton;
    copyButton->setObjectName(u"copyMeasurements"_s);
    copyButton->setDefaultAction(copy);
    auto* measured = new QWidget;
    auto* measuredLayout = new QVBoxLayout(measured);
    measuredLayout->setContentsMargins(0, 0, 0, 0);
    measuredLayout->addWidget(measurements_);
    measuredLayout->addWidget(copyButton, 0, Qt::AlignLeft);
    findings_->setObjectName(u"findings"_s);
    auto* under = new QSplitter(Qt::Horizontal);
    under->addWidget(measured);
    under->addWidget(findings_);
    under->setStretchFactor(0, 3);
    under->setStretchFactor(1, 2);
    docked(window, tr("Measurements and Findings"), u"dockMeasurements"_s, under, Qt::BottomDockWidgetArea);

    goTo_->setObjectName(u"goTo"_s);
    goTo_->setPlaceholderText(u"hh:mm:ss.mmm UTC"_s);
    find_->setObjectName(u"find"_s);
    find_->setPlaceholderText(u"DI03 & !DO01"_s);
    reason_->setObjectName(u"findReason"_s);
    reason_->setWordWrap(true);
    reason_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stretches_->setObjectName(u"stretches"_s);
    auto* search = new QWidget;
    auto* form = new QFormLayout(search);
    form->addRow(tr("Go to time"), goTo_);
    form->addRow(tr("Find"), find_);
    form->addRow(reason_);
    form->addRow(stretches_);
    QWidget* searchDock = docked(window, tr("Search"), u"dockSearch"_s, search, Qt::RightDockWidgetArea);

    QMenu* menu = window->menuBar()->addMenu(tr("&Search"));
    QAction* goTo = menu->addAction(u"Go to time"_s);
    goTo->setObjectName(u"actionGoTo"_s);
    goTo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    QAction* find = menu->addAction(u"Find"_s);
    find->setObjectName(u"actionFind"_s);
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    for (const std::pair<QAction*, QLineEdit*>& typed : {std::pair{goTo, goTo_}, std::pair{find, find_}}) {
        QLineEdit* edit = typed.second;
        connect(typed.first, &QAction::triggered, this, [searchDock, edit] {
            searchDock->show();
            edit->setFocus(Qt::ShortcutFocusReason);
            edit->selectAll();
        });
    }
    menu->addSeparator();
    menu->addAction(copy);
    QAction* keys = window->menuBar()->addMenu(tr("&Help"))->addAction(tr("&Keys"));
    keys->setObjectName(u"actionKeys"_s);
    keys->setShortcut(QKeySequence::HelpContents);
    connect(keys, &QAction::triggered, window, [window] {
        // keysText() is a key and what it does on a line, apart by a tab: a table.
        QString rows;
        for (const QString& line : keysText().split(u'\n')) {
            const QStringList cells = line.split(u'\t');
            rows += u"<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>"_s.arg(
                cells.value(0).toHtmlEscaped(), cells.value(1).toHtmlEscaped());
        }
        auto* box = new QMessageBox(QMessageBox::NoIcon, tr("Keys"), u"<table>"_s + rows + u"</table>"_s,
                                    QMessageBox::Close, window);
        box->setTextFormat(Qt::RichText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->show();
    });

    connect(goTo_, &QLineEdit::returnPressed, this, &SignalPanels::goToTyped);
    connect(find_, &QLineEdit::returnPressed, this, &SignalPanels::findTyped);
    for (QListWidget* list : {findings_, stretches_}) {
        connect(list, &QListWidget::itemClicked, this, &SignalPanels::showItem);
        connect(list, &QListWidget::itemActivated, this, &SignalPanels::showItem);
    }
    connect(view_, &SignalView::shownChanged, this, [this] { coalesce_.request(); });
    refresh();
}

void SignalPanels::refresh() {
    const auto& state = view_->state();
    const bool between = view_->cursor() && view_->secondCursor();
    const qint64 fromMs = between ? std::min(*view_->cursor(), *view_->secondCursor()) : state.fromMs;
    const qint64 toMs = between ? std::max(*view_->cursor(), *view_->secondCursor()) : state.toMs;
    const QString text = (between ? tr("Between the cursors: ") : tr("The whole view: ")) +
                         measureText(cache_.measure(store_, fromMs, toMs), fromMs, toMs, state.localTime,
                                     timeline::kEveryLane & ~state.hiddenLanes);
    if (text != measurements_->toPlainText()) {
        const int scrolled = measurements_->verticalScrollBar()->value();
        measurements_->setPlainText(text);
        measurements_->verticalScrollBar()->setValue(scrolled);
    }

    // A day's findings can be millions: compared only when replies came.
    const bool moved = catchUp();
    if ((!moved || all_.findings == listed_) && state.localTime == listedLocal_)
        return;
    listed_ = all_.findings;
    listedLocal_ = state.localTime;
    findings_->clear();
    for (const timeline::Finding& finding : listed_) {
        if (findings_->count() == kListed) {
            findings_->addItem(tr("... and %1 more").arg(qsizetype(listed_.size()) - kListed));
            break;
        }
        // The span a finding is shown in takes its later reply in, so that
        // the measurements between the cursors count it.
        findings_->addItem(spanItem(findingText(finding, state.localTime), finding.fromMs, finding.toMs + 1));
    }
    view_->setMarks(listed_);
}

bool SignalPanels::catchUp() {
    const qint64 upTo = store_.appendedCount();
    const qint64 from = upTo - store_.size();
    // The reply measured last is still where it was: only appended to.
    const bool appended = all_.any && from == allFrom_ && allUpTo_ <= upTo && allUpTo_ > from &&
                          store_.at(qsizetype(allUpTo_ - 1 - from)) == all_.last;
    if (appended && allUpTo_ == upTo)
        return false;
    if (appended) {
        for (qint64 n = allUpTo_; n < upTo; ++n)
            all_.append(store_.at(qsizetype(n - from)));
    } else if (store_.isEmpty()) {
        all_ = {};
    } else {
        const qint64 first = store_.msAt(0);
        const qint64 last = store_.msAt(store_.size() - 1);
        all_ = cache_.measure(store_, std::min(first, last), std::max(first, last) + 1);
        // The span's end held the last reply; what comes next meets it.
        all_.last = store_.at(store_.size() - 1);
    }
    allFrom_ = from;
    allUpTo_ = upTo;
    return true;
}

void SignalPanels::goToTyped() {
    const auto& state = view_->state();
    const std::optional<qint64> ms = timeOnDay(goTo_->text(), state.fromMs + (state.toMs - state.fromMs) / 2);
    if (!ms) {
        reason_->setText(tr("Not a time: type UTC hh:mm:ss.mmm"));
        return;
    }
    reason_->clear();
    view_->goTo(*ms);
    view_->setFocus(Qt::OtherFocusReason);
}

void SignalPanels::findTyped() {
    stretches_->clear();
    QString why;
    const std::optional<timeline::Condition> condition = timeline::Condition::parse(find_->text(), why);
    if (!condition) {
        reason_->setText(why);
        return;
    }
    reason_->clear();
    if (store_.isEmpty())
        return;
    const qint64 first = store_.msAt(0);
    const qint64 last = store_.msAt(store_.size() - 1);
    bool more = false;
    const bool local = view_->state().localTime;
    for (const timeline::Stretch& stretch : timeline::findStretches(store_, *condition, std::min(first, last),
                                                                    std::max(first, last) + 1, kListed, more))
        stretches_->addItem(
            spanItem(stretchText(stretch.fromMs, stretch.toMs, local), stretch.fromMs, stretch.toMs));
    if (more)
        stretches_->addItem(tr("... and more"));
    if (stretches_->count() == 0)
        reason_->setText(tr("It holds nowhere in what is loaded"));
}

void SignalPanels::showItem(const QListWidgetItem* item) {
    if (item->data(kFromRole).isValid())
        view_->showSpan(item->data(kFromRole).toLongLong(), item->data(kToRole).toLongLong());
}

} // namespace lumora::waveform
