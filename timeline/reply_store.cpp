// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/reply_store.h"

#include "timeline/measure.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>

namespace lumora::timeline {

namespace {

// The values of a reply other than its time, as columns: the lane word, the
// counters, then the time gaps.
constexpr int kColumns = 1 + 2 * kChannelCount;
constexpr int kFirstCounter = 1;
constexpr int kFirstGap = 1 + kChannelCount;

constexpr qsizetype kGroupsPerChunk = ReplyStore::kChunkReplies / ReplyStore::kGroupReplies;
constexpr qsizetype kBlocksPerChunk = ReplyStore::kChunkReplies / ReplyStore::kBlockReplies;
constexpr int kChunkShift = std::countr_zero(std::uint64_t(ReplyStore::kChunkReplies));
constexpr qsizetype kLocalMask = ReplyStore::kChunkReplies - 1;
static_assert(ReplyStore::kChunkReplies == qsizetype{1} << kChunkShift);

// A column that changes at few replies keeps one bit a reply (set where the
// value differs from the one before), the count of set bits before each
// word of them, and the values it changes to.
constexpr qsizetype kWords = ReplyStore::kChunkReplies / 64;
constexpr qsizetype kBitsBytes = kWords * 8;
constexpr qsizetype kRanksBytes = kWords * 2;
constexpr qsizetype kSparseHeader = kBitsBytes + kRanksBytes;

// Up to this many bytes a chunk, a column keeps its changes even where its
// steps would take fewer.
constexpr qsizetype kFewChangesBytes = kSparseHeader + 512;

// Times are predicted on the straight line from the chunk's first to its
// last reply (slope in 1/65536 ms a reply) and only the remainders stored;
// beyond this span the line would overflow and is left flat.
constexpr int kSlopeShift = 16;
constexpr qint64 kMaxLinedSpanMs = qint64{1} << 35;

// The columns lie one after another in a Sample, from its lane word on.
constexpr qsizetype kFirstWordAt = offsetof(Sample, lanes);
static_assert(offsetof(Sample, counters) == std::size_t(kFirstWordAt + qsizetype{4} * kFirstCounter) &&
              offsetof(Sample, gaps) == std::size_t(kFirstWordAt + qsizetype{4} * kFirstGap) &&
              sizeof(Sample::gaps) == std::size_t{4} * kChannelCount);

std::uint32_t columnOf(const Sample& s, int column) {
    if (column == 0)
        return s.lanes;
    return column < kFirstGap ? s.counters[std::size_t(column - kFirstCounter)]
                              : s.gaps[std::size_t(column - kFirstGap)];
}

void setColumn(Sample& s, int column, std::uint32_t value) {
    if (column == 0)
        s.lanes = value;
    else if (column < kFirstGap)
        s.counters[std::size_t(column - kFirstCounter)] = value;
    else
        s.gaps[std::size_t(column - kFirstGap)] = value;
}

int widthFor(std::uint64_t range) {
    if (range == 0)
        return 0;
    if (range <= 0xFF)
        return 1;
    if (range <= 0xFFFF)
        return 2;
    return range <= 0xFFFFFFFFU ? 4 : 8;
}

// Values of 1, 2, 4 or 8 bytes, in the host's byte order.
template <typename T> std::uint64_t loadAs(const std::uint8_t* at) {
    T v = 0;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <typename T> void storeAs(std::uint8_t* at, std::uint64_t value) {
    const auto v = T(value);
    std::memcpy(at, &v, sizeof v);
}

std::uint64_t load(const std::uint8_t* at, int width) {
    switch (width) {
    case 1:
        return *at;
    case 2:
        return loadAs<std::uint16_t>(at);
    case 4:
        return loadAs<std::uint32_t>(at);
    case 8:
        return loadAs<std::uint64_t>(at);
    default:
        return 0;
    }
}

void store(std::uint8_t* at, std::uint64_t value, int width) {
    switch (width) {
    case 1:
        *at = std::uint8_t(value);
        break;
    case 2:
        storeAs<std::uint16_t>(at, value);
        break;
    case 4:
        storeAs<std::uint32_t>(at, value);
        break;
    case 8:
        storeAs<std::uint64_t>(at, value);
        break;
    default:
        break;
    }
}

// Set bits, without a call: the baseline x86-64 has no instruction for it.
constexpr int bitCount(std::uint64_t v) {
    v -= (v >> 1) & 0x5555555555555555ULL;
    v = (v & 0x3333333333333333ULL) + ((v >> 2) & 0x3333333333333333ULL);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return int((v * 0x0101010101010101ULL) >> 56);
}
static_assert(bitCount(0) == 0 && bitCount(~std::uint64_t{0}) == 64 && bitCount(0x8000000000000101ULL) == 3);

// A step's distance from the common one, small either way: 0, -1, 1, -2 ...
// as 0, 1, 2, 3 ...
constexpr std::uint32_t zigzag(std::uint32_t d) {
    return (d << 1) ^ std::uint32_t(0U - (d >> 31));
}
constexpr std::uint32_t unzigzag(std::uint32_t z) {
    return (z >> 1) ^ std::uint32_t(0U - (z & 1U));
}
static_assert(unzigzag(zigzag(0xFFFFFFFFU)) == 0xFFFFFFFFU && zigzag(0xFFFFFFFFU) == 1 && zigzag(1) == 2);

// Steps' bits lie packed one after another, read and written eight bytes at
// a time, which puts them where a little-endian host expects them.
static_assert(std::endian::native == std::endian::little);

constexpr qsizetype stepBytes(int bits) {
    return (ReplyStore::kChunkReplies * bits + 7) / 8;
}

std::uint32_t stepBits(const std::uint8_t* at, qsizetype i, int bits) {
    if (bits == 0)
        return 0;
    const qsizetype bit = i * bits;
    std::uint64_t word = 0;
    std::memcpy(&word, at + (bit >> 3), sizeof word);
    return unzigzag(std::uint32_t((word >> (bit & 7)) & ((std::uint64_t{1} << bits) - 1)));
}

void putStepBits(std::uint8_t* at, qsizetype i, int bits, std::uint32_t z) {
    if (bits == 0)
        return;
    const qsizetype bit = i * bits;
    std::uint64_t word = 0;
    std::memcpy(&word, at + (bit >> 3), sizeof word);
    word |= std::uint64_t(z) << (bit & 7);
    std::memcpy(at + (bit >> 3), &word, sizeof word);
}

struct Steps {
    std::uint32_t step = 0;
    int bits = 0;
    qsizetype exceptions = 0;
};

// The common step (the middle of a few taken across the run) and the bits
// beyond it that make the fewest bytes, counting 6 for each step kept
// apart.
Steps chooseSteps(const std::uint32_t* v, qsizetype n) {
    constexpr int kProbes = 15;
    std::array<std::int32_t, kProbes> probes{};
    for (int k = 0; k < kProbes; ++k) {
        const qsizetype i = 1 + k * (n - 2) / (kProbes - 1);
        probes[std::size_t(k)] = std::int32_t(v[i] - v[i - 1]);
    }
    std::nth_element(probes.begin(), probes.begin() + kProbes / 2, probes.end());
    Steps best;
    best.step = std::uint32_t(probes[kProbes / 2]);
    std::array<qsizetype, 33> needing{};
    for (qsizetype i = 1; i < n; ++i)
        ++needing[std::size_t(std::bit_width(zigzag(v[i] - v[i - 1] - best.step)))];
    qsizetype wider = n - 1 - needing[0];
    qsizetype bestBytes = stepBytes(0) + wider * 6;
    best.exceptions = wider;
    for (int bits = 1; bits <= 32; ++bits) {
        wider -= needing[std::size_t(bits)];
        const qsizetype bytes = stepBytes(bits) + wider * 6;
        if (bytes < bestBytes) {
            bestBytes = bytes;
            best.bits = bits;
            best.exceptions = wider;
        }
    }
    return best;
}

void addLevels(Summary& s, std::uint32_t lanes) {
    for (int k = 0; k < kLaneCount; ++k)
        s.levelsSeen[std::size_t(k)] |= std::uint8_t(1U << ((lanes >> (2 * k)) & 3U));
}

// Folds one value of a column into a summary being built over a range.
void addValue(Summary& s, int column, std::uint32_t value) {
    if (column == 0) {
        addLevels(s, value);
        return;
    }
    const bool counter = column < kFirstGap;
    const auto k = std::size_t(counter ? column - kFirstCounter : column - kFirstGap);
    auto& low = counter ? s.counterMin : s.gapMin;
    auto& high = counter ? s.counterMax : s.gapMax;
    low[k] = std::min(low[k], value);
    high[k] = std::max(high[k], value);
}

void addDrop(Summary& s, int column) {
    if (column >= kFirstGap)
        s.gapDrops |= 1U << unsigned(column - kFirstGap);
    else if (column >= kFirstCounter)
        s.counterDrops |= 1U << unsigned(column - kFirstCounter);
}

// Whether a column holds one value all through the stretch a summary covers.
bool constantIn(const Summary& s, int column) {
    if (column == 0)
        return std::all_of(s.levelsSeen.begin(), s.levelsSeen.end(),
                           [](std::uint8_t seen) { return (seen & (seen - 1)) == 0; });
    if (column < kFirstGap)
        return s.counterMin[std::size_t(column - kFirstCounter)] ==
               s.counterMax[std::size_t(column - kFirstCounter)];
    return s.gapMin[std::size_t(column - kFirstGap)] == s.gapMax[std::size_t(column - kFirstGap)];
}

// Folds in a column that holds one value all through the group g.
void addConstant(Summary& s, int column, const Summary& g) {
    if (column == 0) {
        for (std::size_t k = 0; k < std::size_t(kLaneCount); ++k)
            s.levelsSeen[k] |= g.levelsSeen[k];
        return;
    }
    addValue(s, column,
             column < kFirstGap ? g.counterMin[std::size_t(column - kFirstCounter)]
                                : g.gapMin[std::size_t(column - kFirstGap)]);
}

bool dropsIn(std::uint32_t counterDrops, std::uint32_t gapDrops, int column) {
    if (column == 0)
        return false;
    return column < kFirstGap ? (counterDrops >> unsigned(column - kFirstCounter) & 1U) != 0
                              : (gapDrops >> unsigned(column - kFirstGap) & 1U) != 0;
}

// An empty summary ready for addValue: minimums at their top.
Summary startSummary(qsizetype count) {
    Summary s;
    s.count = count;
    s.counterMin.fill(std::numeric_limits<std::uint32_t>::max());
    s.gapMin.fill(std::numeric_limits<std::uint32_t>::max());
    return s;
}

} // namespace

void Summary::merge(const Summary& other) {
    if (other.count == 0)
        return;
    if (count == 0) {
        *this = other;
        return;
    }
    count += other.count;
    for (std::size_t k = 0; k < std::size_t(kLaneCount); ++k)
        levelsSeen[k] |= other.levelsSeen[k];
    for (std::size_t k = 0; k < std::size_t(kChannelCount); ++k) {
        counterMin[k] = std::min(counterMin[k], other.counterMin[k]);
        counterMax[k] = std::max(counterMax[k], other.counterMax[k]);
        gapMin[k] = std::min(gapMin[k], other.gapMin[k]);
        gapMax[k] = std::max(gapMax[k], other.gapMax[k]);
    }
    counterDrops |= other.counterDrops;
    gapDrops |= other.gapDrops;
}

// A full chunk, packed. Each column takes the smallest of three codings:
// its values as 0, 1, 2 or 4 bytes above its smallest (0: the same
// throughout); only its changes, for a column that seldom changes; or the
// steps from each reply to the next, each a common step plus a few bits,
// for a column that moves at a steady pace (counters counting fast pulses,
// gaps ticking up). A step that does not fit the bits (a wrap, a reset, a
// jump) is kept apart as an exception rather than widening every step, and
// the value at each group's first reply is kept so that a value is at most
// a group's steps away.
struct ReplyStore::Packed {
    enum class Kind : std::uint8_t { Plain, Changes, Steps };
    struct Column {
        std::uint32_t base = 0;
        std::uint32_t offset = 0;
        std::uint32_t step = 0;
        std::uint16_t exceptions = 0;
        std::uint8_t width = 0; // bytes a value (Steps: a group's first value)
        std::uint8_t bits = 0;  // Steps: bits a step, beyond the common one
        Kind kind = Kind::Plain;
    };
    qint64 firstMs = 0;
    qint64 slope = 0;
    qint64 residualBase = 0;
    std::uint32_t timeOffset = 0;
    std::uint8_t timeWidth = 0;
    std::array<Column, kColumns> columns;
    std::vector<std::uint8_t> bytes;
    std::vector<Level> groups;
    std::vector<Level> blocks;
    Level whole;
    // Folded once; none when it found too much to keep.
    mutable std::unique_ptr<timeline::Measure> measure;
    mutable bool folded = false;

    void fill(const std::vector<Sample>& s);

    [[nodiscard]] qint64 predicted(qsizetype local) const {
        return firstMs + ((local * slope) >> kSlopeShift);
    }

    [[nodiscard]] qint64 msAt(qsizetype local) const {
        return predicted(local) + residualBase +
               qint64(load(bytes.data() + timeOffset + local * timeWidth, timeWidth));
    }

    // Changes up to and including local: at least 1, the first reply's value.
    [[nodiscard]] qsizetype rank(const Column& c, qsizetype local) const {
        const std::uint8_t* at = bytes.data() + c.offset;
        const auto word = std::size_t(local >> 6);
        std::uint64_t bits = 0;
        std::memcpy(&bits, at + word * 8, sizeof bits);
        std::uint16_t before = 0;
        std::memcpy(&before, at + kBitsBytes + word * 2, sizeof before);
        return before + bitCount(bits & (~std::uint64_t{0} >> (63 - (local & 63))));
    }

    [[nodiscard]] std::uint32_t change(const Column& c, qsizetype n) const {
        return c.base + std::uint32_t(load(bytes.data() + c.offset + kSparseHeader + n * c.width, c.width));
    }

    // Steps: the bits of each step first, then each group's first value,
    // then the exceptions' places and what each adds to the common step.
    [[nodiscard]] std::uint32_t stepAt(const Column& c, qsizetype local) const {
        return c.step + stepBits(bytes.data() + c.offset, local, c.bits);
    }
    [[nodiscard]] qsizetype groupValuesAt(const Column& c) const { return c.offset + stepBytes(c.bits); }
    [[nodiscard]] qsizetype exceptionPlace(const Column& c, qsizetype e) const {
        std::uint16_t place = 0;
        std::memcpy(&place, bytes.data() + groupValuesAt(c) + kGroupsPerChunk * c.width + e * 2, 2);
        return place;
    }
    [[nodiscard]] std::uint32_t exceptionExtra(const Column& c, qsizetype e) const {
        std::uint32_t extra = 0;
        std::memcpy(&extra,
                    bytes.data() + groupValuesAt(c) + kGroupsPerChunk * c.width +
                        qsizetype{c.exceptions} * 2 + e * 4,
                    4);
        return extra;
    }
    // The first exception at or after local.
    [[nodiscard]] qsizetype firstException(const Column& c, qsizetype local) const {
        qsizetype low = 0;
        qsizetype high = c.exceptions;
        while (low < high) {
            const qsizetype mid = (low + high) / 2;
            if (exceptionPlace(c, mid) < local)
                low = mid + 1;
            else
                high = mid;
        }
        return low;
    }

    [[nodiscard]] std::uint32_t value(int column, qsizetype local) const {
        const Column& c = columns[std::size_t(column)];
        if (c.kind == Kind::Changes)
            return change(c, rank(c, local) - 1);
        if (c.kind == Kind::Plain)
            return c.base + std::uint32_t(load(bytes.data() + c.offset + local * c.width, c.width));
        const qsizetype first = local & ~(kGroupReplies - 1);
        std::uint32_t v =
            c.base +
            std::uint32_t(load(bytes.data() + groupValuesAt(c) + (first / kGroupReplies) * c.width, c.width));
        if (c.bits == 0) {
            v += std::uint32_t(local - first) * c.step;
        } else {
            for (qsizetype i = first + 1; i <= local; ++i)
                v += stepAt(c, i);
        }
        for (qsizetype e = firstException(c, first + 1); e < c.exceptions && exceptionPlace(c, e) <= local;
             ++e)
            v += exceptionExtra(c, e);
        return v;
    }

    // Calls visit(v) for the value at from and then for each value after
    // it up to to (only those that differ from the one before when the
    // column keeps changes alone), in order. With from > 0, sets before to
    // the value at from - 1 first.
    template <typename Visit>
    void forEach(int column, qsizetype from, qsizetype to, std::uint32_t& before, Visit&& visit) const {
        const Column& c = columns[std::size_t(column)];
        if (c.width == 0) {
            if (from > 0)
                before = c.base;
            visit(c.base);
            return;
        }
        if (c.kind == Kind::Changes) {
            const qsizetype first = rank(c, from);
            if (from > 0) {
                std::uint64_t bits = 0;
                std::memcpy(&bits, bytes.data() + c.offset + (from >> 6) * 8, sizeof bits);
                before = change(c, first - 1 - qsizetype((bits >> (from & 63)) & 1U));
            }
            const qsizetype last = rank(c, to - 1);
            for (qsizetype n = first - 1; n < last; ++n)
                visit(change(c, n));
            return;
        }
        if (c.kind == Kind::Steps) {
            qsizetype e = firstException(c, from);
            std::uint32_t v = 0;
            if (from > 0) {
                before = value(column, from - 1);
                v = before + stepAt(c, from);
                if (e < c.exceptions && exceptionPlace(c, e) == from)
                    v += exceptionExtra(c, e++);
            } else {
                v = value(column, 0);
            }
            visit(v);
            for (qsizetype i = from + 1; i < to; ++i) {
                v += stepAt(c, i);
                if (e < c.exceptions && exceptionPlace(c, e) == i)
                    v += exceptionExtra(c, e++);
                visit(v);
            }
            return;
        }
        if (from > 0)
            before = value(column, from - 1);
        const std::uint8_t* at = bytes.data() + c.offset;
        for (qsizetype i = from; i < to; ++i)
            visit(c.base + std::uint32_t(load(at + i * c.width, c.width)));
    }
};

// Lays out and fills a full chunk's columns.
void ReplyStore::Packed::fill(const std::vector<Sample>& s) {
    Packed& p = *this;
    const qsizetype n = qsizetype(s.size());
    // Time: remainders from the line through the first and last reply.
    p.firstMs = s.front().ms;
    const qint64 span = s.back().ms - s.front().ms;
    p.slope =
        span > -kMaxLinedSpanMs && span < kMaxLinedSpanMs ? (span * (qint64{1} << kSlopeShift)) / (n - 1) : 0;
    qint64 lowest = std::numeric_limits<qint64>::max();
    qint64 highest = std::numeric_limits<qint64>::min();
    for (qsizetype i = 0; i < n; ++i) {
        const qint64 r = s[std::size_t(i)].ms - p.predicted(i);
        lowest = std::min(lowest, r);
        highest = std::max(highest, r);
    }
    p.residualBase = lowest;
    p.timeWidth = std::uint8_t(widthFor(std::uint64_t(highest) - std::uint64_t(lowest)));

    // The columns side by side, each its own run of values.
    // A column at a time: writing all of them a reply at a time, a
    // power-of-two stride apart, thrashes the cache.
    static thread_local std::vector<std::uint32_t> values;
    values.resize(std::size_t(n * kColumns));
    for (int c = 0; c < kColumns; ++c) {
        const auto* from = reinterpret_cast<const std::uint8_t*>(s.data()) + kFirstWordAt + qsizetype{4} * c;
        std::uint32_t* to = values.data() + c * n;
        for (qsizetype i = 0; i < n; ++i)
            std::memcpy(to + i, from + i * qsizetype(sizeof(Sample)), 4);
    }
    const auto run = [&](int c) { return values.data() + c * n; };

    // Sizes first, so the bytes are one allocation.
    std::array<qsizetype, kColumns> changes{};
    qsizetype total = n * p.timeWidth;
    for (int c = 0; c < kColumns; ++c) {
        const std::uint32_t* v = run(c);
        std::uint32_t low = v[0];
        std::uint32_t high = v[0];
        qsizetype changed = 1;
        for (qsizetype i = 1; i < n; ++i) {
            low = std::min(low, v[i]);
            high = std::max(high, v[i]);
            changed += v[i] != v[i - 1] ? 1 : 0;
        }
        auto& column = p.columns[std::size_t(c)];
        column.base = low;
        column.width = std::uint8_t(widthFor(high - low));
        column.kind = Kind::Plain;
        qsizetype size = n * column.width;
        if (column.width > 0 && kSparseHeader + changed * column.width < size) {
            column.kind = Kind::Changes;
            size = kSparseHeader + changed * column.width;
        }
        // Changes are found at once wherever one asks; steps cost a group's
        // worth of adding up. A column that seldom changes keeps its changes.
        if (column.width > 0 && size > kFewChangesBytes) {
            const Steps steps = chooseSteps(v, n);
            const qsizetype stepsSize =
                stepBytes(steps.bits) + kGroupsPerChunk * column.width + steps.exceptions * 6;
            if (stepsSize < size) {
                column.kind = Kind::Steps;
                column.step = steps.step;
                column.bits = std::uint8_t(steps.bits);
                column.exceptions = std::uint16_t(steps.exceptions);
                size = stepsSize;
            }
        }
        changes[std::size_t(c)] = changed;
        if (column.kind != Kind::Plain)
            total = (total + 7) & ~qsizetype{7};
        column.offset = std::uint32_t(total);
        total += size;
    }
    p.timeOffset = 0;
    // Steps' bits are read eight bytes at a time.
    p.bytes.assign(std::size_t(total + 8), 0);
    std::uint8_t* bytes = p.bytes.data();
    for (qsizetype i = 0; i < n; ++i)
        store(bytes + i * p.timeWidth, std::uint64_t(s[std::size_t(i)].ms - p.predicted(i) - p.residualBase),
              p.timeWidth);
    for (int c = 0; c < kColumns; ++c) {
        const auto& column = p.columns[std::size_t(c)];
        const std::uint32_t* v = run(c);
        std::uint8_t* at = bytes + column.offset;
        if (column.kind == Kind::Plain) {
            for (qsizetype i = 0; column.width > 0 && i < n; ++i)
                store(at + i * column.width, v[i] - column.base, column.width);
            continue;
        }
        if (column.kind == Kind::Steps) {
            std::uint8_t* groupValues = bytes + p.groupValuesAt(column);
            std::uint8_t* places = groupValues + kGroupsPerChunk * column.width;
            std::uint8_t* extras = places + qsizetype{column.exceptions} * 2;
            const std::uint64_t fits = (std::uint64_t{1} << column.bits) - 1;
            qsizetype e = 0;
            for (qsizetype i = 0; i < n; ++i) {
                if (i % kGroupReplies == 0)
                    store(groupValues + (i / kGroupReplies) * column.width, v[i] - column.base, column.width);
                if (i == 0)
                    continue;
                const std::uint32_t z = zigzag(v[i] - v[i - 1] - column.step);
                if (z > fits) {
                    const auto place = std::uint16_t(i);
                    const std::uint32_t extra = v[i] - v[i - 1] - column.step;
                    std::memcpy(places + e * 2, &place, 2);
                    std::memcpy(extras + e * 4, &extra, 4);
                    ++e;
                } else {
                    putStepBits(at, i, column.bits, z);
                }
            }
            Q_ASSERT(e == column.exceptions);
            continue;
        }
        std::vector<std::uint64_t> bits(std::size_t(kWords), 0);
        qsizetype written = 0;
        for (qsizetype i = 0; i < n; ++i) {
            if (i > 0 && v[i] == v[i - 1])
                continue;
            bits[std::size_t(i >> 6)] |= std::uint64_t{1} << (i & 63);
            store(at + kSparseHeader + written * column.width, v[i] - column.base, column.width);
            ++written;
        }
        std::uint16_t before = 0;
        for (qsizetype w = 0; w < kWords; ++w) {
            std::memcpy(at + w * 8, &bits[std::size_t(w)], 8);
            std::memcpy(at + kBitsBytes + w * 2, &before, 2);
            before = std::uint16_t(before + bitCount(bits[std::size_t(w)]));
        }
        Q_ASSERT(written == changes[std::size_t(c)]);
    }
}

ReplyStore::ReplyStore(qsizetype keepAtLeast)
    : keepAtLeast_(keepAtLeast) {}

ReplyStore::~ReplyStore() = default;
ReplyStore::ReplyStore(ReplyStore&&) noexcept = default;
ReplyStore& ReplyStore::operator=(ReplyStore&&) noexcept = default;

void ReplyStore::extend(Level& level, const Level& part, bool starts) {
    if (starts) {
        level = part;
        return;
    }
    level.summary.merge(part.summary);
    level.summary.counterDrops |= part.firstCounterDrops;
    level.summary.gapDrops |= part.firstGapDrops;
}

void ReplyStore::append(const Sample& sample) {
    Level one;
    one.summary.count = 1;
    addLevels(one.summary, sample.lanes);
    one.summary.counterMin = one.summary.counterMax = sample.counters;
    one.summary.gapMin = one.summary.gapMax = sample.gaps;
    if (!isEmpty()) {
        const Sample before = open_.empty() ? at(size() - 1) : open_.back();
        if (sample.ms < before.ms)
            steps_.push_back(appended_);
        for (std::size_t k = 0; k < std::size_t(kChannelCount); ++k) {
            one.firstCounterDrops |= sample.counters[k] < before.counters[k] ? 1U << k : 0U;
            one.firstGapDrops |= sample.gaps[k] < before.gaps[k] ? 1U << k : 0U;
        }
    }
    const qsizetype local = qsizetype(open_.size());
    if (open_.capacity() == 0)
        open_.reserve(std::size_t(kChunkReplies));
    open_.push_back(sample);
    ++appended_;
    extend(group_, one, local % kGroupReplies == 0);
    if ((local + 1) % kGroupReplies == 0) {
        openGroups_.push_back(group_);
        extend(block_, group_, local % kBlockReplies == kGroupReplies - 1);
    }
    if ((local + 1) % kBlockReplies == 0) {
        openBlocks_.push_back(block_);
        extend(chunk_, block_, local == kBlockReplies - 1);
    }
    if (local + 1 == kChunkReplies)
        pack();
    if (keepAtLeast_ == kUnbounded)
        return;
    while (!packed_.empty() && size() - kChunkReplies >= keepAtLeast_) {
        packed_.pop_front();
        dropped_ += kChunkReplies;
        while (!steps_.empty() && steps_.front() <= dropped_)
            steps_.pop_front();
    }
}

void ReplyStore::pack() {
    auto p = std::make_unique<Packed>();
    p->fill(open_);
    p->groups = std::move(openGroups_);
    p->blocks = std::move(openBlocks_);
    p->whole = chunk_;
    // A day loaded whole is folded here, on the thread that loads it, from
    // the replies as they came, so that the window measures even a day of
    // millions of replies and findings without visiting them. A bounded
    // store is the client's, appended to at every reply: it folds a chunk
    // only once someone measures, so polling with nothing measuring pays
    // nothing for it.
    if (keepAtLeast_ == kUnbounded) {
        p->measure = std::make_unique<timeline::Measure>();
        for (const Sample& s : open_)
            p->measure->append(s);
        p->measure->findings.shrink_to_fit();
        p->folded = true;
    }
    packed_.push_back(std::move(p));
    open_.clear();
    openGroups_ = {};
    openBlocks_ = {};
    openGroups_.reserve(std::size_t(kGroupsPerChunk));
    openBlocks_.reserve(std::size_t(kBlocksPerChunk));
}

void ReplyStore::clear() {
    *this = ReplyStore(keepAtLeast_);
}

qsizetype ReplyStore::size() const {
    return qsizetype(packed_.size()) * kChunkReplies + qsizetype(open_.size());
}

Sample ReplyStore::at(qsizetype index) const {
    Q_ASSERT(index >= 0 && index < size());
    const auto chunk = std::size_t(index >> kChunkShift);
    const qsizetype local = index & kLocalMask;
    if (chunk == packed_.size())
        return open_[std::size_t(local)];
    const Packed& p = *packed_[chunk];
    Sample s;
    s.ms = p.msAt(local);
    for (int c = 0; c < kColumns; ++c)
        setColumn(s, c, p.value(c, local));
    return s;
}

qint64 ReplyStore::msAt(qsizetype index) const {
    Q_ASSERT(index >= 0 && index < size());
    const auto chunk = std::size_t(index >> kChunkShift);
    const qsizetype local = index & kLocalMask;
    return chunk == packed_.size() ? open_[std::size_t(local)].ms : packed_[chunk]->msAt(local);
}

const Measure* ReplyStore::chunkMeasure(qsizetype first) const {
    Q_ASSERT(first >= 0 && first % kChunkReplies == 0);
    const auto chunk = std::size_t(first >> kChunkShift);
    if (chunk >= packed_.size())
        return nullptr;
    const Packed& p = *packed_[chunk];
    if (!p.folded) {
        // Kept while its findings cost no more than the run itself: a chunk
        // of bouncing inputs is folded again when measured rather than held
        // within the client's memory.
        auto measure = std::make_unique<timeline::Measure>();
        for (qsizetype i = first; i < first + kChunkReplies; ++i)
            measure->append(at(i));
        if (measure->findings.size() <= kChunkFindings) {
            measure->findings.shrink_to_fit();
            p.measure = std::move(measure);
        }
        p.folded = true;
    }
    return p.measure.get();
}

qint64 ReplyStore::appendedCount() const {
    return appended_;
}

std::size_t ReplyStore::memoryBytes() const {
    std::size_t bytes = sizeof(*this) + open_.capacity() * sizeof(Sample) +
                        (openGroups_.capacity() + openBlocks_.capacity()) * sizeof(Level) +
                        steps_.size() * sizeof(qint64) + packed_.size() * sizeof(std::unique_ptr<Packed>);
    for (const auto& p : packed_)
        bytes += sizeof(Packed) + p->bytes.capacity() +
                 (p->groups.capacity() + p->blocks.capacity()) * sizeof(Level) +
                 (p->measure ? sizeof(Measure) + p->measure->findings.capacity() * sizeof(Finding) : 0);
    return bytes;
}

std::vector<qsizetype> ReplyStore::stepsBack() const {
    std::vector<qsizetype> steps;
    steps.reserve(steps_.size());
    for (const qint64 step : steps_)
        steps.push_back(qsizetype(step - dropped_));
    return steps;
}

std::vector<IndexRange> ReplyStore::stretches() const {
    std::vector<IndexRange> out;
    qsizetype from = 0;
    for (const qsizetype step : stepsBack()) {
        out.push_back({from, step});
        from = step;
    }
    if (from < size())
        out.push_back({from, size()});
    return out;
}

qsizetype ReplyStore::firstAtOrAfter(IndexRange forward, qint64 ms) const {
    if (forward.from >= forward.to || msAt(forward.from) >= ms)
        return forward.from;
    if (msAt(forward.to - 1) < ms)
        return forward.to;
    // Between low (earlier than ms) and high (not earlier). Polling keeps a
    // steady pace, so a guess by the average rate lands close; the search
    // then widens from the guess and halves what is left.
    qsizetype low = forward.from;
    qsizetype high = forward.to - 1;
    const double share = double(ms - msAt(low)) / double(msAt(high) - msAt(low));
    const qsizetype guess = std::clamp(low + qsizetype(share * double(high - low)), low + 1, high);
    if (msAt(guess) < ms) {
        low = guess;
        for (qsizetype step = 1; low + step < high; step *= 2) {
            if (msAt(low + step) >= ms) {
                high = low + step;
                break;
            }
            low += step;
        }
    } else {
        high = guess;
        for (qsizetype step = 1; high - step > low; step *= 2) {
            if (msAt(high - step) < ms) {
                low = high - step;
                break;
            }
            high -= step;
        }
    }
    while (high - low > 1) {
        const qsizetype mid = low + (high - low) / 2;
        (msAt(mid) < ms ? low : high) = mid;
    }
    return high;
}

std::vector<IndexRange> ReplyStore::rangesIn(qint64 fromMs, qint64 toMs) const {
    std::vector<IndexRange> ranges;
    if (toMs <= fromMs)
        return ranges;
    for (const IndexRange& stretch : stretches()) {
        if (msAt(stretch.to - 1) < fromMs || msAt(stretch.from) >= toMs)
            continue;
        const qsizetype from = firstAtOrAfter(stretch, fromMs);
        const qsizetype to = firstAtOrAfter({from, stretch.to}, toMs);
        if (from < to)
            ranges.push_back({from, to});
    }
    return ranges;
}

qsizetype ReplyStore::indexAt(qint64 ms) const {
    const std::vector<IndexRange> all = stretches();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (msAt(it->from) <= ms)
            return firstAtOrAfter(*it, ms == std::numeric_limits<qint64>::max() ? ms : ms + 1) - 1;
    }
    return -1;
}

void ReplyStore::mergeLevel(Summary& into, const Level& level, qsizetype first) const {
    into.merge(level.summary);
    // The store's oldest reply has nothing held before it to drop from.
    if (first > 0) {
        into.counterDrops |= level.firstCounterDrops;
        into.gapDrops |= level.firstGapDrops;
    }
}

void ReplyStore::scanReplies(Summary& into, qsizetype from, qsizetype to) const {
    Summary part = startSummary(to - from);
    const auto chunk = std::size_t(from >> kChunkShift);
    const qsizetype local = from & kLocalMask;
    const Packed* packed = chunk < packed_.size() ? packed_[chunk].get() : nullptr;
    // The reply before a chunk's first is the last of the chunk before,
    // which is always packed.
    const Packed* previous = local == 0 && chunk > 0 ? packed_[chunk - 1].get() : nullptr;
    // Most columns hold still through a group: its summary says so, and
    // their bytes need no visit. A finished group's summary is at hand.
    const auto g = std::size_t(local / kGroupReplies);
    const Level* group = packed != nullptr        ? &packed->groups[g]
                         : g < openGroups_.size() ? &openGroups_[g]
                                                  : nullptr;
    const bool groupStart = local % kGroupReplies == 0;
    for (int c = 0; c < kColumns; ++c) {
        if (group != nullptr && constantIn(group->summary, c)) {
            addConstant(part, c, group->summary);
            // Only its first reply can have gone down, against the one before.
            if (groupStart && from > 0 && dropsIn(group->firstCounterDrops, group->firstGapDrops, c))
                addDrop(part, c);
            continue;
        }
        bool known = from > 0;
        std::uint32_t before = 0;
        if (previous != nullptr)
            before = previous->value(c, kChunkReplies - 1);
        else if (packed == nullptr && local > 0)
            before = columnOf(open_[std::size_t(local - 1)], c);
        const auto visit = [&](std::uint32_t v) {
            addValue(part, c, v);
            if (known && v < before)
                addDrop(part, c);
            before = v;
            known = true;
        };
        if (packed == nullptr) {
            for (qsizetype i = local; i < local + (to - from); ++i)
                visit(columnOf(open_[std::size_t(i)], c));
        } else {
            packed->forEach(c, local, local + (to - from), before, visit);
        }
    }
    into.merge(part);
}

Summary ReplyStore::summarize(IndexRange range) const {
    Summary summary;
    const qsizetype to = std::min(range.to, size());
    // Whole chunks, blocks and groups from their summaries; the replies at
    // either end one by one, never more than a group's worth.
    for (qsizetype i = std::max<qsizetype>(range.from, 0); i < to;) {
        const auto chunk = std::size_t(i >> kChunkShift);
        const qsizetype local = i & kLocalMask;
        const bool packed = chunk < packed_.size();
        if (local == 0 && packed && i + kChunkReplies <= to) {
            mergeLevel(summary, packed_[chunk]->whole, i);
            i += kChunkReplies;
        } else if (local % kBlockReplies == 0 && i + kBlockReplies <= to) {
            const auto& blocks = packed ? packed_[chunk]->blocks : openBlocks_;
            mergeLevel(summary, blocks[std::size_t(local / kBlockReplies)], i);
            i += kBlockReplies;
        } else if (local % kGroupReplies == 0 && i + kGroupReplies <= to) {
            const auto& groups = packed ? packed_[chunk]->groups : openGroups_;
            mergeLevel(summary, groups[std::size_t(local / kGroupReplies)], i);
            i += kGroupReplies;
        } else {
            const qsizetype end = std::min(to, (i / kGroupReplies + 1) * kGroupReplies);
            scanReplies(summary, i, end);
            i = end;
        }
    }
    return summary;
}

std::vector<Column> columns(const ReplyStore& store, qint64 fromMs, qint64 toMs, int width) {
    std::vector<Column> out(std::size_t(std::max(width, 0)));
    if (width <= 0 || toMs <= fromMs)
        return out;
    const double span = double(toMs - fromMs) / width;
    const auto edge = [&](int x) { return x >= width ? toMs : fromMs + qint64(span * x); };
    // The column a moment inside [fromMs, toMs) falls in.
    const auto columnAt = [&](qint64 ms) {
        int x = std::clamp(int(double(ms - fromMs) / span), 0, width - 1);
        while (x > 0 && edge(x) > ms)
            --x;
        while (x + 1 < width && edge(x + 1) <= ms)
            ++x;
        return x;
    };
    // Each forward stretch visits only the columns its replies fall in.
    for (const IndexRange& range : store.rangesIn(fromMs, toMs)) {
        for (qsizetype at = range.from; at < range.to;) {
            const int x = columnAt(store.msAt(at));
            const qsizetype end = store.firstAtOrAfter({at, range.to}, edge(x + 1));
            Column& column = out[std::size_t(x)];
            column.summary.merge(store.summarize({at, end}));
            if (column.first < 0)
                column.first = at;
            column.last = end - 1;
            at = end;
        }
    }
    return out;
}

} // namespace lumora::timeline
