// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/log_decode.h"

#include "protocol/status_reply.h"

#include <QFileInfo>
#include <QIODevice>
#include <QRegularExpression>

namespace lumora::cli {

namespace {

constexpr int kBlockLines = 6;
constexpr std::array<qsizetype, 4> kDumpLineBytes{30, 30, 30, 22};
constexpr qsizetype kGroupChars = 3; // "XX "
constexpr qsizetype kLongestDumpLine = 30 * kGroupChars;
// Longer than any line the window writes; the rest of such a line is
// dropped unread, so a file that is not a log costs no memory.
constexpr qsizetype kLongestKeptLine = 256;
constexpr qint64 kChunk = qint64{64} * 1024;

std::optional<QTime> headerStamp(QByteArrayView text) {
    static const QRegularExpression header(QStringLiteral(
        "^\\[(\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d\\d\\d)\\] RECV : Status Request \\(112 Bytes\\)$"));
    const QRegularExpressionMatch match = header.match(QString::fromLatin1(text));
    if (!match.hasMatch())
        return std::nullopt;
    const QTime stamp(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                      match.captured(4).toInt());
    return stamp.isValid() ? std::optional<QTime>(stamp) : std::nullopt;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes of one dump line: upper-case hex pairs, each followed by a blank.
std::optional<QByteArray> dumpBytes(QByteArrayView text) {
    if (text.isEmpty() || text.size() > kLongestDumpLine || text.size() % kGroupChars != 0)
        return std::nullopt;
    QByteArray bytes;
    for (qsizetype at = 0; at < text.size(); at += kGroupChars) {
        const int high = hexDigit(text[at]);
        const int low = hexDigit(text[at + 1]);
        if (high < 0 || low < 0 || text[at + 2] != ' ')
            return std::nullopt;
        bytes.append(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

} // namespace

std::optional<QDate> dateOfLogFile(const QString& path) {
    static const QRegularExpression name(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})\\.txt$"));
    const QRegularExpressionMatch match = name.match(QFileInfo(path).fileName());
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
}

void LogBlockReader::addLine(QByteArrayView text, bool ended) {
    ++line_;
    const std::optional<QTime> stamp = headerStamp(text);
    if (!ended) {
        // The file stops inside this line: whatever it was to be, it is cut.
        if (state_ == State::InBlock)
            skipBlock(QStringLiteral("torn block: the file ends inside line %1").arg(line_));
        else if (state_ == State::Seeking)
            onSkip(line_, QStringLiteral("the file ends inside a line that starts no whole block"));
        state_ = State::Seeking;
        return;
    }

    switch (state_) {
    case State::Seeking:
    case State::Skipping:
        if (stamp) {
            begin(*stamp);
        } else if (state_ == State::Seeking) {
            onSkip(line_, QStringLiteral("not a RECV block, nor are the lines up to the next header"));
            state_ = State::Skipping;
        }
        return;
    case State::InBlock:
        break;
    }

    if (dumpLines_ < int(kDumpLineBytes.size())) {
        if (const std::optional<QByteArray> bytes = dumpBytes(text)) {
            lineBytes_[static_cast<std::size_t>(dumpLines_++)] = bytes->size();
            bytes_ += *bytes;
            return;
        }
        skipBlock(QStringLiteral("line %1 is not a dump line").arg(line_));
    } else if (text.isEmpty()) {
        complete();
        return;
    } else {
        skipBlock(QStringLiteral("line %1 should be the empty line that ends the block").arg(line_));
    }
    // A header where the block went wrong starts the next block at once.
    if (stamp)
        begin(*stamp);
}

void LogBlockReader::finish() {
    if (state_ == State::InBlock) {
        skipBlock(QStringLiteral("torn block: the file ends after %1 of its %2 lines")
                      .arg(1 + dumpLines_)
                      .arg(kBlockLines));
    }
    state_ = State::Seeking;
}

void LogBlockReader::begin(QTime stamp) {
    state_ = State::InBlock;
    headerLine_ = line_;
    stamp_ = stamp;
    bytes_.clear();
    lineBytes_ = {};
    dumpLines_ = 0;
}

void LogBlockReader::skipBlock(const QString& why) {
    onSkip(headerLine_, why);
    state_ = State::Skipping;
}

void LogBlockReader::complete() {
    state_ = State::Seeking;
    if (lineBytes_ != kDumpLineBytes) {
        skipBlock(QStringLiteral(
                      "block of %1 bytes in lines of %2, %3, %4 and %5; a reply has %6 in 30, 30, 30 and 22")
                      .arg(bytes_.size())
                      .arg(lineBytes_[0])
                      .arg(lineBytes_[1])
                      .arg(lineBytes_[2])
                      .arg(lineBytes_[3])
                      .arg(protocol::kStatusReplySize));
        state_ = State::Seeking;
        return;
    }
    onBlock(Block{headerLine_, stamp_, bytes_});
}

bool readLogBlocks(QIODevice& device, LogBlockReader& reader) {
    QByteArray line;
    // Every line of the window's file ends in CR LF; a file whose line ends
    // were turned into LF (or CR CR LF) on the way still holds the same
    // blocks. A CR anywhere else damages its line.
    auto deliver = [&](bool ended) {
        QByteArrayView text(line);
        while (ended && text.endsWith('\r'))
            text.chop(1);
        reader.addLine(text, ended);
        line.clear();
    };
    qint64 got = 0;
    QByteArray chunk(kChunk, Qt::Uninitialized);
    while (true) {
        got = device.read(chunk.data(), kChunk);
        if (got <= 0)
            break;
        qsizetype from = 0;
        while (from < got) {
            const qsizetype end = QByteArrayView(chunk.constData(), got).indexOf('\n', from);
            const qsizetype stop = end < 0 ? got : end;
            // A cut line is longer than any line of a block, so it still
            // reads as what it is: not part of one.
            line.append(chunk.constData() + from, std::min(kLongestKeptLine - line.size(), stop - from));
            if (end < 0)
                break;
            deliver(true);
            from = end + 1;
        }
    }
    if (!line.isEmpty())
        deliver(false);
    reader.finish();
    return got == 0;
}

} // namespace lumora::cli
