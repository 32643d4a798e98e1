// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/frmSim_7150R.h"

#include <QString>

#include <memory>

namespace lumora::app {

// Makes <programDir>/Log unless an entry of that name (folder or plain file)
// already exists, and programDir with it when that is missing too (a user's
// data folder on the first start). A folder that cannot be made is warned
// about; start-up goes on without it and the daily log writes report their
// own failures.
void MakeLogFolder(const QString& programDir);

// The folder that the Log folder goes into. The installation's bin folder is
// not the user's to write (and run as root, one log there would mix users'
// runs), so a program started from there logs into the user's data folder for
// the application; a copy anywhere else, the build folder included, logs
// beside itself.
QString logHome(const QString& programDir, const QString& installedBinDir);
// The same, against the bin folder this build installs into.
QString logHome(const QString& programDir);

// Makes the Log folder, loads the window with its settings and shows it.
std::unique_ptr<frmSim_7150R> Main(const Services& services);

} // namespace lumora::app
