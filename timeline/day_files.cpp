// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/day_files.h"

#include "log/daily_log.h"
#include "log/recv_block.h"
#include "log/utc_moment.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace lumora::timeline {

QString FileProblem::message() const {
    if (line <= 0)
        return QStringLiteral("%1: %2, skipped").arg(file, why);
    return QStringLiteral("%1:%2: %3, skipped").arg(file).arg(line).arg(why);
}

DayFiles::DayFiles(ReplyStore& store, const QTimeZone& zone)
    : store_(store)
    , zone_(zone) {}

void DayFiles::load(const QStringList& paths) {
    QStringList sorted = paths;
    std::stable_sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    for (const QString& path : sorted) {
        const std::optional<QDate> date = log::dateOfDailyLog(path);
        if (!date) {
            problems_.push_back({path, 0, QStringLiteral("not a daily log file (the name is not YYYYMMDD.txt)")});
            continue;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            problems_.push_back({path, 0, QStringLiteral("cannot open it: %1").arg(file.errorString())});
            continue;
        }
        files_.append(path);
        log::FileDayMoments moments(*date, zone_);
        log::RecvBlockReader reader(file);
        for (log::RecvBlockReader::Found found; (found = reader.next()) != log::RecvBlockReader::Found::End;) {
            if (found == log::RecvBlockReader::Found::Skipped) {
                problems_.push_back({path, reader.line(), reader.why()});
                continue;
            }
            const std::optional<QDateTime> moment = moments.next(reader.stamp());
            if (!moment) {
                problems_.push_back({path, reader.line(),
                                     QStringLiteral("the stamp is no time of %1 in this time zone")
                                         .arg(date->toString(Qt::ISODate))});
                continue;
            }
            const qint64 ms = moment->toMSecsSinceEpoch();
            if (!store_.isEmpty() && ms < store_.msAt(store_.size() - 1))
                stepsBack_.push_back({path, reader.line()});
            store_.append(sampleOf(ms, reader.reply()));
        }
        if (!reader.readToEnd())
            problems_.push_back({path, 0, QStringLiteral("cannot read it to the end: %1").arg(file.errorString())});
    }
}

qsizetype DayFiles::follow() {
    return 0;
}

} // namespace lumora::timeline
