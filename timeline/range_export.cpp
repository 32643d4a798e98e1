// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/range_export.h"

#include "log/utc_moment.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>
#include <QTimeZone>

namespace lumora::timeline {

namespace {

QString state(Level level) {
    return level == Level::Refused ? QString() : QString::number(int(level));
}

} // namespace

bool writeCsv(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs) {
    QStringList header{QStringLiteral("time")};
    for (int k = 0; k < protocol::kInputCount; ++k)
        header.append(laneName(k));
    for (int k = 1; k <= kChannelCount; ++k)
        header.append(QStringLiteral("CNT") + protocol::channelText(k));
    for (int k = 1; k <= kChannelCount; ++k)
        header.append(QStringLiteral("GAP") + protocol::channelText(k));
    for (int k = 0; k < protocol::kOutputCount; ++k)
        header.append(laneName(protocol::kInputCount + k));
    QByteArray text = header.join(u',').toLatin1() + '\n';
    for (const IndexRange& range : store.rangesIn(fromMs, toMs)) {
        for (qsizetype i = range.from; i < range.to; ++i) {
            const Sample s = store.at(i);
            QStringList row{log::formatUtcMoment(QDateTime::fromMSecsSinceEpoch(s.ms, QTimeZone::utc()))};
            for (int k = 0; k < protocol::kInputCount; ++k)
                row.append(state(s.lane(k)));
            for (const std::uint32_t c : s.counters)
                row.append(protocol::counterText(c));
            for (const std::uint32_t g : s.gaps)
                row.append(protocol::timeGapText(g));
            for (int k = 0; k < protocol::kOutputCount; ++k)
                row.append(state(s.lane(protocol::kInputCount + k)));
            text += row.join(u',').toLatin1() + '\n';
        }
    }
    return out.write(text) == text.size();
}

bool writeVcd(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs) {
    Q_UNUSED(out);
    Q_UNUSED(store);
    Q_UNUSED(fromMs);
    Q_UNUSED(toMs);
    return false;
}

} // namespace lumora::timeline
