// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace lumora::platform::widgets {

// Without a display Qt aborts with a terse message of its own; a program that
// opens a window checks first and says what to do.
[[nodiscard]] bool displayAvailable();

// "<program>: no display found (DISPLAY and WAYLAND_DISPLAY are empty).", and
// on a second line how to start it anyway, under a virtual display.
[[nodiscard]] QString noDisplayMessage(const QString& program, const QString& command);

} // namespace lumora::platform::widgets
