// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QDateTime>

namespace lumora::platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime nowUtc() const = 0;
    virtual QDate localDate() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime nowUtc() const override { return QDateTime::currentDateTimeUtc(); }
    QDate localDate() const override { return QDate::currentDate(); }
};

} // namespace lumora::platform
