// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/signal_view.h"

#include "waveform/picture.h"

#include <QPainter>

namespace lumora::waveform {

SignalView::SignalView(const timeline::ReplyStore& store, QWidget* parent)
    : QWidget(parent)
    , store_(store) {}

void SignalView::setSpan(qint64 fromMs, qint64 toMs) {
    state_.fromMs = fromMs;
    state_.toMs = toMs;
    update();
}

void SignalView::setFollow(bool follow) {
    if (follow == follow_)
        return;
    follow_ = follow;
    Q_EMIT followChanged(follow);
}

void SignalView::setLocalTime(bool local) {
    state_.localTime = local;
    update();
}

void SignalView::storeChanged() {
    update();
}

void SignalView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    paintSignals(painter, rect(), store_, state_);
}

} // namespace lumora::waveform
