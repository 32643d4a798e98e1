// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/recv_block.h"

#include "protocol/hex_text.h"
#include "protocol/status_reply.h"

#include <QIODevice>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lumora::log {

namespace {

constexpr QByteArrayView kHeaderText(" RECV : Status Request (112 Bytes)");
constexpr qsizetype kStampChars = 14; // "[hh:mm:ss.mmm]"
constexpr int kBlockLines = 6;
// The dump lines cut the reply at these offsets.
constexpr std::array<qsizetype, 5> kDumpBounds{0, 30, 60, 90, protocol::kStatusReplySize};
constexpr std::array<qsizetype, 4> kDumpLineBytes{30, 30, 30, 22};
constexpr qsizetype kGroupChars = 3; // "XX "
constexpr qsizetype kLongestDumpLine = 30 * kGroupChars;
constexpr qsizetype kChunk = qsizetype{64} * 1024;

int digit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

// The byte two upper-case hex digits stand for, by the digits as one 16-bit
// number (first digit low), or kNotHex. Dump lines are most of a file: each
// group costs one look-up, and a line's flags are looked at once at its end.
constexpr unsigned kNotHex = 0x100;
const std::array<std::uint16_t, 65536>& hexPairs() {
    static const auto table = [] {
        std::array<std::uint16_t, 65536> pairs{};
        const auto value = [](unsigned c) -> unsigned {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            return kNotHex;
        };
        for (unsigned both = 0; both < pairs.size(); ++both) {
            const unsigned high = value(both & 0xFF);
            const unsigned low = value(both >> 8);
            pairs[both] = std::uint16_t((high | low) & kNotHex ? kNotHex : high << 4 | low);
        }
        return pairs;
    }();
    return table;
}

// The bytes of a dump line ("XX " groups) into `out`; false, with `out`
// partly written, for anything else.
bool readDumpLine(QByteArrayView text, char* out) {
    const std::array<std::uint16_t, 65536>& pairs = hexPairs();
    const auto* in = reinterpret_cast<const std::uint8_t*>(text.data());
    const qsizetype groups = text.size() / kGroupChars;
    unsigned bad = 0;
    for (qsizetype g = 0; g < groups; ++g, in += kGroupChars) {
        const unsigned byte = pairs[unsigned(in[0]) | unsigned(in[1]) << 8];
        bad |= byte | (in[2] ^ unsigned(' ')) << 8;
        out[g] = static_cast<char>(byte);
    }
    return (bad & ~0xFFu) == 0;
}

// The number of `count` decimal digits at `at`, or -1.
int number(QByteArrayView text, qsizetype at, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const int d = digit(text[at + i]);
        if (d < 0)
            return -1;
        value = value * 10 + d;
    }
    return value;
}

// After a line's text at `at`: CR LF or LF; where the next line starts, or
// 0 for anything else.
qsizetype lineEndAt(const char* p, qsizetype at, qsizetype left) {
    if (at < left && p[at] == '\n')
        return at + 1;
    if (at + 1 < left && p[at] == '\r' && p[at + 1] == '\n')
        return at + 2;
    return 0;
}

constexpr qsizetype kHeaderChars = kStampChars + kHeaderText.size();
// All six lines with LF ends.
constexpr qsizetype kShortestBlock =
    kHeaderChars + 1 + (3 * kLongestDumpLine) + 3 + (22 * kGroupChars) + 1 + 1;

// The length of the block at p if it is one exactly as the window writes it
// (each line ended by CR LF or LF), its stamp and reply filled in; else 0.
// Nearly every block of a file is one, and the line by line reading finds
// exactly the same in it, only slower.
qsizetype wholeBlockAt(const char* p, qsizetype left, QTime& stamp, char* out) {
    if (left < kShortestBlock ||
        std::memcmp(p + kStampChars, kHeaderText.data(), size_t(kHeaderText.size())) != 0)
        return 0;
    const std::optional<QTime> time = recvHeaderStamp(QByteArrayView(p, kHeaderChars));
    qsizetype at = lineEndAt(p, kHeaderChars, left);
    if (!time || at == 0)
        return 0;
    for (const qsizetype bytes : kDumpLineBytes) {
        const qsizetype chars = bytes * kGroupChars;
        if (at + chars >= left || !readDumpLine(QByteArrayView(p + at, chars), out))
            return 0;
        out += bytes;
        at = lineEndAt(p, at + chars, left);
        if (at == 0)
            return 0;
    }
    at = lineEndAt(p, at, left);
    if (at == 0)
        return 0;
    stamp = *time;
    return at;
}

} // namespace

QString recvHeader(const QString& timeStamp) {
    return timeStamp + QLatin1StringView(kHeaderText);
}

QStringList recvBlockLines(const QString& timeStamp, QByteArrayView reply) {
    if (reply.size() != protocol::kStatusReplySize)
        return {};
    QStringList lines;
    lines.reserve(kBlockLines);
    lines.append(recvHeader(timeStamp));
    for (std::size_t k = 0; k + 1 < kDumpBounds.size(); ++k)
        lines.append(protocol::hexText(reply.sliced(kDumpBounds[k], kDumpBounds[k + 1] - kDumpBounds[k])));
    lines.append(QString());
    return lines;
}

QString dailyFileText(const QStringList& lines) {
    return lines.join(QLatin1StringView("\r\n"));
}

std::optional<QTime> recvHeaderStamp(QByteArrayView line) {
    if (line.size() != kStampChars + kHeaderText.size() || !line.endsWith(kHeaderText))
        return std::nullopt;
    if (line[0] != '[' || line[3] != ':' || line[6] != ':' || line[9] != '.' || line[13] != ']')
        return std::nullopt;
    const int hour = number(line, 1, 2);
    const int minute = number(line, 4, 2);
    const int second = number(line, 7, 2);
    const int msec = number(line, 10, 3);
    if (hour < 0 || minute < 0 || second < 0 || msec < 0 || !QTime::isValid(hour, minute, second, msec))
        return std::nullopt;
    return QTime(hour, minute, second, msec);
}

std::vector<qsizetype> blockCuts(QByteArrayView memory, qsizetype partBytes) {
    std::vector<qsizetype> cuts{0};
    const char* p = memory.data();
    const qsizetype size = memory.size();
    partBytes = std::max<qsizetype>(partBytes, 1);
    std::array<char, protocol::kStatusReplySize> scratch{};
    QTime stamp;
    // Looks for a line start at or after `from` that holds a whole block.
    for (qsizetype from = partBytes - 1; from < size;) {
        const auto* newline = static_cast<const char*>(std::memchr(p + from, '\n', size_t(size - from)));
        if (newline == nullptr)
            break;
        const qsizetype at = newline - p + 1;
        const qsizetype length = wholeBlockAt(p + at, size - at, stamp, scratch.data());
        if (length == 0) {
            from = at;
            continue;
        }
        if (at + length >= size)
            break;
        cuts.push_back(at + length);
        from = at + length + partBytes - 1;
    }
    cuts.push_back(size);
    return cuts;
}

RecvBlockReader::RecvBlockReader(QIODevice& device, Resume from)
    : device_(&device)
    , chunk_(kChunk, Qt::Uninitialized)
    , data_(chunk_.constData())
    , dataOffset_(from.offset)
    , state_(from.skipping ? State::Skipping : State::Seeking)
    , settled_(from)
    , lineNumber_(from.line)
    , quietFrom_(from.offset)
    , quietLine_(from.line + 1) {
    carried_.reserve(kLongestLine);
}

RecvBlockReader::RecvBlockReader(QByteArrayView memory, Resume from)
    : data_(memory.data())
    , chunkAt_(qsizetype(std::min<qint64>(from.offset, memory.size())))
    , chunkEnd_(memory.size())
    , atEnd_(true)
    , state_(from.skipping ? State::Skipping : State::Seeking)
    , settled_(from)
    , lineNumber_(from.line)
    , quietFrom_(chunkAt_)
    , quietLine_(from.line + 1) {
    carried_.reserve(kLongestLine);
}

// A whole block of the usual form at once, between blocks.
bool RecvBlockReader::takeWhole() {
    if (lineInCarried_) {
        carried_.clear();
        carriedOverlong_ = false;
        lineInCarried_ = false;
    }
    if (!carried_.isEmpty() || carriedOverlong_)
        return false;
    const qsizetype length = wholeBlockAt(data_ + chunkAt_, chunkEnd_ - chunkAt_, stamp_, bytes_.data());
    if (length == 0)
        return false;
    chunkAt_ += length;
    headerLine_ = lineNumber_ + 1;
    lineNumber_ += kBlockLines;
    reported_ = headerLine_;
    byteCount_ = protocol::kStatusReplySize;
    lineBytes_ = kDumpLineBytes;
    dumpLines_ = kDumpLines;
    state_ = State::Seeking;
    settled_ = {dataOffset_ + chunkAt_, lineNumber_, false};
    return true;
}

RecvBlockReader::Found RecvBlockReader::next() {
    const Found found = find();
    if (found != Found::End) {
        quietFrom_ = position();
        quietLine_ = lineNumber_ + 1;
    }
    return found;
}

// Where reading has come to in the file, but for the start of a line that
// may yet be a header.
qint64 RecvBlockReader::position() const {
    const qsizetype open = lineInCarried_ || carriedOverlong_ ? 0 : carried_.size();
    return dataOffset_ + chunkAt_ - open;
}

bool RecvBlockReader::junkDue() const {
    return junkReport_ > 0 && (state_ != State::InBlock || carriedOverlong_) &&
           position() - quietFrom_ >= junkReport_;
}

RecvBlockReader::Found RecvBlockReader::skipJunk() {
    return skip(quietLine_, QStringLiteral("%1 bytes that are no log").arg(position() - quietFrom_));
}

RecvBlockReader::Found RecvBlockReader::find() {
    QByteArrayView text;
    bool ended = false;
    bool overlong = false;
    while (state_ != State::Done) {
        if (junkDue())
            return skipJunk();
        if (wholeBlocks_ && state_ != State::InBlock && takeWhole())
            return Found::Block;
        const Read read = nextLine(text, ended, overlong);
        if (read == Read::Junk)
            return skipJunk();
        if (read == Read::End) {
            const bool open = state_ == State::InBlock;
            state_ = State::Done;
            if (open) {
                return skip(headerLine_, QStringLiteral("torn block: the file ends after %1 of its %2 lines")
                                             .arg(1 + dumpLines_)
                                             .arg(kBlockLines));
            }
            break;
        }
        const std::optional<Found> found = take(text, ended, overlong);
        if (ended && (state_ == State::Seeking || state_ == State::Skipping))
            settled_ = {dataOffset_ + chunkAt_, lineNumber_, state_ == State::Skipping};
        if (found)
            return *found;
    }
    return Found::End;
}

// Lines are handed out as views: into the chunk where a line lies whole in
// it (nearly always), else into the carried part.
RecvBlockReader::Read RecvBlockReader::nextLine(QByteArrayView& text, bool& ended, bool& overlong) {
    if (lineInCarried_) {
        carried_.clear();
        carriedOverlong_ = false;
        lineInCarried_ = false;
    }
    while (true) {
        if (chunkAt_ < chunkEnd_) {
            const char* from = data_ + chunkAt_;
            const qsizetype left = chunkEnd_ - chunkAt_;
            const auto* newline =
                static_cast<const char*>(std::memchr(from, '\n', static_cast<size_t>(left)));
            const qsizetype length = newline != nullptr ? newline - from : left;
            chunkAt_ += newline != nullptr ? length + 1 : length;
            if (newline != nullptr && carried_.isEmpty() && !carriedOverlong_) {
                text = QByteArrayView(from, length);
                overlong = length > kLongestLine;
                ended = true;
                return Read::Line;
            }
            if (!carriedOverlong_ && carried_.size() + length > kLongestLine) {
                carriedOverlong_ = true;
                carried_.clear();
            } else if (!carriedOverlong_) {
                carried_.append(from, length);
            }
            if (newline == nullptr) {
                // A line without end is told of as it passes, not held.
                if (junkDue())
                    return Read::Junk;
                continue;
            }
            ended = true;
        } else if (atEnd_) {
            if (carried_.isEmpty() && !carriedOverlong_)
                return Read::End;
            ended = false;
        } else {
            const qint64 got = device_->read(chunk_.data(), chunk_.size());
            dataOffset_ += chunkEnd_;
            chunkAt_ = 0;
            chunkEnd_ = got > 0 ? got : 0;
            atEnd_ = got <= 0;
            readFailed_ = got < 0;
            continue;
        }
        text = carried_;
        overlong = carriedOverlong_;
        lineInCarried_ = true;
        return Read::Line;
    }
}

std::optional<RecvBlockReader::Found> RecvBlockReader::take(QByteArrayView text, bool ended, bool overlong) {
    ++lineNumber_;
    // The window ends every line with CR LF; a file whose line ends were
    // turned into LF (or CR CR LF) on the way holds the same blocks. A CR
    // anywhere else damages its line.
    while (text.endsWith('\r'))
        text.chop(1);
    // Four lines in six: a dump line of an open block, apart from the rest.
    if (state_ == State::InBlock && dumpLines_ < kDumpLines && ended && !overlong && !text.isEmpty() &&
        text.size() <= kLongestDumpLine && text.size() % kGroupChars == 0 &&
        readDumpLine(text, bytes_.data() + byteCount_)) {
        const qsizetype count = text.size() / kGroupChars;
        byteCount_ += count;
        lineBytes_[static_cast<std::size_t>(dumpLines_++)] = count;
        return std::nullopt;
    }
    return takeOther(text, ended, overlong);
}

std::optional<RecvBlockReader::Found> RecvBlockReader::takeOther(QByteArrayView text, bool ended,
                                                                 bool overlong) {
    // Asked only where a header may start a block: not of the dump lines.
    const auto headerStamp = [&] { return overlong ? std::nullopt : recvHeaderStamp(text); };
    if (!ended) {
        // The input stops inside this line: whatever it was to be, it is cut.
        const State was = state_;
        state_ = State::Seeking;
        if (was == State::InBlock)
            return skip(headerLine_,
                        QStringLiteral("torn block: the file ends inside line %1").arg(lineNumber_));
        if (was == State::Seeking)
            return skip(lineNumber_,
                        QStringLiteral("the file ends inside a line that starts no whole block"));
        return std::nullopt;
    }

    switch (state_) {
    case State::Seeking:
    case State::Skipping:
        if (const std::optional<QTime> stamp = headerStamp()) {
            begin(*stamp);
        } else if (state_ == State::Seeking) {
            state_ = State::Skipping;
            return skip(lineNumber_,
                        QStringLiteral("not a RECV block, nor are the lines up to the next header"));
        }
        return std::nullopt;
    case State::InBlock:
    case State::Done:
        break;
    }

    std::optional<Found> found;
    if (dumpLines_ < kDumpLines) {
        found = skipBlock(QStringLiteral("line %1 is not a dump line").arg(lineNumber_));
    } else if (text.isEmpty() && !overlong) {
        return complete();
    } else {
        found = skipBlock(
            QStringLiteral("line %1 should be the empty line that ends the block").arg(lineNumber_));
    }
    // A header where the block went wrong starts the next block at once.
    if (const std::optional<QTime> stamp = headerStamp())
        begin(*stamp);
    return found;
}

void RecvBlockReader::begin(QTime stamp) {
    state_ = State::InBlock;
    headerLine_ = lineNumber_;
    stamp_ = stamp;
    byteCount_ = 0;
    lineBytes_ = {};
    dumpLines_ = 0;
}

RecvBlockReader::Found RecvBlockReader::skip(qint64 line, const QString& why) {
    reported_ = line;
    why_ = why;
    return Found::Skipped;
}

RecvBlockReader::Found RecvBlockReader::skipBlock(const QString& why) {
    state_ = State::Skipping;
    return skip(headerLine_, why);
}

RecvBlockReader::Found RecvBlockReader::complete() {
    state_ = State::Seeking;
    if (lineBytes_ != kDumpLineBytes) {
        return skip(
            headerLine_,
            QStringLiteral(
                "block of %1 bytes in lines of %2, %3, %4 and %5; a reply has %6 in 30, 30, 30 and 22")
                .arg(byteCount_)
                .arg(lineBytes_[0])
                .arg(lineBytes_[1])
                .arg(lineBytes_[2])
                .arg(lineBytes_[3])
                .arg(protocol::kStatusReplySize));
    }
    reported_ = headerLine_;
    return Found::Block;
}

} // namespace lumora::log
