// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/reply_store.h"

#include <algorithm>

namespace lumora::timeline {

void Summary::merge(const Summary& other) {
    if (other.count == 0)
        return;
    if (count == 0) {
        *this = other;
        return;
    }
    count += other.count;
    for (int k = 0; k < kLaneCount; ++k)
        levelsSeen.at(k) |= other.levelsSeen.at(k);
    for (int k = 0; k < kChannelCount; ++k) {
        counterMin.at(k) = std::min(counterMin.at(k), other.counterMin.at(k));
        counterMax.at(k) = std::max(counterMax.at(k), other.counterMax.at(k));
        gapMin.at(k) = std::min(gapMin.at(k), other.gapMin.at(k));
        gapMax.at(k) = std::max(gapMax.at(k), other.gapMax.at(k));
    }
    counterDrops |= other.counterDrops;
    gapDrops |= other.gapDrops;
}

ReplyStore::ReplyStore(qsizetype keepAtLeast)
    : keepAtLeast_(keepAtLeast) {}

void ReplyStore::append(const Sample& sample) {
    samples_.push_back(sample);
    ++appended_;
    if (keepAtLeast_ != kUnbounded && qsizetype(samples_.size()) > keepAtLeast_)
        samples_.erase(samples_.begin());
}

void ReplyStore::clear() {
    samples_.clear();
    appended_ = 0;
}

qsizetype ReplyStore::size() const {
    return qsizetype(samples_.size());
}

Sample ReplyStore::at(qsizetype index) const {
    return samples_.at(std::size_t(index));
}

qint64 ReplyStore::msAt(qsizetype index) const {
    return samples_.at(std::size_t(index)).ms;
}

qint64 ReplyStore::appendedCount() const {
    return appended_;
}

std::size_t ReplyStore::memoryBytes() const {
    return samples_.capacity() * sizeof(Sample);
}

std::vector<qsizetype> ReplyStore::stepsBack() const {
    std::vector<qsizetype> steps;
    for (qsizetype i = 1; i < size(); ++i) {
        if (msAt(i) < msAt(i - 1))
            steps.push_back(i);
    }
    return steps;
}

std::vector<IndexRange> ReplyStore::rangesIn(qint64 fromMs, qint64 toMs) const {
    std::vector<IndexRange> ranges;
    IndexRange open{-1, -1};
    for (qsizetype i = 0; i < size(); ++i) {
        const qint64 ms = msAt(i);
        const bool inside = ms >= fromMs && ms < toMs;
        const bool stepBack = i > 0 && ms < msAt(i - 1);
        if (open.from >= 0 && (!inside || stepBack)) {
            ranges.push_back(open);
            open = {-1, -1};
        }
        if (inside) {
            if (open.from < 0)
                open.from = i;
            open.to = i + 1;
        }
    }
    if (open.from >= 0)
        ranges.push_back(open);
    return ranges;
}

qsizetype ReplyStore::indexAt(qint64 ms) const {
    for (qsizetype i = size() - 1; i >= 0; --i) {
        if (msAt(i) <= ms)
            return i;
    }
    return -1;
}

Summary ReplyStore::summarize(IndexRange range) const {
    Summary summary;
    for (qsizetype i = range.from; i < range.to; ++i) {
        const Sample& s = samples_.at(std::size_t(i));
        Summary one;
        one.count = 1;
        for (int k = 0; k < kLaneCount; ++k)
            one.levelsSeen.at(k) = std::uint8_t(1U << unsigned(s.lane(k)));
        one.counterMin = one.counterMax = s.counters;
        one.gapMin = one.gapMax = s.gaps;
        if (i > 0) {
            const Sample& before = samples_.at(std::size_t(i - 1));
            for (int k = 0; k < kChannelCount; ++k) {
                if (s.counters.at(k) < before.counters.at(k))
                    one.counterDrops |= 1U << k;
                if (s.gaps.at(k) < before.gaps.at(k))
                    one.gapDrops |= 1U << k;
            }
        }
        summary.merge(one);
    }
    return summary;
}

std::vector<Column> columns(const ReplyStore& store, qint64 fromMs, qint64 toMs, int width) {
    std::vector<Column> out(std::size_t(std::max(width, 0)));
    if (width <= 0 || toMs <= fromMs)
        return out;
    const double span = double(toMs - fromMs) / width;
    for (int x = 0; x < width; ++x) {
        const qint64 start = fromMs + qint64(span * x);
        const qint64 end = x + 1 == width ? toMs : fromMs + qint64(span * (x + 1));
        Column& column = out.at(std::size_t(x));
        for (const IndexRange& range : store.rangesIn(start, end)) {
            column.summary.merge(store.summarize(range));
            if (column.first < 0)
                column.first = range.from;
            column.last = range.to - 1;
        }
    }
    return out;
}

} // namespace lumora::timeline
