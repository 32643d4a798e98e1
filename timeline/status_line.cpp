// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/status_line.h"

#include <QDateTime>
#include <QTimeZone>

namespace lumora::timeline {

QString statusLine(const ReplyStore& store) {
    if (store.isEmpty())
        return QStringLiteral("0 replies");
    const auto time = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).time().toString(u"hh:mm:ss.zzz");
    };
    return QStringLiteral("%1 replies, %2 to %3 UTC")
        .arg(store.size())
        .arg(time(store.msAt(0)), time(store.msAt(store.size() - 1)));
}

} // namespace lumora::timeline
