// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/sample.h"

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
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
//
// Replies are kept in chunks of kChunkReplies: the newest chunk as it came,
// every full one packed column by column. Each group of kGroupReplies, each
// block of kBlockReplies and each chunk keeps its summary, so summarizing a
// range costs a few dozen merges however many replies it holds.
struct Measure;

class ReplyStore {
public:
    static constexpr qsizetype kUnbounded = -1;
    static constexpr qsizetype kGroupReplies = 64;
    static constexpr qsizetype kBlockReplies = 512;
    static constexpr qsizetype kChunkReplies = 4096;
    static constexpr std::size_t kChunkFindings = 64;

    // With a bound, at least the newest keepAtLeast replies are held and
    // older ones drop off, a chunk at a time.
    explicit ReplyStore(qsizetype keepAtLeast = kUnbounded);
    ~ReplyStore();
    ReplyStore(const ReplyStore&) = delete;
    ReplyStore& operator=(const ReplyStore&) = delete;
    ReplyStore(ReplyStore&&) noexcept;
    ReplyStore& operator=(ReplyStore&&) noexcept;

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
    // Within a range whose times do not go back (one forward stretch, or
    // part of one): the first index whose moment is at or after ms, else
    // forward.to.
    [[nodiscard]] qsizetype firstAtOrAfter(IndexRange forward, qint64 ms) const;
    // Summary of [from, to); to > from.
    [[nodiscard]] Summary summarize(IndexRange range) const;
    // What the full chunk starting at index `first` (a multiple of
    // kChunkReplies) measured; nullptr for the chunk still filling and, in a
    // bounded store, for one that found more than kChunkFindings. An
    // unbounded store folds each chunk as it fills; a bounded one the first
    // time the chunk is asked for, which changes the store: not to be asked
    // while another thread appends.
    [[nodiscard]] const Measure* chunkMeasure(qsizetype first) const;

private:
    // A group's, block's or chunk's summary. Its drops leave out its first
    // reply's, which are kept apart: once the replies before it are dropped,
    // nothing is held before that reply to have gone down from.
    struct Level {
        Summary summary;
        std::uint32_t firstCounterDrops = 0;
        std::uint32_t firstGapDrops = 0;
    };
    struct Packed;

    static void extend(Level& level, const Level& part, bool starts);
    void pack();
    void mergeLevel(Summary& into, const Level& level, qsizetype first) const;
    void scanReplies(Summary& into, qsizetype from, qsizetype to) const;
    [[nodiscard]] std::vector<IndexRange> stretches() const;

    qsizetype keepAtLeast_;
    qint64 appended_ = 0;
    qint64 dropped_ = 0;
    std::deque<std::unique_ptr<Packed>> packed_;
    // The open chunk, as it came, and the summaries of its finished groups
    // and blocks; group_, block_ and chunk_ are the ones still filling.
    std::vector<Sample> open_;
    std::vector<Level> openGroups_;
    std::vector<Level> openBlocks_;
    Level group_;
    Level block_;
    Level chunk_;
    // Where time steps back, counted in replies ever appended.
    std::deque<qint64> steps_;
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
