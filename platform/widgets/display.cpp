// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/display.h"

#include <QtGlobal>

namespace lumora::platform::widgets {

bool displayAvailable() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QString noDisplayMessage(const QString& program, const QString& command) {
    return QStringLiteral("%1: no display found (DISPLAY and WAYLAND_DISPLAY are empty).\n"
                          "Start it from a desktop session, or under a virtual display: xvfb-run -a %2\n")
        .arg(program, command);
}

} // namespace lumora::platform::widgets
