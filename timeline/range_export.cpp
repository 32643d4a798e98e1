// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/range_export.h"

#include "log/utc_moment.h"
#include "timeline/vcd_writer.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>
#include <QTimeZone>

namespace lumora::timeline {

namespace {

// Written out in pieces of about this size, so a day's export needs no
// day's worth of text at once.
constexpr qsizetype kFlushBytes = qsizetype{1} << 20;

void appendState(QString& row, Level level) {
    row += u',';
    if (level != Level::Refused)
        row += QChar(u'0' + int(level));
}

} // namespace

QString csvHeader() {
    QStringList columns{QStringLiteral("time")};
    for (int k = 0; k < protocol::kInputCount; ++k)
        columns.append(laneName(k));
    for (int k = 1; k <= kChannelCount; ++k)
        columns.append(QStringLiteral("CNT") + protocol::channelText(k));
    for (int k = 1; k <= kChannelCount; ++k)
        columns.append(QStringLiteral("GAP") + protocol::channelText(k));
    for (int k = 0; k < protocol::kOutputCount; ++k)
        columns.append(laneName(protocol::kInputCount + k));
    return columns.join(u',');
}

QString csvRow(QStringView time, const Sample& sample) {
    QString row = time.toString();
    for (int k = 0; k < protocol::kInputCount; ++k)
        appendState(row, sample.lane(k));
    for (const std::uint32_t c : sample.counters)
        row += u',' + protocol::counterText(c);
    for (const std::uint32_t g : sample.gaps)
        row += u',' + protocol::timeGapText(g);
    for (int k = 0; k < protocol::kOutputCount; ++k)
        appendState(row, sample.lane(protocol::kInputCount + k));
    return row;
}

bool writeCsv(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs) {
    QByteArray text = csvHeader().toLatin1() + '\n';
    const auto flush = [&] {
        const bool written = out.write(text) == text.size();
        text.clear();
        return written;
    };
    for (const IndexRange& range : store.rangesIn(fromMs, toMs)) {
        for (qsizetype i = range.from; i < range.to; ++i) {
            const Sample s = store.at(i);
            const QString time = log::formatUtcMoment(QDateTime::fromMSecsSinceEpoch(s.ms, QTimeZone::utc()));
            text += csvRow(time, s).toLatin1() + '\n';
            if (text.size() >= kFlushBytes && !flush())
                return false;
        }
    }
    return flush();
}

bool writeVcd(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs) {
    VcdWriter writer(out);
    for (const IndexRange& range : store.rangesIn(fromMs, toMs)) {
        for (qsizetype i = range.from; i < range.to; ++i)
            writer.add(store.at(i));
    }
    return writer.finish();
}

} // namespace lumora::timeline
