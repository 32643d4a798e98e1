// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QTimeZone>

#include <array>
#include <optional>

namespace lumora::log {

// A block's stamp is the UTC time of day alone, and its file is named by the
// local date: together they give the moment the reply came. It is the
// instant inside the file's local day (a minute either side, for a reply
// stamped just before midnight and filed just after) whose UTC time of day
// is the stamp. Where two instants qualify (that minute, or the day the
// clocks go back), the earliest that keeps the file's times non-decreasing
// is taken, so each block's moment depends on the one before it.
class FileDayMoments {
public:
    // The zone is the one the file was written in; the program's own is
    // QTimeZone::systemTimeZone().
    FileDayMoments(QDate localDate, const QTimeZone& zone);

    // The moment of the file's next block, in UTC; none when no instant of
    // the day has that UTC time of day (a stamp from another day or zone).
    [[nodiscard]] std::optional<QDateTime> next(QTime utcTimeOfDay);
    // The same in milliseconds since the epoch, from the stamp's
    // milliseconds since midnight, for reading whole files without a
    // QDateTime a block.
    [[nodiscard]] std::optional<qint64> nextMs(int utcMsOfDay);

private:
    qint64 firstMs_ = 0; // the window of instants, both ends included
    qint64 lastMs_ = 0;
    std::optional<qint64> previousMs_;
};

// "YYYY-MM-DD hh:mm:ss.mmm", UTC date and UTC time.
[[nodiscard]] QString formatUtcMoment(const QDateTime& moment);

// The same text of many moments, each given in milliseconds since the epoch,
// without a QDateTime or a QString each: the date is worked out once a day.
class UtcMomentText {
public:
    // Valid until the next call.
    [[nodiscard]] QByteArrayView operator()(qint64 msSinceEpoch);

private:
    static constexpr qsizetype kChars = 23;
    std::optional<qint64> day_;
    std::array<char, kChars> text_{};
};

} // namespace lumora::log
