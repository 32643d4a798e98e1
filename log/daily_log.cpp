// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/daily_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora::log {

namespace {

constexpr QLatin1StringView kLogFolderName("Log");
constexpr QLatin1StringView kLogFileSuffix(".txt");
constexpr char kLineEnd[] = "\r\n";
constexpr mode_t kNewFileMode = 0666;

} // namespace

DailyLogFile::~DailyLogFile() = default;

ssize_t DailyLogFile::writeSome(int fd, const char* data, std::size_t size) {
    return ::write(fd, data, size);
}

DailyLogFile::Written DailyLogFile::writeAll(int fd, const QByteArray& bytes) {
    Written written;
    while (written.bytes < bytes.size()) {
        const ssize_t n = writeSome(fd, bytes.constData() + written.bytes,
                                    static_cast<size_t>(bytes.size() - written.bytes));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            written.error = n < 0 ? errno : EIO;
            break;
        }
        written.bytes += n;
    }
    return written;
}

QString dailyLogPath(const QString& programDir, const QDate& localDate) {
    const QLatin1Char zero('0');
    const QString fileName = QStringLiteral("%1%2%3")
                                 .arg(localDate.year(), 4, 10, zero)
                                 .arg(localDate.month(), 2, 10, zero)
                                 .arg(localDate.day(), 2, 10, zero) +
                             kLogFileSuffix;
    return QDir::cleanPath(programDir + QLatin1Char('/') + kLogFolderName + QLatin1Char('/') + fileName);
}

std::optional<QDate> dateOfDailyLog(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    constexpr qsizetype kDigits = 8;
    if (name.size() != kDigits + kLogFileSuffix.size() || !name.endsWith(kLogFileSuffix))
        return std::nullopt;
    int fields[3] = {0, 0, 0};
    constexpr int kFieldDigits[3] = {4, 2, 2};
    qsizetype at = 0;
    for (int field = 0; field < 3; ++field) {
        for (int i = 0; i < kFieldDigits[field]; ++i, ++at) {
            const QChar c = name.at(at);
            if (c < u'0' || c > u'9')
                return std::nullopt;
            fields[field] = fields[field] * 10 + (c.unicode() - u'0');
        }
    }
    const QDate date(fields[0], fields[1], fields[2]);
    return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
}

bool DailyLogFile::fail(const QString& what, const QString& reason) {
    errorString_ = QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(path_), reason);
    return false;
}

bool DailyLogFile::appendLine(const QString& text) {
    const QString cannotOpen = QStringLiteral("Cannot open");
    const QString notRegular = QStringLiteral("Not a regular file");
    // Every text written is ASCII: one byte per character. The line end is
    // written as bytes so no text-mode translation can touch it.
    QByteArray bytes = text.toLatin1();
    bytes.append(kLineEnd);

    // Opened and closed on every call so other programs may read the file in
    // between. Non-blocking, because a FIFO in the file's place would
    // otherwise hold the open until some program reads it.
    const QByteArray name = QFile::encodeName(path_);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, kNewFileMode);
    if (fd < 0) {
        // A FIFO nobody reads, a socket or a device without its driver.
        return fail(cannotOpen, errno == ENXIO ? notRegular : qt_error_string(errno));
    }

    bool ok = true;
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        ok = fail(cannotOpen, qt_error_string(errno));
    } else if (!S_ISREG(before.st_mode)) {
        ok = fail(cannotOpen, notRegular);
    } else if (const Written written = writeAll(fd, bytes); written.error != 0) {
        // A full disk takes part of a block; what it took is given back, so
        // the file holds whole blocks only and a later block starts on a
        // line of its own. Only when nothing else was appended meanwhile:
        // another program's lines are not this write's to take.
        ok = fail(QStringLiteral("Cannot write"), qt_error_string(written.error));
        struct stat after {};
        if (::fstat(fd, &after) != 0 || after.st_size != before.st_size + written.bytes)
            errorString_ += QStringLiteral(" (part of the text is left in the file)");
        else if (::ftruncate(fd, before.st_size) != 0)
            errorString_ +=
                QStringLiteral(" (part of the text is left in the file: %1)").arg(qt_error_string(errno));
    }
    if (::close(fd) != 0 && ok)
        ok = fail(QStringLiteral("Cannot close"), qt_error_string(errno));
    return ok;
}

} // namespace lumora::log
