#pragma once

#include <QString>
#include <QTime>

namespace eventlog {

// "[hh:mm:ss.mmm]", 14 characters, from a UTC time of day.
QString formatTimeStamp(const QTime& utcTimeOfDay);

} // namespace eventlog
