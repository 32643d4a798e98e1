// SPDX-License-Identifier: GPL-3.0-or-later
// A daily log file may be anything by the time it is read back: cut off,
// edited, converted, another file under its name. The block reader is fed
// arbitrary bytes, whole, a few bytes at a time and from memory, and must find
// exactly the blocks the block writer would have written there and nothing else.

#include "log/recv_block.h"
#include "log/time_stamp.h"
#include "protocol/status_reply.h"
#include "trickle.h"

#include <QBuffer>
#include <QIODevice>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using lumora::log::RecvBlockReader;

[[noreturn]] void violated(const char* what, qint64 line) {
    std::fprintf(stderr, "invariant violated: %s (line %lld)\n", what, static_cast<long long>(line));
    std::abort();
}

struct Find {
    bool block = false;
    qint64 line = 0;
    QByteArray what; // the stamp and reply, or why it was skipped
    bool operator==(const Find&) const = default;
};

QList<Find> readAll(RecvBlockReader& reader) {
    QList<Find> finds;
    for (auto found = reader.next(); found != RecvBlockReader::Found::End; found = reader.next()) {
        if (found == RecvBlockReader::Found::Block) {
            if (reader.reply().size() != lumora::protocol::kStatusReplySize)
                violated("a block's reply is not 112 bytes", reader.line());
            finds.append(
                {true, reader.line(),
                 reader.stamp().toString(Qt::ISODateWithMs).toLatin1() + reader.reply().toByteArray()});
        } else {
            finds.append({false, reader.line(), reader.why().toUtf8()});
        }
    }
    return finds;
}

// The lines that end in LF, without their trailing CRs; a line too long to
// be part of a block, or not ended, is one that no block line equals.
QList<QByteArray> endedLines(QByteArrayView input) {
    QList<QByteArray> lines;
    qsizetype from = 0;
    for (qsizetype end; (end = input.indexOf('\n', from)) >= 0; from = end + 1) {
        QByteArrayView line = input.sliced(from, end - from);
        const bool overlong = line.size() > RecvBlockReader::kLongestLine;
        while (line.endsWith('\r'))
            line.chop(1);
        lines.append(overlong ? QByteArray("\n") : line.toByteArray());
    }
    return lines;
}

// Whether lines i.. are a block as the writer writes it, by Qt's own reading
// of the stamp and the hex.
bool writtenBlockAt(const QList<QByteArray>& lines, qsizetype i) {
    constexpr qsizetype kBlockLines = 6;
    if (i + kBlockLines > lines.size() || lines[i].size() < 14)
        return false;
    const QTime stamp =
        QTime::fromString(QString::fromLatin1(lines[i].mid(1, 12)), QStringLiteral("hh:mm:ss.zzz"));
    if (!stamp.isValid())
        return false;
    const QByteArray reply = QByteArray::fromHex(lines[i + 1] + lines[i + 2] + lines[i + 3] + lines[i + 4]);
    const QStringList written = lumora::log::recvBlockLines(lumora::log::formatTimeStamp(stamp), reply);
    if (written.size() != kBlockLines)
        return false;
    for (qsizetype k = 0; k < kBlockLines; ++k) {
        if (written[k].toLatin1() != lines[i + k])
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer whole;
    whole.setData(input);
    whole.open(QIODevice::ReadOnly);
    RecvBlockReader fromDevice(whole);
    const QList<Find> finds = readAll(fromDevice);
    testsupport::Trickle trickle(input);
    RecvBlockReader fromTrickle(trickle);
    if (readAll(fromTrickle) != finds)
        violated("read a few bytes at a time, the finds differ", 0);
    // A whole block is taken in one step where it can be; line by line must
    // find the same, and so must a read of the bytes in memory.
    RecvBlockReader fromMemory{QByteArrayView(input)};
    if (readAll(fromMemory) != finds)
        violated("read from memory, the finds differ", 0);
    RecvBlockReader lineByLine{QByteArrayView(input)};
    lineByLine.setWholeBlocksAtOnce(false);
    if (readAll(lineByLine) != finds)
        violated("read line by line, the finds differ", 0);

    const QList<QByteArray> lines = endedLines(input);
    const qint64 lineCount = input.count('\n') + (input.endsWith('\n') || input.isEmpty() ? 0 : 1);
    qint64 previous = 0;
    QList<qint64> blocks;
    for (const Find& find : finds) {
        if (find.line <= previous || find.line > lineCount)
            violated("a find's line is not after the one before, or past the last line", find.line);
        previous = find.line;
        if (find.block) {
            if (!writtenBlockAt(lines, find.line - 1))
                violated("a block found where the writer wrote none", find.line);
            blocks.append(find.line);
        }
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (writtenBlockAt(lines, i) && !blocks.contains(i + 1))
            violated("a block the writer wrote was not found", i + 1);
    }
    return 0;
}
