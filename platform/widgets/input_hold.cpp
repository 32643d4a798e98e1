// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/input_hold.h"

#include <QApplication>
#include <QWidget>

namespace lumora::platform::widgets {

InputHold::InputHold(QWidget& window, QList<QWidget*> reachable)
    : window_(window)
    , reachable_(std::move(reachable)) {
    qApp->installEventFilter(this);
}

InputHold::~InputHold() {
    qApp->removeEventFilter(this);
}

bool InputHold::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
        break;
    default:
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    // The box is a window of its own, so isAncestorOf leaves it out.
    if (widget == nullptr || (widget != &window_ && !window_.isAncestorOf(widget)))
        return false;
    for (const QWidget* open : reachable_) {
        if (widget == open || open->isAncestorOf(widget))
            return false;
    }
    return true;
}

} // namespace lumora::platform::widgets
