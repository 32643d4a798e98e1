// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/paint_throttle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace lumora::platform::widgets {

PaintThrottle::PaintThrottle(QWidget* window)
    : QObject(window)
    , window_(window) {
    deferred_.setSingleShot(true);
    deferred_.setTimerType(Qt::PreciseTimer);
    connect(&deferred_, &QTimer::timeout, this, [this] {
        // The request held back below; the window paints everything that
        // became dirty since.
        QCoreApplication::postEvent(window_, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    });
    window->installEventFilter(this);
}

bool PaintThrottle::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || event->type() != QEvent::UpdateRequest)
        return QObject::eventFilter(watched, event);
    if (!sinceLastPaint_.isValid() || sinceLastPaint_.elapsed() >= kFrameMs) {
        sinceLastPaint_.start();
        return false;
    }
    if (!deferred_.isActive())
        deferred_.start(static_cast<int>(kFrameMs - sinceLastPaint_.elapsed()));
    return true;
}

} // namespace lumora::platform::widgets
