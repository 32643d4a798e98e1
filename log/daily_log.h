#pragma once

#include <QDate>
#include <QString>

#include <optional>

namespace lumora::log {

// <programDir>/Log/YYYYMMDD.txt for the given local date.
QString dailyLogPath(const QString& programDir, const QDate& localDate);

// Opens the file for appending (creating it), writes text + CR LF, closes it.
// The text goes in whole or not at all: a write cut short (a full disk) is
// taken back out. Anything but a regular file in the path's place is refused
// at once. Returns the reason on failure; std::nullopt on success.
[[nodiscard]] std::optional<QString> appendLine(const QString& path, const QString& text);

} // namespace lumora::log