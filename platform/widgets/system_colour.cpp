// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/system_colour.h"

#include <QApplication>
#include <QPalette>

namespace lumora::platform::widgets {

QColor systemColour(SystemColour which) {
    const QPalette palette = QApplication::palette();
    switch (which) {
    case SystemColour::ButtonFace:
        return palette.color(QPalette::Button);
    case SystemColour::Menu:
        return palette.color(QPalette::Window);
    case SystemColour::WindowText:
        return palette.color(QPalette::WindowText);
    }
    return {};
}

} // namespace lumora::platform::widgets
