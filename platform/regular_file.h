// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace lumora::platform {

// The bytes of the regular file at `path` if it holds at most `most` bytes.
// Opening it never waits: a FIFO without a writer is refused, not waited on,
// as is a directory or a device. None otherwise, with `why`: the system's
// reason, "a directory, not a regular file", "not a regular file" or
// "larger than N MiB".
[[nodiscard]] std::optional<QByteArray> readRegularFile(const QString& path, qint64 most, QString& why);

} // namespace lumora::platform
