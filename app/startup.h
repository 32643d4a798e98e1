#pragma once

#include "app/frmSim_7150R.h"

#include <QString>

#include <memory>
#include <optional>

namespace app {

// Makes <programDir>/Log unless an entry of that name (folder or plain file)
// already exists. Gives the reason when it could not be made; start-up goes
// on without it and the daily log writes report their own failures.
std::optional<QString> MakeLogFolder(const QString& programDir);

// Makes the Log folder, loads the window with its settings and shows it.
std::unique_ptr<frmSim_7150R> Main(const Services& services);

} // namespace app
