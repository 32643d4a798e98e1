// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"

#include <QString>
#include <QStringList>
#include <QTimeZone>

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

// Daily log files (one a day, named YYYYMMDD.txt) read into one timeline, in
// the order of their days. Whatever is not a whole block is reported and
// nothing else is lost.
class DayFiles {
public:
    // The zone the files were written in.
    explicit DayFiles(ReplyStore& store, const QTimeZone& zone = QTimeZone::systemTimeZone());

    // Appends the files' replies to the store, the files sorted by their day.
    void load(const QStringList& paths);
    // Appends what was added to the last file since it was read; a block
    // still being written waits for the next call. Returns the replies added.
    qsizetype follow();

    [[nodiscard]] const std::vector<FileProblem>& problems() const { return problems_; }
    [[nodiscard]] const std::vector<TimeStepBack>& stepsBack() const { return stepsBack_; }
    [[nodiscard]] const QStringList& files() const { return files_; }

private:
    ReplyStore& store_;
    QTimeZone zone_;
    QStringList files_;
    std::vector<FileProblem> problems_;
    std::vector<TimeStepBack> stepsBack_;
};

} // namespace lumora::timeline
