// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace lumora::app {

struct WindowControls;

// Makes the main window as the layout designs it: title, font and size, then
// every control of the inventory, named, placed, coloured and in focus order.
// Each control the handlers work with is handed over in controls as it is made.
void buildWindow(QWidget& window, WindowControls& controls);

} // namespace lumora::app
