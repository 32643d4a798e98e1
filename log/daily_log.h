// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QString>

#include <utility>

namespace lumora::log {

// <programDir>/Log/YYYYMMDD.txt for the given local date.
[[nodiscard]] QString dailyLogPath(const QString& programDir, const QDate& localDate);

// A day's log file. Each append opens the file for appending (creating it),
// writes the text and CR LF, and closes it again, so other programs may read
// the file in between.
class DailyLogFile {
public:
    explicit DailyLogFile(QString path)
        : path_(std::move(path)) {}

    const QString& fileName() const { return path_; }

    // The text goes in whole or not at all: a write cut short (a full disk)
    // is taken back out. Anything but a regular file in the path's place is
    // refused at once. False on failure; errorString() says why.
    [[nodiscard]] bool appendLine(const QString& text);
    QString errorString() const { return errorString_; }

private:
    bool fail(const QString& what, const QString& reason);

    QString path_;
    QString errorString_;
};

} // namespace lumora::log
