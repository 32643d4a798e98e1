// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/time_stamp.h"

namespace lumora::log {

namespace {

// Where each field's digits sit in "[hh:mm:ss.mmm]".
constexpr int kHourAt = 1;
constexpr int kMinuteAt = 4;
constexpr int kSecondAt = 7;
constexpr int kMsecAt = 10;

} // namespace

QString formatTimeStamp(const QTime& utcTimeOfDay) {
    // An invalid time would give negative fields; midnight keeps the stamp at
    // its fixed 14 characters.
    const QTime time = utcTimeOfDay.isValid() ? utcTimeOfDay : QTime(0, 0);
    // Filled in place: every log line of a reply starts with one of these.
    QString stamp = QStringLiteral("[00:00:00.000]");
    QChar* out = stamp.data();
    auto put = [&out](int value, int digits, int at) {
        for (int i = digits - 1; i >= 0; --i) {
            out[at + i] = QLatin1Char(char('0' + value % 10));
            value /= 10;
        }
    };
    put(time.hour(), 2, kHourAt);
    put(time.minute(), 2, kMinuteAt);
    put(time.second(), 2, kSecondAt);
    put(time.msec(), 3, kMsecAt);
    return stamp;
}

} // namespace lumora::log
