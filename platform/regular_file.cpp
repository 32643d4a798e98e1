// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/regular_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace lumora::platform {

std::optional<QByteArray> readRegularFile(const QString& path, qint64 most, QString& why) {
    const auto refuse = [&](const QString& reason) {
        why = reason;
        return std::nullopt;
    };
    const auto systemError = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    // Without O_NONBLOCK a FIFO's open() waits for a writer, and no signal
    // gets through while it does.
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return refuse(systemError(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } const closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return refuse(systemError(errno));
    if (!S_ISREG(info.st_mode))
        return refuse(S_ISDIR(info.st_mode) ? u"a directory, not a regular file"_s : u"not a regular file"_s);
    constexpr qint64 kMiB = qint64{1024} * 1024;
    const QString tooBig = u"larger than "_s + QString::number(most / kMiB) + u" MiB"_s;
    if (info.st_size > most)
        return refuse(tooBig);
    // Read to the end, or one byte over the bound for a file that grew since.
    constexpr qsizetype kChunk = qsizetype{64} * 1024;
    QByteArray bytes;
    while (bytes.size() <= most) {
        const qsizetype had = bytes.size();
        bytes.resize(had + kChunk);
        const ssize_t n = ::read(fd, bytes.data() + had, std::size_t(kChunk));
        const int error = errno;
        bytes.resize(had + std::max<qsizetype>(n, 0));
        if (n < 0 && error == EINTR)
            continue;
        if (n < 0)
            return refuse(systemError(error));
        if (n == 0)
            break;
    }
    if (bytes.size() > most)
        return refuse(tooBig);
    return bytes;
}

} // namespace lumora::platform
