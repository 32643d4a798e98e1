// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/utc_moment.h"

namespace lumora::log {

namespace {

constexpr qint64 kDayMs = qint64{24} * 60 * 60 * 1000;
constexpr qint64 kMarginMs = qint64{60} * 1000;

} // namespace

FileDayMoments::FileDayMoments(QDate localDate, const QTimeZone& zone)
    : firstMs_(localDate.startOfDay(zone).toMSecsSinceEpoch() - kMarginMs)
    , lastMs_(localDate.addDays(1).startOfDay(zone).toMSecsSinceEpoch() + kMarginMs) {}

std::optional<QDateTime> FileDayMoments::next(QTime utcTimeOfDay) {
    if (!utcTimeOfDay.isValid())
        return std::nullopt;
    const std::optional<qint64> ms = nextMs(utcTimeOfDay.msecsSinceStartOfDay());
    if (!ms)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(*ms, QTimeZone::utc());
}

std::optional<qint64> FileDayMoments::nextMs(int utcMsOfDay) {
    if (utcMsOfDay < 0 || utcMsOfDay >= kDayMs)
        return std::nullopt;
    const qint64 stampMs = utcMsOfDay;
    // A local day with its margin spans less than two UTC days, so at most
    // two instants qualify: the stamp on the UTC day the window starts in,
    // and on the one after.
    const qint64 firstDay = firstMs_ >= 0 ? firstMs_ / kDayMs : (firstMs_ - kDayMs + 1) / kDayMs;
    std::optional<qint64> earliest;
    std::optional<qint64> latest;
    std::optional<qint64> chosen;
    for (qint64 day = firstDay; day * kDayMs + stampMs <= lastMs_; ++day) {
        const qint64 ms = day * kDayMs + stampMs;
        if (ms < firstMs_)
            continue;
        if (!earliest)
            earliest = ms;
        latest = ms;
        if (!chosen && (!previousMs_ || ms >= *previousMs_))
            chosen = ms;
    }
    if (!earliest)
        return std::nullopt;
    // Times that go back anyway (a damaged file, the clock set by hand) go
    // back as little as they can.
    previousMs_ = chosen ? *chosen : *latest;
    return previousMs_;
}

QString formatUtcMoment(const QDateTime& moment) {
    UtcMomentText text;
    return QString::fromLatin1(text(moment.toMSecsSinceEpoch()));
}

QByteArrayView UtcMomentText::operator()(qint64 msSinceEpoch) {
    const qint64 day = msSinceEpoch >= 0 ? msSinceEpoch / kDayMs : (msSinceEpoch - kDayMs + 1) / kDayMs;
    const auto msOfDay = int(msSinceEpoch - day * kDayMs);
    char* out = text_.data();
    auto put = [out](int value, int digits, int at) {
        for (int i = digits - 1; i >= 0; --i) {
            out[at + i] = char('0' + value % 10);
            value /= 10;
        }
    };
    if (day_ != day) {
        day_ = day;
        const QDate date = QDate(1970, 1, 1).addDays(day);
        put(date.year(), 4, 0);
        text_[4] = '-';
        put(date.month(), 2, 5);
        text_[7] = '-';
        put(date.day(), 2, 8);
        text_[10] = ' ';
        text_[13] = ':';
        text_[16] = ':';
        text_[19] = '.';
    }
    constexpr int kMsPerSecond = 1000;
    constexpr int kSecondsPerMinute = 60;
    constexpr int kMinutesPerHour = 60;
    const int seconds = msOfDay / kMsPerSecond;
    put(seconds / (kSecondsPerMinute * kMinutesPerHour), 2, 11);
    put(seconds / kSecondsPerMinute % kMinutesPerHour, 2, 14);
    put(seconds % kSecondsPerMinute, 2, 17);
    put(msOfDay % kMsPerSecond, 3, 20);
    return {text_.data(), kChars};
}

} // namespace lumora::log
