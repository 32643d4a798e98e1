// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/console.h"

#include "cli/arguments.h"

#include <cstdio>

namespace lumora::cli {

namespace {

void writeLine(std::FILE* stream, const QByteArray& bytes) {
    // A closed pipe or a full disk leaves nothing better to do than go on;
    // the exit status still tells what happened to the unit.
    static_cast<void>(std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream));
    static_cast<void>(std::fputc('\n', stream));
    static_cast<void>(std::fflush(stream));
}

} // namespace

void Console::out(const QString& line) {
    writeLine(stdout, line.toUtf8());
}

void Console::outLines(QByteArrayView lines) {
    static_cast<void>(std::fwrite(lines.data(), 1, std::size_t(lines.size()), stdout));
    static_cast<void>(std::fflush(stdout));
}

void Console::fail(const QString& line) {
    writeLine(stderr, (QLatin1String(kProgramName) + QStringLiteral(": ") + line).toLocal8Bit());
}

} // namespace lumora::cli
