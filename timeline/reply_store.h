// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/sample.h"

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <vector>

namespace lumora::timeline {

// What a stretch of replies held, for drawing it in one pixel column without
// visiting each reply again.
struct Summary {
    qsizetype count = 0;
    std::array<std::uint8_t, kLaneCount> levelsSeen{}; // bit (1 << Level) for each level seen
    std::array<std::uint32_t, kChannelCount> counterMin{};
    std::array<std::uint32_t, kChannelCount> counterMax{};
    std::array<std::uint32_t, kChannelCount> gapMin{};
    std::array<std::uint32_t, kChannelCount> gapMax{};
    // Bit k: counter k (time gap k) went down at some reply of the stretch,
    // against the reply held before it (a reset or a wrap).
    std::uint32_t counterDrops = 0;
    std::uint32_t gapDrops = 0;

    void merge(const Summary& other);
};

// Half-open [from, to) of indices into the store.
struct IndexRange {
    qsizetype from = 0;
    qsizetype to = 0;
    friend bool operator==(const IndexRange&, const IndexRange&) = default;
};

// The replies of a timeline in the order they came (file order, or arrival
// order), held compactly. Times need not increase: a reply stamped earlier
// than the one before stays where it came and starts a new forward stretch.
class ReplyStore {
public:
    static constexpr qsizetype kUnbounded = -1;

    // With a bound, at least the newest keepAtLeast replies are held and
    // older ones drop off.
    explicit ReplyStore(qsizetype keepAtLeast = kUnbounded);

    void append(const Sample& sample);
    void clear();

    [[nodiscard]] qsizetype size() const;
    [[nodiscard]] bool isEmpty() const { return size() == 0; }
    // 0 is the oldest reply held.
    [[nodiscard]] Sample at(qsizetype index) const;
    [[nodiscard]] qint64 msAt(qsizetype index) const;
    // Replies ever appended (since the last clear), dropped ones included.
    [[nodiscard]] qint64 appendedCount() const;
    // Bytes held for the replies and their summaries.
    [[nodiscard]] std::size_t memoryBytes() const;

    // Indices i where msAt(i) < msAt(i - 1).
    [[nodiscard]] std::vector<qsizetype> stepsBack() const;
    // The replies whose moment lies in [fromMs, toMs): one range per forward
    // stretch that reaches into it, in store order.
    [[nodiscard]] std::vector<IndexRange> rangesIn(qint64 fromMs, qint64 toMs) const;
    // The reply shown at a moment: the last one, in store order, whose moment
    // is at or before it; -1 when none is.
    [[nodiscard]] qsizetype indexAt(qint64 ms) const;
    // Summary of [from, to); to > from.
    [[nodiscard]] Summary summarize(IndexRange range) const;

private:
    qsizetype keepAtLeast_;
    qint64 appended_ = 0;
    std::vector<Sample> samples_;
};

// One pixel column of a picture: what the replies in its time span held.
struct Column {
    Summary summary;      // count 0 when no reply falls in it
    qsizetype first = -1; // store index of its first and last reply
    qsizetype last = -1;
};

// Splits [fromMs, toMs) into width equal columns and summarizes each; the
// work grows with width, not with the replies behind it.
[[nodiscard]] std::vector<Column> columns(const ReplyStore& store, qint64 fromMs, qint64 toMs, int width);

} // namespace lumora::timeline
