#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "platform/settings_store.h"

namespace lumora::cli {

// Runs the command on a QCoreApplication that exists; gives the exit status.
// The settings store is only read.
int runCommand(const Invocation& invocation, platform::SettingsStore& settings, Console& console);

} // namespace lumora::cli