// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/vcd_writer.h"

#include <QIODevice>
#include <QTimeZone>

namespace lumora::timeline {

namespace {

constexpr qint64 kUsPerMs = 1000;
constexpr int kCounterBits = 32;

// Letters only: some readers split value changes on punctuation.
QByteArray identifier(int variable) {
    constexpr int kLetters = 26;
    return QByteArray(1, variable < kLetters ? char('A' + variable) : char('a' + variable - kLetters));
}

QByteArray wireValue(Level level) {
    switch (level) {
    case Level::Low:
        return "0";
    case Level::High:
        return "1";
    case Level::Third:
        // The third state has no logic level; a refused one is no value at all.
        return "x";
    case Level::Refused:
        break;
    }
    return "z";
}

QByteArray counterValue(std::uint32_t value) {
    return 'b' + QByteArray::number(value, 2) + ' ';
}

// The number the window shows, so a viewer and the window agree.
QByteArray gapValue(std::uint32_t thousandths) {
    return 'r' + protocol::timeGapText(thousandths).toLatin1() + ' ';
}

QString utcText(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc())
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

QByteArray name(const char* prefix, int number) {
    return prefix + QByteArray::number(number).rightJustified(2, '0');
}

} // namespace

VcdWriter::VcdWriter(QIODevice& out)
    : out_(out) {}

void VcdWriter::add(const QDateTime& moment, QByteArrayView reply) {
    add(moment.toMSecsSinceEpoch(), reply);
}

void VcdWriter::add(qint64 msSinceEpoch, QByteArrayView reply) {
    add(sampleOf(msSinceEpoch, reply));
}

void VcdWriter::add(const Sample& sample) {
    constexpr int kFirstCounter = kLaneCount;
    constexpr int kFirstGap = kLaneCount + kChannelCount;
    QByteArray text;
    if (!started_) {
        started_ = true;
        firstMs_ = sample.ms;
        lastMs_ = sample.ms;
        writeDefinitions(utcText(sample.ms));
        text += "#0\n$dumpvars\n";
        for (int k = 0; k < kLaneCount; ++k)
            text += wireValue(sample.lane(k)) + identifier(k) + '\n';
        for (int k = 0; k < kChannelCount; ++k)
            text += counterValue(sample.counters.at(k)) + identifier(kFirstCounter + k) + '\n';
        for (int k = 0; k < kChannelCount; ++k) {
            gapTexts_.at(k) = gapValue(sample.gaps.at(k));
            text += gapTexts_.at(k) + identifier(kFirstGap + k) + '\n';
        }
        text += "$end\n";
    } else {
        qint64 time = (sample.ms - firstMs_) * kUsPerMs;
        // VCD time never decreases: a reply stamped earlier than the one
        // before goes at the time already written, and says so.
        if (time < lastTime_) {
            text +=
                QStringLiteral("$comment time steps back: %1 UTC comes after %2 UTC; written at #%3 $end\n")
                    .arg(utcText(sample.ms), utcText(lastMs_))
                    .arg(lastTime_)
                    .toLatin1();
            time = lastTime_;
        }
        QByteArray changes;
        for (int k = 0; k < kLaneCount; ++k) {
            if (sample.lane(k) != last_.lane(k))
                changes += wireValue(sample.lane(k)) + identifier(k) + '\n';
        }
        for (int k = 0; k < kChannelCount; ++k) {
            if (sample.counters.at(k) != last_.counters.at(k))
                changes += counterValue(sample.counters.at(k)) + identifier(kFirstCounter + k) + '\n';
        }
        for (int k = 0; k < kChannelCount; ++k) {
            if (sample.gaps.at(k) == last_.gaps.at(k))
                continue;
            QByteArray gap = gapValue(sample.gaps.at(k));
            if (gap != gapTexts_.at(k)) {
                changes += gap + identifier(kFirstGap + k) + '\n';
                gapTexts_.at(k) = std::move(gap);
            }
        }
        if (!changes.isEmpty()) {
            if (time != lastTime_)
                text += '#' + QByteArray::number(time) + '\n';
            text += changes;
        }
        lastTime_ = time;
        lastMs_ = sample.ms;
    }
    last_ = sample;
    write(text);
}

bool VcdWriter::finish() {
    if (!started_) {
        started_ = true;
        writeDefinitions(QString());
    }
    return error_.isEmpty();
}

void VcdWriter::writeDefinitions(const QString& date) {
    QByteArray text;
    if (!date.isEmpty())
        text += "$date " + date.toLatin1() + " UTC $end\n";
    text += "$timescale 1 us $end\n$scope module lumora $end\n";
    int v = 0;
    for (int k = 0; k < protocol::kInputCount; ++k)
        text += "$var wire 1 " + identifier(v++) + ' ' + name("DI", k) + " $end\n";
    for (int k = 1; k <= protocol::kOutputCount; ++k)
        text += "$var wire 1 " + identifier(v++) + ' ' + name("DO", k) + " $end\n";
    for (int k = 1; k <= protocol::kInputCount; ++k)
        text += "$var wire " + QByteArray::number(kCounterBits) + ' ' + identifier(v++) + ' ' +
                name("CNT", k) + " $end\n";
    for (int k = 1; k <= protocol::kInputCount; ++k)
        text += "$var real 64 " + identifier(v++) + ' ' + name("GAP", k) + " $end\n";
    text += "$upscope $end\n$enddefinitions $end\n";
    write(text);
}

void VcdWriter::write(const QByteArray& text) {
    if (error_.isEmpty() && !text.isEmpty() && out_.write(text) != text.size())
        error_ = out_.errorString();
}

} // namespace lumora::timeline
