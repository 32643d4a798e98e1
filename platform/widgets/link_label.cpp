// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/link_label.h"

#include <QMouseEvent>

namespace lumora::platform::widgets {

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

} // namespace lumora::platform::widgets
