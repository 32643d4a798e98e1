// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QWidget>

#include <memory>

namespace lumora::app {

// What the program attaches to its window once it is shown. The client
// attaches nothing (shown_hook.cpp); the start-up benchmark builds the same
// program with a probe that times the first paint (bench/shown_hook.cpp),
// so no instrumentation ships in the program users run.
std::unique_ptr<QObject> attachShownHook(QWidget& window);

} // namespace lumora::app
