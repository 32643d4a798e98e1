// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "log/recv_block.h"
#include "log/utc_moment.h"
#include "timeline/reply_store.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <optional>
#include <vector>

namespace lumora::timeline {

// Something in a daily file that did not become a reply: the file as named,
// the line it starts at (0 for the whole file) and what was wrong.
struct FileProblem {
    QString file;
    qint64 line = 0;
    QString why;
    // "FILE:LINE: why, skipped", or "FILE: why, skipped" for a whole file.
    [[nodiscard]] QString message() const;
};

// Where a file's time goes back: the reply at that line is earlier than the
// one before it.
struct TimeStepBack {
    QString file;
    qint64 line = 0;
};

// "; time steps back at 20261207.txt line 4123" (and how many more places
// after the first), the note the status line adds; empty when none.
[[nodiscard]] QString stepsBackNote(const std::vector<TimeStepBack>& steps);

// Daily log files (one a day, named YYYYMMDD.txt) read into one timeline, in
// the order of their days. Whatever is not a whole block is reported and
// nothing else is lost. A large file is read in parts, one read while the
// ones before it are taken apart on other threads; the replies still go
// into the store in file order.
class DayFiles {
public:
    // The zone the files were written in.
    explicit DayFiles(ReplyStore& store, const QTimeZone& zone = QTimeZone::systemTimeZone());

    // Appends the files' replies to the store, the files sorted by their day.
    void load(const QStringList& paths);
    // Appends what was added to the last file since it was read; a block
    // still being written waits for the next call (a problem the file's end
    // gave is taken back and told again as it then stands). Returns the
    // replies added.
    qsizetype follow();

    [[nodiscard]] const std::vector<FileProblem>& problems() const { return problems_; }
    [[nodiscard]] const std::vector<TimeStepBack>& stepsBack() const { return stepsBack_; }
    [[nodiscard]] const QStringList& files() const { return files_; }

    // The size of the parts a file is read in (and above which it is read
    // on threads); tests make it small to do so with small files.
    static void setPartBytes(qsizetype bytes);

private:
    struct Reading;
    // Reads `path` on from `from`: its whole when new, its new end when
    // followed. False when it cannot be opened.
    bool read(const QString& path, log::FileDayMoments& moments, QDate date,
              log::RecvBlockReader::Resume from);
    log::RecvBlockReader::Resume readParts(QFile& file, qint64 size, log::RecvBlockReader::Resume from,
                                           Reading& reading);
    void readAll(log::RecvBlockReader& reader, Reading& reading);
    void take(Reading& reading, qint64 line, int utcMsOfDay, const Sample& sample);
    void problem(const QString& path, qint64 line, const QString& why);
    [[nodiscard]] std::optional<log::RecvBlockReader::Resume> resumeAfterCut();

    ReplyStore& store_;
    QTimeZone zone_;
    QStringList files_;
    std::vector<FileProblem> problems_;
    std::vector<TimeStepBack> stepsBack_;

    // The last file read, to follow it.
    QString lastPath_;
    QDate lastDate_;
    std::optional<log::FileDayMoments> lastMoments_;
    qint64 lastAppendedFrom_ = 0; // replies appended to the store before it
    log::RecvBlockReader::Resume lastSettled_;
    qsizetype lastTailProblems_ = 0; // problems_ from here on lie past lastSettled_
    IndexRange followedTail_;        // while loading: the followed file's in problems_
};

} // namespace lumora::timeline
