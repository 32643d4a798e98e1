// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QTime>

namespace lumora::log {

// "[hh:mm:ss.mmm]", 14 characters, from a UTC time of day.
[[nodiscard]] QString formatTimeStamp(const QTime& utcTimeOfDay);

} // namespace lumora::log
