#pragma once

#include <QDate>
#include <QString>

#include <optional>

namespace eventlog {

// <programDir>/Log/YYYYMMDD.txt for the given local date.
QString dailyLogPath(const QString& programDir, const QDate& localDate);

// Opens the file for appending (creating it), writes text + CR LF, closes it.
// Returns the reason on failure (nothing written is then left half-done
// beyond what the OS accepted); std::nullopt on success.
std::optional<QString> appendLine(const QString& path, const QString& text);

} // namespace eventlog
