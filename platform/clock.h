// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QDateTime>

namespace lumora::platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime nowUtc() const = 0;
    // The local date at a moment read before: a reply's stamp and the day
    // file it goes into come from the one reading, even across midnight.
    virtual QDate localDate(const QDateTime& moment) const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime nowUtc() const override { return QDateTime::currentDateTimeUtc(); }
    QDate localDate(const QDateTime& moment) const override { return moment.toLocalTime().date(); }
};

} // namespace lumora::platform
