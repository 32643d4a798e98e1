// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/day_files.h"

#include "log/daily_log.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <deque>
#include <future>

namespace lumora::timeline {

namespace {

using log::RecvBlockReader;

// Parts of a large file, each read into memory of its own and taken apart
// on a worker thread: large enough that a part costs far more than its
// thread, small enough that the few read ahead of the store hold little
// beside it: with their replies as Samples, a part holds about 1.3 times its
// bytes until the store packs them, and the store keeps a few bytes for each
// reply's 400, so the parts ahead set the peak of loading a few hundred MB.
constexpr qsizetype kPartBytes = qsizetype{4} << 20;
constexpr std::size_t kPartsAhead = 3;
// The shortest block, to guess how many a part holds.
constexpr qsizetype kBlockBytes = 390;
// How far back from a part's end a whole block is looked for first, to end
// the part after it; the bytes after it start the next part.
constexpr qsizetype kLookBack = 4096;

qsizetype g_partBytes = kPartBytes;

// One part's blocks, read apart from the rest: their lines counted within
// the part and their moments still the stamps' milliseconds of the UTC day,
// as both depend on what comes before.
struct Part {
    std::vector<Sample> samples;
    std::vector<qint64> lines;
    qint64 lineCount = 0;
    RecvBlockReader::Resume settled;
    // A skipped stretch tells its line in its text: such a part is read
    // again in order, from the right line.
    bool clean = true;
};

// Into a part read before, whose room is reused: fresh pages cost more than
// reading the blocks that fill them.
Part readPart(QByteArrayView memory, bool skipping, Part part) {
    part.samples.clear();
    part.lines.clear();
    part.clean = true;
    RecvBlockReader reader(memory, {0, 0, skipping});
    part.samples.reserve(std::size_t(memory.size() / kBlockBytes + 1));
    part.lines.reserve(part.samples.capacity());
    for (RecvBlockReader::Found found; (found = reader.next()) != RecvBlockReader::Found::End;) {
        if (found == RecvBlockReader::Found::Skipped) {
            part.clean = false;
            return part;
        }
        part.samples.push_back(sampleOf(reader.stamp().msecsSinceStartOfDay(), reader.reply()));
        part.lines.push_back(reader.line());
    }
    part.lineCount = reader.lines();
    part.settled = reader.settled();
    return part;
}

// Where a part read into `memory` may end so that it and what follows it
// are read apart and still find what one reader finds: after a whole block
// near its end. 0 when there is none in its second half (carrying more on
// would read the file over and over).
qsizetype partEnd(QByteArrayView memory) {
    const qsizetype lookBack = std::min(kLookBack, memory.size() / 2);
    std::vector<qsizetype> cuts = log::blockCuts(memory, std::max<qsizetype>(1, memory.size() - lookBack));
    if (cuts.size() <= 2)
        cuts = log::blockCuts(memory, 1);
    const qsizetype end = cuts.size() > 2 ? cuts[cuts.size() - 2] : 0;
    return end >= memory.size() / 2 ? end : 0;
}

// Reads up to `want` bytes; fewer when the file ends first (it was cut
// short) or a read fails.
qint64 readFully(QFile& file, char* into, qint64 want, bool& failed) {
    qint64 got = 0;
    while (got < want) {
        const qint64 n = file.read(into + got, want - got);
        if (n < 0)
            failed = true;
        if (n <= 0)
            break;
        got += n;
    }
    return got;
}

} // namespace

QString FileProblem::message() const {
    if (line <= 0)
        return QStringLiteral("%1: %2, skipped").arg(file, why);
    return QStringLiteral("%1:%2: %3, skipped").arg(file).arg(line).arg(why);
}

QString stepsBackNote(const std::vector<TimeStepBack>& steps) {
    if (steps.empty())
        return {};
    QString note = QStringLiteral("; time steps back at %1 line %2")
                       .arg(QFileInfo(steps.front().file).fileName())
                       .arg(steps.front().line);
    const std::size_t more = steps.size() - 1;
    if (more == 1)
        note += QStringLiteral(" and at 1 more place");
    else if (more > 1)
        note += QStringLiteral(" and at %1 more places").arg(more);
    return note;
}

struct DayFiles::Reading {
    const QString& path;
    QDate date;
    log::FileDayMoments& moments;
    std::optional<qint64> lastMs;
};

DayFiles::DayFiles(ReplyStore& store, const QTimeZone& zone)
    : store_(store)
    , zone_(zone) {}

void DayFiles::problem(const QString& path, qint64 line, const QString& why) {
    problems_.push_back({path, line, why});
}

void DayFiles::take(Reading& reading, qint64 line, int utcMsOfDay, const Sample& sample) {
    const std::optional<qint64> ms = reading.moments.nextMs(utcMsOfDay);
    if (!ms) {
        problem(reading.path, line,
                QStringLiteral("the stamp is no time of %1 in this time zone")
                    .arg(reading.date.toString(Qt::ISODate)));
        return;
    }
    if (reading.lastMs && *ms < *reading.lastMs)
        stepsBack_.push_back({reading.path, line});
    reading.lastMs = *ms;
    Sample placed = sample;
    placed.ms = *ms;
    store_.append(placed);
}

void DayFiles::load(const QStringList& paths) {
    QStringList sorted = paths;
    std::stable_sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    for (const QString& path : sorted) {
        const QFileInfo info(path);
        if (info.isDir()) {
            problem(path, 0, QStringLiteral("a folder, not a daily log file"));
            continue;
        }
        const std::optional<QDate> date = log::dateOfDailyLog(path);
        if (!date) {
            problem(path, 0, QStringLiteral("not a daily log file (the name is not YYYYMMDD.txt)"));
            continue;
        }
        // Opening a FIFO would wait for a writer.
        if (info.exists() && !info.isFile()) {
            problem(path, 0, QStringLiteral("not a daily log file (not a regular file)"));
            continue;
        }
        log::FileDayMoments moments(*date, zone_);
        const qint64 appendedFrom = store_.appendedCount();
        if (!read(path, moments, *date, {}))
            continue;
        files_.append(path);
        lastPath_ = path;
        lastDate_ = *date;
        lastMoments_ = moments;
        lastAppendedFrom_ = appendedFrom;
        followedTail_ = {lastTailProblems_, qsizetype(problems_.size())};
    }
    // The followed file's end is told last, whatever came after it, so that
    // following can take it back.
    if (!lastPath_.isEmpty()) {
        std::rotate(problems_.begin() + followedTail_.from, problems_.begin() + followedTail_.to,
                    problems_.end());
        lastTailProblems_ = qsizetype(problems_.size()) - (followedTail_.to - followedTail_.from);
        followedTail_ = {lastTailProblems_, qsizetype(problems_.size())};
    }
}

qsizetype DayFiles::follow() {
    if (lastPath_.isEmpty())
        return 0;
    problems_.erase(problems_.begin() + lastTailProblems_, problems_.end());
    // A file cut below what was read (by the client taking back a short
    // write, by another program) is followed on from what it now holds: what
    // was read stays, the cut is told once, and what came after the cut is
    // read as it comes.
    if (const QFileInfo info(lastPath_); info.exists() && info.size() < lastSettled_.offset) {
        problem(lastPath_, 0, QStringLiteral("it is shorter than when it was read"));
        lastTailProblems_ = qsizetype(problems_.size());
        if (const std::optional<RecvBlockReader::Resume> resume = resumeAfterCut())
            lastSettled_ = *resume;
    }
    const qint64 before = store_.appendedCount();
    (void)read(lastPath_, *lastMoments_, lastDate_, lastSettled_);
    return qsizetype(store_.appendedCount() - before);
}

// The cut may have come at any point since the last look, and more may have
// been appended after it since: the file is read again from its start, as
// far as its blocks are the replies taken from it before, and read on from
// just after the last of those.
std::optional<RecvBlockReader::Resume> DayFiles::resumeAfterCut() {
    QFile file(lastPath_);
    qsizetype index = qsizetype(lastAppendedFrom_ - (store_.appendedCount() - store_.size()));
    if (index < 0 || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    log::FileDayMoments moments(lastDate_, zone_);
    log::FileDayMoments settledMoments = moments;
    RecvBlockReader reader(file);
    RecvBlockReader::Resume resume;
    for (RecvBlockReader::Found found; (found = reader.next()) == RecvBlockReader::Found::Block;) {
        const std::optional<qint64> ms = moments.nextMs(reader.stamp().msecsSinceStartOfDay());
        if (!ms)
            continue;
        if (index == store_.size() || store_.at(index) != sampleOf(*ms, reader.reply()))
            break;
        ++index;
        resume = reader.settled();
        settledMoments = moments;
    }
    lastMoments_ = settledMoments;
    return resume;
}

void DayFiles::setPartBytes(qsizetype bytes) {
    g_partBytes = std::max<qsizetype>(bytes, 2 * kLookBack);
}

void DayFiles::readAll(RecvBlockReader& reader, Reading& reading) {
    for (RecvBlockReader::Found found; (found = reader.next()) != RecvBlockReader::Found::End;) {
        if (found == RecvBlockReader::Found::Skipped)
            problem(reading.path, reader.line(), reader.why());
        else
            take(reading, reader.line(), reader.stamp().msecsSinceStartOfDay(), sampleOf(0, reader.reply()));
    }
}

bool DayFiles::read(const QString& path, log::FileDayMoments& moments, QDate date,
                    RecvBlockReader::Resume from) {
    const std::size_t problemsBefore = problems_.size();
    Reading reading{path, date, moments, std::nullopt};
    if (!store_.isEmpty())
        reading.lastMs = store_.msAt(store_.size() - 1);

    // Read, not mapped: a mapped file cut short while it is read (by the
    // client taking back a short write, by rotation) kills the reader.
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    RecvBlockReader::Resume settled = from;
    if (!opened) {
        problem(path, 0, QStringLiteral("cannot open it: %1").arg(file.errorString()));
    } else if (const qint64 size = file.size(); size < from.offset) {
        problem(path, 0, QStringLiteral("it is shorter than when it was read"));
    } else if (!file.seek(from.offset)) {
        problem(path, 0, QStringLiteral("cannot read it: %1").arg(file.errorString()));
    } else if (size == from.offset) {
        // Nothing new, or a file that tells no size (of /proc): read as it comes.
        RecvBlockReader reader(file, from);
        readAll(reader, reading);
        settled = reader.settled();
        if (!reader.readToEnd())
            problem(path, 0, QStringLiteral("cannot read it to the end: %1").arg(file.errorString()));
    } else {
        settled = readParts(file, size, from, reading);
    }

    // What the file's end gave (a block still being written, a read that
    // failed) is told again as it stands when the file is followed.
    std::size_t tail = problems_.size();
    while (tail > problemsBefore &&
           (problems_[tail - 1].line == 0 || problems_[tail - 1].line > settled.line))
        --tail;
    lastTailProblems_ = qsizetype(tail);
    lastSettled_ = settled;
    return opened;
}

// The file is read in order into parts that end after a whole block, the
// bytes after it carried to the next; each part's blocks are found on a
// worker thread a few parts ahead, while moments and line numbers, which
// need all before them, are made here in order. Only the part being read
// and those ahead are held, whatever the file's size. The file is read as
// far as it was long when opened, as it then was.
RecvBlockReader::Resume DayFiles::readParts(QFile& file, qint64 size, RecvBlockReader::Resume from,
                                            Reading& reading) {
    struct Ahead {
        std::future<Part> part;
        QByteArray bytes;
        qsizetype end = 0;
        qint64 offset = 0;
        bool skipping = false;
    };
    const qsizetype partBytes = g_partBytes;
    std::deque<Ahead> ahead;
    std::vector<QByteArray> spareBytes;
    std::vector<Part> spareParts;
    RecvBlockReader::Resume settled = from;
    qint64 lines = from.line;
    const auto takeFirst = [&] {
        Ahead first = std::move(ahead.front());
        ahead.pop_front();
        Part part = first.part.get();
        if (part.clean) {
            for (std::size_t i = 0; i < part.samples.size(); ++i)
                take(reading, lines + part.lines[i], int(part.samples[i].ms), part.samples[i]);
            settled = {first.offset + part.settled.offset, lines + part.settled.line, part.settled.skipping};
            lines += part.lineCount;
        } else {
            RecvBlockReader reader(QByteArrayView(first.bytes).first(first.end), {0, lines, first.skipping});
            readAll(reader, reading);
            settled = reader.settled();
            settled.offset += first.offset;
            lines = reader.lines();
        }
        spareBytes.push_back(std::move(first.bytes));
        spareParts.push_back(std::move(part));
    };

    // The next part: where it starts in the file, and the bytes of it the
    // last one left over.
    qint64 offset = from.offset;
    bool skipping = from.skipping;
    const char* carried = nullptr;
    qsizetype carriedBytes = 0;
    bool shorter = false;
    bool failed = false;
    while (true) {
        // Room to read into; the part the carried bytes lie in stays ahead.
        while (ahead.size() >= kPartsAhead)
            takeFirst();
        QByteArray bytes;
        if (!spareBytes.empty()) {
            bytes = std::move(spareBytes.back());
            spareBytes.pop_back();
        }
        const qint64 want = std::min<qint64>(partBytes - carriedBytes, size - offset - carriedBytes);
        if (bytes.size() < carriedBytes + want)
            bytes = QByteArray(carriedBytes + qsizetype(want), Qt::Uninitialized);
        if (carriedBytes > 0)
            std::memcpy(bytes.data(), carried, std::size_t(carriedBytes));
        const qint64 got = readFully(file, bytes.data() + carriedBytes, want, failed);
        shorter = got < want && !failed;
        const QByteArrayView memory(bytes.constData(), carriedBytes + qsizetype(got));
        const bool last = got < want || offset + memory.size() >= size;
        const qsizetype end = last ? memory.size() : partEnd(memory);

        if (last && ahead.empty()) {
            RecvBlockReader reader(memory, {0, lines, skipping});
            readAll(reader, reading);
            settled = reader.settled();
            settled.offset += offset;
            break;
        }
        if (end == 0 && !last) {
            // No whole block where a part could end (junk, lines gone wrong):
            // read on in order up to the next block past a part's length.
            while (!ahead.empty())
                takeFirst();
            spareBytes.push_back(std::move(bytes));
            if (!file.seek(offset)) {
                failed = true;
                break;
            }
            RecvBlockReader reader(file, {offset, lines, skipping});
            bool more = false;
            for (RecvBlockReader::Found found; (found = reader.next()) != RecvBlockReader::Found::End;) {
                if (found == RecvBlockReader::Found::Skipped) {
                    problem(reading.path, reader.line(), reader.why());
                    continue;
                }
                take(reading, reader.line(), reader.stamp().msecsSinceStartOfDay(),
                     sampleOf(0, reader.reply()));
                if (reader.settled().offset >= offset + partBytes) {
                    more = reader.settled().offset < size;
                    break;
                }
            }
            settled = reader.settled();
            if (!more) {
                failed = !reader.readToEnd();
                shorter = !failed && file.pos() < size;
                break;
            }
            offset = settled.offset;
            skipping = settled.skipping;
            lines = settled.line;
            carriedBytes = 0;
            if (!file.seek(offset)) {
                failed = true;
                break;
            }
            continue;
        }

        Part room;
        if (!spareParts.empty()) {
            room = std::move(spareParts.back());
            spareParts.pop_back();
        }
        ahead.push_back(
            {std::async(std::launch::async, readPart, memory.first(end), skipping, std::move(room)),
             std::move(bytes), end, offset, skipping});
        if (last)
            break;
        carried = ahead.back().bytes.constData() + end;
        carriedBytes = memory.size() - end;
        offset += end;
        skipping = false;
    }
    while (!ahead.empty())
        takeFirst();
    if (failed)
        problem(reading.path, 0, QStringLiteral("cannot read it to the end: %1").arg(file.errorString()));
    else if (shorter)
        problem(reading.path, 0, QStringLiteral("it is shorter than when it was read"));
    return settled;
}

} // namespace lumora::timeline
