// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/day_files.h"

#include "log/daily_log.h"

#include <QFile>
#include <QFileInfo>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <future>

namespace lumora::timeline {

namespace {

using log::RecvBlockReader;

// Parts of a large file read on the worker threads: large enough that a
// part costs far more than its thread, small enough that the few read ahead
// of the store hold little.
constexpr qsizetype kPartBytes = qsizetype{32} << 20;
constexpr qsizetype kThreadsFrom = 3 * kPartBytes;
constexpr std::size_t kPartsAhead = 3;
// The shortest block, to guess how many a part holds.
constexpr qsizetype kBlockBytes = 390;

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
Part readPart(QByteArrayView memory, qsizetype from, qsizetype to, bool skipping, Part part) {
    part.samples.clear();
    part.lines.clear();
    part.clean = true;
    RecvBlockReader reader(memory.first(to), {from, 0, skipping});
    part.samples.reserve(std::size_t((to - from) / kBlockBytes + 1));
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

// Gives back the pages of [from, to) that lie wholly inside it: read, a part
// of a mapped file is only the page cache's, not the reader's memory.
void release(const char* from, const char* to) {
    const auto page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const char* first = from + (page - std::uintptr_t(from) % page) % page;
    const char* last = to - std::uintptr_t(to) % page;
    if (last > first)
        (void)madvise(const_cast<char*>(first), std::size_t(last - first), MADV_DONTNEED);
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
        if (!read(path, moments, *date, {}))
            continue;
        files_.append(path);
        lastPath_ = path;
        lastDate_ = *date;
        lastMoments_ = moments;
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
    const qint64 before = store_.appendedCount();
    (void)read(lastPath_, *lastMoments_, lastDate_, lastSettled_);
    return qsizetype(store_.appendedCount() - before);
}

bool DayFiles::read(const QString& path, log::FileDayMoments& moments, QDate date,
                    RecvBlockReader::Resume from) {
    const std::size_t problemsBefore = problems_.size();
    Reading reading{path, date, moments, std::nullopt};
    if (!store_.isEmpty())
        reading.lastMs = store_.msAt(store_.size() - 1);
    const auto readAll = [&](RecvBlockReader& reader) {
        for (RecvBlockReader::Found found; (found = reader.next()) != RecvBlockReader::Found::End;) {
            if (found == RecvBlockReader::Found::Skipped)
                problem(path, reader.line(), reader.why());
            else
                take(reading, reader.line(), reader.stamp().msecsSinceStartOfDay(),
                     sampleOf(0, reader.reply()));
        }
    };

    QFile file(path);
    bool opened = file.open(QIODevice::ReadOnly);
    RecvBlockReader::Resume settled = from;
    if (!opened) {
        problem(path, 0, QStringLiteral("cannot open it: %1").arg(file.errorString()));
    } else if (const qint64 size = file.size(); size < from.offset) {
        problem(path, 0, QStringLiteral("it is shorter than when it was read"));
    } else if (uchar* mapped = size > from.offset ? file.map(from.offset, size - from.offset) : nullptr) {
        const QByteArrayView memory(reinterpret_cast<const char*>(mapped), size - from.offset);
        const RecvBlockReader::Resume start{0, from.line, from.skipping};
        if (memory.size() < kThreadsFrom) {
            RecvBlockReader reader(memory, start);
            readAll(reader);
            settled = reader.settled();
        } else {
            // Blocks are read on worker threads a few parts ahead; moments and
            // line numbers need all before them and are made here, in order.
            const std::vector<qsizetype> cuts = log::blockCuts(memory, kPartBytes);
            const std::size_t parts = cuts.size() - 1;
            std::deque<std::future<Part>> ahead;
            std::vector<Part> done;
            std::size_t launched = 0;
            const auto launch = [&] {
                Part room;
                if (!done.empty()) {
                    room = std::move(done.back());
                    done.pop_back();
                }
                ahead.push_back(std::async(std::launch::async, readPart, memory, cuts[launched],
                                           cuts[launched + 1], launched == 0 && start.skipping,
                                           std::move(room)));
                ++launched;
            };
            while (launched < parts && ahead.size() < kPartsAhead)
                launch();
            qint64 linesBefore = start.line;
            for (std::size_t k = 0; k < parts; ++k) {
                Part part = ahead.front().get();
                ahead.pop_front();
                if (part.clean) {
                    for (std::size_t i = 0; i < part.samples.size(); ++i)
                        take(reading, linesBefore + part.lines[i], int(part.samples[i].ms), part.samples[i]);
                    settled = {part.settled.offset, linesBefore + part.settled.line, part.settled.skipping};
                    linesBefore += part.lineCount;
                } else {
                    RecvBlockReader reader(memory.first(cuts[k + 1]),
                                           {cuts[k], linesBefore, k == 0 && start.skipping});
                    readAll(reader);
                    settled = reader.settled();
                    linesBefore = reader.lines();
                }
                release(memory.data() + cuts[k], memory.data() + cuts[k + 1]);
                done.push_back(std::move(part));
                if (launched < parts)
                    launch();
            }
        }
        settled.offset += from.offset;
    } else if (file.seek(from.offset)) {
        // Not mappable (a file system without it): read as it comes.
        RecvBlockReader reader(file, from);
        readAll(reader);
        settled = reader.settled();
        if (!reader.readToEnd())
            problem(path, 0, QStringLiteral("cannot read it to the end: %1").arg(file.errorString()));
    } else {
        problem(path, 0, QStringLiteral("cannot read it: %1").arg(file.errorString()));
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

} // namespace lumora::timeline
