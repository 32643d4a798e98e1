// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/texts.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>

namespace lumora::viewer {

using namespace Qt::StringLiterals;

Span wholeSpan(const timeline::ReplyStore& store) {
    if (store.isEmpty())
        return {};
    qint64 earliest = store.msAt(0);
    qint64 latest = earliest;
    // Only the forward stretches' ends can hold the extremes.
    std::vector<qsizetype> starts = store.stepsBack();
    starts.push_back(store.size());
    qsizetype begin = 0;
    for (const qsizetype end : starts) {
        earliest = std::min(earliest, store.msAt(begin));
        latest = std::max(latest, store.msAt(end - 1));
        begin = end;
    }
    return {earliest, latest + 1};
}

Span exportSpan(const timeline::ReplyStore& store, std::optional<QTime> from, std::optional<QTime> to) {
    const Span whole = wholeSpan(store);
    if (store.isEmpty() || (!from && !to))
        return whole;
    const QDate day = QDateTime::fromMSecsSinceEpoch(store.msAt(0), QTimeZone::utc()).date();
    const auto onDay = [&day](QTime time) {
        return QDateTime(day, time, QTimeZone::utc()).toMSecsSinceEpoch();
    };
    constexpr qint64 kDayMs = qint64{24} * 60 * 60 * 1000;
    Span span{from ? onDay(*from) : whole.fromMs, to ? onDay(*to) : whole.toMs};
    if (to && span.toMs <= span.fromMs)
        span.toMs += kDayMs;
    span.toMs = std::max(span.toMs, span.fromMs);
    return span;
}

QString windowTitle(const QStringList& files) {
    QString title = u"Signals over Time"_s;
    if (files.isEmpty())
        return title;
    const QString first = QFileInfo(files.constFirst()).fileName();
    if (files.size() == 1)
        return title + u" — "_s + first;
    return title +
           u" — %1 to %2 (%3 files)"_s.arg(first, QFileInfo(files.constLast()).fileName()).arg(files.size());
}

QString problemsText(const std::vector<timeline::FileProblem>& problems) {
    QStringList lines;
    for (const timeline::FileProblem& problem : problems)
        lines.append(problem.message());
    return lines.join(u'\n');
}

} // namespace lumora::viewer
