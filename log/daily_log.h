// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QString>

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <utility>

namespace lumora::log {

// <programDir>/Log/YYYYMMDD.txt for the given local date.
[[nodiscard]] QString dailyLogPath(const QString& programDir, const QDate& localDate);

// The local date a daily log file is named by ("20261207.txt"), if it is one.
[[nodiscard]] std::optional<QDate> dateOfDailyLog(const QString& path);

// A day's log file. Each append opens the file for appending (creating it),
// writes the text and CR LF, and closes it again, so other programs may read
// the file in between.
class DailyLogFile {
public:
    explicit DailyLogFile(QString path)
        : path_(std::move(path)) {}
    virtual ~DailyLogFile();
    DailyLogFile(const DailyLogFile&) = delete;
    DailyLogFile& operator=(const DailyLogFile&) = delete;

    const QString& fileName() const { return path_; }

    // The text goes in whole or not at all: a write cut short (a full disk)
    // is taken back out. Anything but a regular file in the path's place is
    // refused at once. False on failure; errorString() says why.
    [[nodiscard]] bool appendLine(const QString& text);
    QString errorString() const { return errorString_; }

protected:
    // One write(2) of the text: what a full disk cuts short, and what another
    // program may append behind, so tests can play both.
    virtual ssize_t writeSome(int fd, const char* data, std::size_t size);

private:
    struct Written {
        qsizetype bytes = 0;
        int error = 0; // 0 when all went
    };

    // Writes all of bytes, or tells how much went and the error that stopped it.
    Written writeAll(int fd, const QByteArray& bytes);
    bool fail(const QString& what, const QString& reason);

    QString path_;
    QString errorString_;
};

} // namespace lumora::log
