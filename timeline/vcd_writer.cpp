// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/vcd_writer.h"

#include "log/utc_moment.h"

#include <QIODevice>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace lumora::timeline {

namespace {

constexpr qint64 kUsPerMs = 1000;
constexpr int kCounterBits = 32;
// Handed to the device in pieces of about this size: a day's dump is
// written with few calls, and never held whole.
constexpr qsizetype kFlushBytes = qsizetype{1} << 20;
// The most one reply writes after the first (a comment, a time and every
// value), and the first's values.
constexpr qsizetype kMostReplyBytes = 2048;

// Letters only: some readers split value changes on punctuation.
char identifier(int variable) {
    constexpr int kLetters = 26;
    return variable < kLetters ? char('A' + variable) : char('a' + variable - kLetters);
}

char wireValue(Level level) {
    switch (level) {
    case Level::Low:
        return '0';
    case Level::High:
        return '1';
    case Level::Third:
        // The third state has no logic level; a refused one is no value at all.
        return 'x';
    case Level::Refused:
        break;
    }
    return 'z';
}

char* putLane(char* p, Level level, int variable) {
    *p++ = wireValue(level);
    *p++ = identifier(variable);
    *p++ = '\n';
    return p;
}

// Eight binary digits of every byte, to write a counter a byte at a time.
const std::array<std::array<char, 8>, 256>& byteDigits() {
    static const auto digits = [] {
        std::array<std::array<char, 8>, 256> all{};
        for (std::size_t b = 0; b < all.size(); ++b) {
            for (std::size_t i = 0; i < 8; ++i)
                all[b][i] = char('0' + ((b >> (7 - i)) & 1U));
        }
        return all;
    }();
    return digits;
}

char* putCounter(char* p, std::uint32_t value, int variable) {
    *p++ = 'b';
    // All 32 digits, then those from the highest 1 on (a lone 0 for 0).
    std::array<char, kCounterBits> all{};
    for (std::size_t k = 0; k < 4; ++k)
        std::memcpy(all.data() + (8 * k), byteDigits()[(value >> (24 - (8 * k))) & 0xFFU].data(), 8);
    const int digits = std::max(1, int(std::bit_width(value)));
    std::memcpy(p, all.data() + (kCounterBits - digits), std::size_t(digits));
    p += digits;
    *p++ = ' ';
    *p++ = identifier(variable);
    *p++ = '\n';
    return p;
}

// The number the window shows, so a viewer and the window agree.
char* putGap(char* p, std::uint32_t thousandths, int variable) {
    *p++ = 'r';
    p = protocol::putTimeGapText(p, thousandths);
    *p++ = ' ';
    *p++ = identifier(variable);
    *p++ = '\n';
    return p;
}

QString utcText(qint64 ms) {
    return QString::fromLatin1(log::UtcMomentText()(ms));
}

} // namespace

VcdWriter::VcdWriter(QIODevice& out, LaneSet lanes)
    : out_(out)
    , lanes_(lanes) {}

void VcdWriter::add(const QDateTime& moment, QByteArrayView reply) {
    add(moment.toMSecsSinceEpoch(), reply);
}

void VcdWriter::add(qint64 msSinceEpoch, QByteArrayView reply) {
    add(sampleOf(msSinceEpoch, reply));
}

void VcdWriter::add(const Sample& sample) {
    if (!started_) {
        started_ = true;
        firstMs_ = sample.ms;
        lastMs_ = sample.ms;
        writeDefinitions(utcText(sample.ms));
        append("#0\n$dumpvars\n");
        char* p = room(kMostReplyBytes);
        for (int k = 0; k < kLaneCount; ++k) {
            if (has(k))
                p = putLane(p, sample.lane(k), k);
        }
        for (int k = 0; k < kChannelCount; ++k) {
            if (has(kFirstCounterLane + k))
                p = putCounter(p, sample.counters.at(k), kFirstCounterLane + k);
        }
        for (int k = 0; k < kChannelCount; ++k) {
            gapsShown_.at(k) = protocol::timeGapHundredths(sample.gaps.at(k));
            if (has(kFirstGapLane + k))
                p = putGap(p, sample.gaps.at(k), kFirstGapLane + k);
        }
        used_ = p - held_.data();
        append("$end\n");
        last_ = sample;
        return;
    }
    qint64 time = (sample.ms - firstMs_) * kUsPerMs;
    // VCD time never decreases: a reply stamped earlier than the one
    // before goes at the time already written, and says so.
    if (time < lastTime_) {
        append(QStringLiteral("$comment time steps back: %1 UTC comes after %2 UTC; written at #%3 $end\n")
                   .arg(utcText(sample.ms), utcText(lastMs_))
                   .arg(lastTime_)
                   .toLatin1());
        time = lastTime_;
    }
    // The time goes first, taken back if nothing changed.
    char* const start = room(kMostReplyBytes);
    char* p = start;
    if (time != lastTime_) {
        *p++ = '#';
        p = std::to_chars(p, p + kMostReplyBytes, time).ptr;
        *p++ = '\n';
    }
    char* const changes = p;
    if (sample.lanes != last_.lanes) {
        for (int k = 0; k < kLaneCount; ++k) {
            if (sample.lane(k) != last_.lane(k) && has(k))
                p = putLane(p, sample.lane(k), k);
        }
    }
    for (int k = 0; k < kChannelCount; ++k) {
        if (sample.counters.at(k) != last_.counters.at(k) && has(kFirstCounterLane + k))
            p = putCounter(p, sample.counters.at(k), kFirstCounterLane + k);
    }
    for (int k = 0; k < kChannelCount; ++k) {
        if (sample.gaps.at(k) == last_.gaps.at(k) || !has(kFirstGapLane + k))
            continue;
        const std::uint64_t shown = protocol::timeGapHundredths(sample.gaps.at(k));
        if (shown != gapsShown_.at(k)) {
            p = putGap(p, sample.gaps.at(k), kFirstGapLane + k);
            gapsShown_.at(k) = shown;
        }
    }
    char* const end = p == changes ? start : p;
    used_ = end - held_.data();
    lastTime_ = time;
    lastMs_ = sample.ms;
    last_ = sample;
    if (used_ >= kFlushBytes)
        static_cast<void>(flush());
}

bool VcdWriter::flush() {
    if (error_.isEmpty() && used_ > 0 && out_.write(held_.data(), used_) != used_)
        error_ = out_.errorString();
    used_ = 0;
    return error_.isEmpty();
}

bool VcdWriter::finish() {
    if (!started_) {
        started_ = true;
        writeDefinitions(QString());
    }
    return flush();
}

char* VcdWriter::room(qsizetype bytes) {
    if (qsizetype(held_.size()) < used_ + bytes)
        held_.resize(std::size_t(std::max(used_ + bytes, kFlushBytes + kMostReplyBytes)));
    return held_.data() + used_;
}

void VcdWriter::append(QByteArrayView text) {
    std::memcpy(room(text.size()), text.data(), std::size_t(text.size()));
    used_ += text.size();
}

void VcdWriter::writeDefinitions(const QString& date) {
    QByteArray text;
    if (!date.isEmpty())
        text += "$date " + date.toLatin1() + " UTC $end\n";
    text += "$timescale 1 us $end\n$scope module lumora $end\n";
    // The variable of lane v is identifier(v), shown or not.
    for (int v = 0; v < kAllLaneCount; ++v) {
        if (!has(v))
            continue;
        const QByteArray kind = v < kFirstCounterLane ? "wire 1"
                                : v < kFirstGapLane   ? "wire " + QByteArray::number(kCounterBits)
                                                      : "real 64";
        text += "$var " + kind + ' ' + identifier(v) + ' ' + anyLaneName(v).toLatin1() + " $end\n";
    }
    text += "$upscope $end\n$enddefinitions $end\n";
    append(text);
}

} // namespace lumora::timeline
