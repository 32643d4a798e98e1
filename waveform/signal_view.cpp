// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/signal_view.h"

#include "waveform/picture.h"
#include "waveform/readout.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace lumora::waveform {

namespace {

constexpr qint64 kMinSpanMs = 10;
constexpr qint64 kMaxSpanMs = qint64(400) * 24 * 3600 * 1000;
constexpr qint64 kFirstSpanMs = 10'000;
// One wheel notch narrows the span to this share of itself.
constexpr double kZoomPerNotch = 0.8;
constexpr double kNotch = 120.0;
// Following leaves this share of the span free to the right of the newest reply.
constexpr qint64 kFollowMarginDivisor = 50;
constexpr int kPanelMargin = 8;
constexpr qint64 kKeyPanDivisor = 10;

const QColor kCursor{0, 90, 255};
const QColor kSecondCursor{200, 0, 200};

} // namespace

SignalView::SignalView(const timeline::ReplyStore& store, QWidget* parent)
    : QWidget(parent)
    , store_(store)
    , readout_(new QLabel(this))
    , coalesce_(kRepaintMs, [this] { refresh(); }) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 240);
    setAccessibleName(QStringLiteral("Signals"));
    readout_->setObjectName(QStringLiteral("readout"));
    readout_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    readout_->setTextFormat(Qt::PlainText);
    readout_->setAttribute(Qt::WA_TransparentForMouseEvents);
    readout_->setAutoFillBackground(true);
    readout_->setFrameShape(QFrame::Box);
    readout_->setMargin(4);
    QPalette palette = readout_->palette();
    palette.setColor(QPalette::Window, QColor(255, 255, 225, 235));
    palette.setColor(QPalette::WindowText, Qt::black);
    readout_->setPalette(palette);
    readout_->hide();
    refresh();
}

void SignalView::setSpan(qint64 fromMs, qint64 toMs) {
    state_.fromMs = fromMs;
    state_.toMs = toMs;
    updateReadout();
    update();
}

void SignalView::setFollow(bool follow) {
    if (follow == follow_)
        return;
    follow_ = follow;
    if (follow_) {
        followNewest();
        update();
    }
    Q_EMIT followChanged(follow);
}

void SignalView::setLocalTime(bool local) {
    state_.localTime = local;
    updateReadout();
    update();
}

void SignalView::setHidden(timeline::LaneSet lanes) {
    if (lanes == state_.hiddenLanes)
        return;
    state_.hiddenLanes = lanes;
    updateReadout();
    update();
}

void SignalView::storeChanged() {
    // Replies may come a thousand a second: the first change shows at once,
    // the rest wait for the next repaint.
    coalesce_.request();
}

void SignalView::refresh() {
    ++storeVersion_;
    if (follow_)
        followNewest();
    else if (state_.toMs <= state_.fromMs)
        showAll();
    updateReadout();
    update();
}

void SignalView::showAll() {
    if (store_.isEmpty())
        return;
    const qint64 first = store_.msAt(0);
    const qint64 last = store_.msAt(store_.size() - 1);
    const qint64 span = std::max(last - first, kMinSpanMs);
    state_.fromMs = first;
    state_.toMs = first + span + span / kFollowMarginDivisor + 1;
}

void SignalView::followNewest() {
    if (store_.isEmpty())
        return;
    qint64 span = state_.toMs - state_.fromMs;
    if (span <= 0) {
        showAll();
        span = state_.toMs - state_.fromMs;
        if (span < kFirstSpanMs)
            span = kFirstSpanMs;
    }
    state_.toMs = store_.msAt(store_.size() - 1) + 1 + span / kFollowMarginDivisor;
    state_.fromMs = state_.toMs - span;
}

qint64 SignalView::msAt(int x) const {
    return msAtX(layoutOf(rect(), state_).plot, state_, x);
}

void SignalView::paintEvent(QPaintEvent* /*event*/) {
    ++paints_;
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (frame_.size() != pixels || frame_.devicePixelRatio() != ratio || frameVersion_ != storeVersion_ ||
        !(frameState_ == state_)) {
        if (frame_.size() != pixels)
            frame_ = QImage(pixels, QImage::Format_RGB32);
        frame_.setDevicePixelRatio(ratio);
        QPainter framePainter(&frame_);
        paintSignals(framePainter, rect(), store_, state_);
        frameState_ = state_;
        frameVersion_ = storeVersion_;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, frame_);
    const Layout layout = layoutOf(rect(), state_);
    const QRect plot = layout.plot;
    const auto drawCursor = [&](const std::optional<qint64>& ms, const QColor& colour) {
        if (!ms || *ms < state_.fromMs || *ms >= state_.toMs)
            return;
        const int x = xAtMs(plot, state_, *ms);
        painter.setPen(QPen(colour, 1, Qt::DashLine));
        painter.drawLine(x, plot.top(), x, plot.bottom());
    };
    drawCursor(cursor_, kCursor);
    drawCursor(secondCursor_, kSecondCursor);
    paintMarks(painter, layout, state_, marks_, selected_);
}

void SignalView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / kNotch;
    if (notches == 0 || state_.toMs <= state_.fromMs) {
        event->ignore();
        return;
    }
    event->accept();
    zoom(notches, event->position().x());
}

void SignalView::zoom(double notches, double x) {
    const qint64 span = state_.toMs - state_.fromMs;
    if (span <= 0)
        return;
    const QRect plot = layoutOf(rect(), state_).plot;
    const qint64 newSpan = std::clamp(qint64(std::llround(double(span) * std::pow(kZoomPerNotch, notches))),
                                      kMinSpanMs, kMaxSpanMs);
    // The moment under the pointer stays under it; while following, the
    // newest reply stays at the right edge instead.
    const double share = follow_ ? 1.0 : std::clamp((x - plot.left()) / plot.width(), 0.0, 1.0);
    const qint64 pivot = state_.fromMs + qint64(std::llround(share * double(span)));
    state_.fromMs = pivot - qint64(std::llround(share * double(newSpan)));
    state_.toMs = state_.fromMs + newSpan;
    updateReadout();
    update();
}

void SignalView::pan(qint64 ms) {
    setFollow(false);
    state_.fromMs += ms;
    state_.toMs += ms;
    updateReadout();
    update();
}

void SignalView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressAt_ = event->position().toPoint();
    pressState_ = state_;
    panning_ = false;
}

void SignalView::mouseMoveEvent(QMouseEvent* event) {
    if (!pressAt_ || (event->buttons() & Qt::LeftButton) == 0)
        return;
    const int dx = event->position().toPoint().x() - pressAt_->x();
    if (!panning_ && std::abs(dx) < QApplication::startDragDistance())
        return;
    if (!panning_) {
        panning_ = true;
        setFollow(false);
    }
    const QRect plot = layoutOf(rect(), state_).plot;
    const qint64 span = pressState_.toMs - pressState_.fromMs;
    const qint64 shift = qint64(std::llround(double(dx) * double(span) / plot.width()));
    state_.fromMs = pressState_.fromMs - shift;
    state_.toMs = pressState_.toMs - shift;
    updateReadout();
    update();
}

void SignalView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressAt_)
        return;
    const bool click = !panning_;
    pressAt_.reset();
    panning_ = false;
    const QPoint at = event->position().toPoint();
    const Layout layout = layoutOf(rect(), state_);
    if (click && layout.names.contains(at)) {
        for (const Row& row : layout.rows) {
            if (row.band.top() <= at.y() && at.y() <= row.band.bottom())
                selectLane(laneNumber(row));
        }
        return;
    }
    const QRect& plot = layout.plot;
    if (!click || !plot.contains(at) || state_.toMs <= state_.fromMs)
        return;
    const qint64 ms = msAt(at.x());
    if ((event->modifiers() & Qt::ShiftModifier) != 0 && cursor_)
        secondCursor_ = ms;
    else
        cursor_ = ms;
    updateReadout();
    update();
}

void SignalView::keyPressEvent(QKeyEvent* event) {
    // The keyboard does what the wheel and the mouse do: arrows pan by a
    // tenth of the span, + and - zoom around the middle.
    const qint64 span = state_.toMs - state_.fromMs;
    const double middle = layoutOf(rect(), state_).plot.center().x();
    if (changeKey(event))
        return;
    switch (event->key()) {
    case Qt::Key_Escape:
        cursor_.reset();
        secondCursor_.reset();
        updateReadout();
        update();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (span > 0)
            pan((event->key() == Qt::Key_Left ? -span : span) / kKeyPanDivisor);
        return;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(1, middle);
        return;
    case Qt::Key_Minus:
        zoom(-1, middle);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void SignalView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateReadout();
}

QString SignalView::readoutText() const {
    if (!cursor_)
        return {};
    const auto shownAt = [this](qint64 ms) -> std::optional<timeline::Sample> {
        const qsizetype index = store_.indexAt(ms);
        if (index < 0)
            return std::nullopt;
        return store_.at(index);
    };
    const std::optional<timeline::Sample> first = shownAt(*cursor_);
    QString text = cursorText(*cursor_, first, state_.localTime);
    if (secondCursor_) {
        text += QStringLiteral("\n\nSecond cursor %1\n").arg(momentText(*secondCursor_, state_.localTime));
        text += spanText(*cursor_, first, *secondCursor_, shownAt(*secondCursor_),
                         std::uint32_t(state_.hiddenLanes >> timeline::kFirstCounterLane));
    }
    return text;
}

void SignalView::updateReadout() {
    Q_EMIT shownChanged();
    const QString text = readoutText();
    if (text.isEmpty()) {
        readout_->hide();
        return;
    }
    if (readout_->text() != text) {
        readout_->setText(text);
        readout_->adjustSize();
    }
    readout_->move(std::max(0, width() - readout_->width() - kPanelMargin), kPanelMargin);
    readout_->show();
    readout_->raise();
}

} // namespace lumora::waveform
