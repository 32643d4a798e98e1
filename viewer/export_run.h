// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"
#include "viewer/arguments.h"

#include <QString>

namespace lumora::viewer {

// What scripts test for (the same numbers as lumora-7150r-cli's).
inline constexpr int kDone = 0;
inline constexpr int kUsageError = 1;   // nothing was written
inline constexpr int kBlockSkipped = 6; // a block or a file skipped, or the export not written

// Reads the files into the store as one timeline, for a script: every block
// or file skipped is a line on standard error. False when one was.
[[nodiscard]] bool readForScript(const QStringList& files, timeline::ReplyStore& store);

// Reads the files and writes the export; every block or file skipped is a
// line on standard error. Needs the application object (the pictures use
// fonts), not a display.
[[nodiscard]] int runExport(const Options& options);

} // namespace lumora::viewer
