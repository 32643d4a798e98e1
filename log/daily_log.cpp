#include "log/daily_log.h"

#include <QDir>
#include <QFile>

namespace eventlog {

namespace {

constexpr QLatin1StringView kLogFolderName("Log");
constexpr QLatin1StringView kLogFileSuffix(".txt");
constexpr char kLineEnd[] = "\r\n";

QString failure(const QString& what, const QString& path, const QFile& file) {
    return QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(path), file.errorString());
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
    // between; unbuffered so the write count reflects what the OS accepted.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return failure(QStringLiteral("Cannot open"), path, file);

    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        const QString reason = failure(QStringLiteral("Cannot write"), path, file);
        file.close();
        return reason;
    }
    if (!file.flush()) {
        const QString reason = failure(QStringLiteral("Cannot flush"), path, file);
        file.close();
        return reason;
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return failure(QStringLiteral("Cannot close"), path, file);
    return std::nullopt;
}

} // namespace eventlog
