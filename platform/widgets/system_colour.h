// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>

namespace lumora::platform::widgets {

// The system colours the window refers to by name.
enum class SystemColour { ButtonFace, Menu, WindowText };
QColor systemColour(SystemColour which);

} // namespace lumora::platform::widgets
