// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/frame.h"

#include "platform/widgets/system_colour.h"

#include <QPainter>

namespace lumora::platform::widgets {

Frame::Frame(const QString& caption, QWidget* parent)
    : QWidget(parent)
    , caption_(caption)
    , captionColour_(systemColour(SystemColour::WindowText)) {}

void Frame::setCaptionColour(const QColor& colour) {
    captionColour_ = colour;
    update();
}

void Frame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const QRect border = rect().adjusted(0, top, -1, -1);

    // Etched border: a dark line with a light one beside it.
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(border.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(border.adjusted(1, 1, 0, 0));

    if (caption_.isEmpty())
        return;
    constexpr int kCaptionLeft = 6;
    const QRect textRect(kCaptionLeft, 0, metrics.horizontalAdvance(caption_), metrics.height());
    painter.fillRect(textRect, palette().color(QPalette::Window));
    painter.setPen(isEnabled() ? captionColour_ : palette().color(QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, caption_);
}

} // namespace lumora::platform::widgets
