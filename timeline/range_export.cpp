// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/range_export.h"

#include "log/utc_moment.h"
#include "timeline/vcd_writer.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>
#include <QTimeZone>

#include <charconv>
#include <cstring>

namespace lumora::timeline {

namespace {

// Written out in pieces of about this size, so a day's export needs no
// day's worth of text at once.
constexpr qsizetype kFlushBytes = qsizetype{1} << 20;

// The most a row's values take after its time: a state, a counter and a
// gap, each after its comma.
constexpr qsizetype kMostValueChars =
    (kLaneCount * 2) + (kChannelCount * (1 + 10)) + (kChannelCount * (1 + protocol::kMostTimeGapChars));

bool has(LaneSet lanes, int lane) {
    return (lanes >> lane & 1U) != 0;
}

char* putState(char* p, Level level) {
    *p++ = ',';
    if (level != Level::Refused)
        *p++ = char('0' + int(level));
    return p;
}

} // namespace

QString csvHeader(LaneSet lanes) {
    QStringList columns{QStringLiteral("time")};
    const auto add = [&](int lane) {
        if (has(lanes, lane))
            columns.append(anyLaneName(lane));
    };
    for (int k = 0; k < protocol::kInputCount; ++k)
        add(k);
    for (int k = 0; k < 2 * kChannelCount; ++k)
        add(kFirstCounterLane + k);
    for (int k = 0; k < protocol::kOutputCount; ++k)
        add(protocol::kInputCount + k);
    return columns.join(u',');
}

QString csvRow(QStringView time, const Sample& sample) {
    QByteArray row;
    appendCsvRow(row, time.toLatin1(), sample);
    row.chop(1);
    return QString::fromLatin1(row);
}

void appendCsvRow(QByteArray& out, QByteArrayView time, const Sample& sample, LaneSet lanes) {
    const qsizetype at = out.size();
    out.resize(at + time.size() + kMostValueChars + 1);
    char* const start = out.data() + at;
    std::memcpy(start, time.data(), std::size_t(time.size()));
    char* p = start + time.size();
    for (int k = 0; k < protocol::kInputCount; ++k) {
        if (has(lanes, k))
            p = putState(p, sample.lane(k));
    }
    for (int k = 0; k < kChannelCount; ++k) {
        if (!has(lanes, kFirstCounterLane + k))
            continue;
        *p++ = ',';
        p = std::to_chars(p, p + 10, sample.counters.at(std::size_t(k))).ptr;
    }
    for (int k = 0; k < kChannelCount; ++k) {
        if (!has(lanes, kFirstGapLane + k))
            continue;
        *p++ = ',';
        p = protocol::putTimeGapText(p, sample.gaps.at(std::size_t(k)));
    }
    for (int k = protocol::kInputCount; k < kLaneCount; ++k) {
        if (has(lanes, k))
            p = putState(p, sample.lane(k));
    }
    *p++ = '\n';
    out.truncate(p - out.constData());
}

bool writeCsv(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs, LaneSet lanes) {
    QByteArray text = csvHeader(lanes).toLatin1() + '\n';
    text.reserve(kFlushBytes + kFlushBytes / 8);
    const auto flush = [&] {
        const bool written = out.write(text) == text.size();
        text.resize(0); // keeps its room
        return written;
    };
    log::UtcMomentText times;
    for (const IndexRange& range : store.rangesIn(fromMs, toMs)) {
        for (qsizetype i = range.from; i < range.to; ++i) {
            const Sample s = store.at(i);
            appendCsvRow(text, times(s.ms), s, lanes);
            if (text.size() >= kFlushBytes && !flush())
                return false;
        }
    }
    return flush();
}

bool writeVcd(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs, LaneSet lanes) {
    VcdWriter writer(out, lanes);
    for (const IndexRange& range : store.rangesIn(fromMs, toMs)) {
        for (qsizetype i = range.from; i < range.to; ++i)
            writer.add(store.at(i));
    }
    return writer.finish();
}

} // namespace lumora::timeline
