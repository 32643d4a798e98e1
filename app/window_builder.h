// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace lumora::app {

// Makes the main window as the layout designs it: title, font and size, then
// every control of the inventory, named, placed, coloured and in focus order.
// The window finds its controls by name afterwards.
void buildWindow(QWidget& window);

} // namespace lumora::app
