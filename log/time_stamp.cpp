#include "log/time_stamp.h"

namespace eventlog {

QString formatTimeStamp(const QTime& utcTimeOfDay) {
    // An invalid time would give negative fields; midnight keeps the stamp at
    // its fixed 14 characters.
    const QTime time = utcTimeOfDay.isValid() ? utcTimeOfDay : QTime(0, 0);
    const QLatin1Char zero('0');
    return QStringLiteral("[%1:%2:%3.%4]")
        .arg(time.hour(), 2, 10, zero)
        .arg(time.minute(), 2, 10, zero)
        .arg(time.second(), 2, 10, zero)
        .arg(time.msec(), 3, 10, zero);
}

} // namespace eventlog
