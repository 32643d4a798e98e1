// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shown_hook.h"

namespace lumora::app {

std::unique_ptr<QObject> attachShownHook(QWidget&) {
    return nullptr;
}

} // namespace lumora::app
