// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/stop_signals.h"
#include "platform/settings_store.h"

namespace lumora::cli {

// Runs the command on a QCoreApplication that exists; gives the exit status.
// The settings store is only read; poll watches the stop signals, which the
// caller has blocked.
int runCommand(const Invocation& invocation, platform::SettingsStore& settings, Console& console,
               StopSignals& stopSignals);

} // namespace lumora::cli
