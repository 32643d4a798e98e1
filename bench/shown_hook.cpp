// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/shown_hook.h"
#include "shown_probe.h"

namespace lumora::app {

std::unique_ptr<QObject> attachShownHook(QWidget& window) {
    return ShownProbe::attachIfAsked(window);
}

} // namespace lumora::app
