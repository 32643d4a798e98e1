#include "log/daily_log.h"

#include <QDir>
#include <QFile>

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

QString failure(const QString& what, const QString& path, const QString& reason) {
    return QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(path), reason);
}

QString notRegular(const QString& path) {
    return failure(QStringLiteral("Cannot open"), path, QStringLiteral("Not a regular file"));
}

// Writes all of bytes, or reports how much went and the error that stopped it.
bool writeAll(int fd, const QByteArray& bytes, qsizetype* done, int* error) {
    *done = 0;
    while (*done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + *done, static_cast<size_t>(bytes.size() - *done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : EIO;
            return false;
        }
        *done += n;
    }
    return true;
}

} // namespace

QString dailyLogPath(const QString& programDir, const QDate& localDate) {
    const QLatin1Char zero('0');
    const QString fileName = QStringLiteral("%1%2%3")
                                 .arg(localDate.year(), 4, 10, zero)
                                 .arg(localDate.month(), 2, 10, zero)
                                 .arg(localDate.day(), 2, 10, zero) +
                             kLogFileSuffix;
    return QDir::cleanPath(programDir + QLatin1Char('/') + kLogFolderName + QLatin1Char('/') + fileName);
}

std::optional<QString> appendLine(const QString& path, const QString& text) {
    // Every text written is ASCII: one byte per character. The line end is
    // written as bytes so no text-mode translation can touch it.
    QByteArray bytes = text.toLatin1();
    bytes.append(kLineEnd);

    // Opened and closed on every call so other programs may read the file in
    // between. Non-blocking, because a FIFO in the file's place would
    // otherwise hold the open until some program reads it.
    const QByteArray name = QFile::encodeName(path);
    const int fd =
        ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, kNewFileMode);
    if (fd < 0) {
        // A FIFO nobody reads, a socket or a device without its driver.
        if (errno == ENXIO)
            return notRegular(path);
        return failure(QStringLiteral("Cannot open"), path, qt_error_string(errno));
    }

    std::optional<QString> result;
    struct stat before {};
    qsizetype written = 0;
    int error = 0;
    if (::fstat(fd, &before) != 0) {
        result = failure(QStringLiteral("Cannot open"), path, qt_error_string(errno));
    } else if (!S_ISREG(before.st_mode)) {
        result = notRegular(path);
    } else if (!writeAll(fd, bytes, &written, &error)) {
        // A full disk takes part of a block; what it took is given back, so
        // the file holds whole blocks only and a later block starts on a
        // line of its own. Only when nothing else was appended meanwhile:
        // another program's lines are not this write's to take.
        result = failure(QStringLiteral("Cannot write"), path, qt_error_string(error));
        struct stat after {};
        if (::fstat(fd, &after) != 0 || after.st_size != before.st_size + written)
            *result += QStringLiteral(" (part of the text is left in the file)");
        else if (::ftruncate(fd, before.st_size) != 0)
            *result +=
                QStringLiteral(" (part of the text is left in the file: %1)").arg(qt_error_string(errno));
    }
    if (::close(fd) != 0 && !result)
        result = failure(QStringLiteral("Cannot close"), path, qt_error_string(errno));
    return result;
}

} // namespace lumora::log