// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QTime>

#include <array>
#include <optional>
#include <vector>

class QIODevice;

namespace lumora::log {

// A status reply's block, the one thing the daily file holds, as the window
// lists and files it:
//
//   [hh:mm:ss.mmm] RECV : Status Request (112 Bytes)
//   four dump lines of 30, 30, 30 and 22 "XX " groups
//   an empty line
//
// The stamp is the UTC time of day the reply came; the file is named by the
// local date (see utc_moment.h for the moment both give together).

// "<stamp> RECV : Status Request (112 Bytes)".
[[nodiscard]] QString recvHeader(const QString& timeStamp);

// The block's six lines for a reply of 112 bytes.
[[nodiscard]] QStringList recvBlockLines(const QString& timeStamp, QByteArrayView reply);

// The lines as one text for DailyLogFile::appendLine, which ends the last
// one: CR LF between them.
[[nodiscard]] QString dailyFileText(const QStringList& lines);

// The stamp of a header line, if the line is one.
[[nodiscard]] std::optional<QTime> recvHeaderStamp(QByteArrayView line);

// A point between two lines of a daily file where no block is open:
// everything before it has been told, and a reader started there finds what
// one reading from the beginning finds after it.
struct ReadResume {
    qint64 offset = 0;     // bytes from the start of the file
    qint64 line = 0;       // lines before it
    bool skipping = false; // inside a skipped stretch already told
};

// Reads the blocks of a daily file from a device as it comes, a chunk at a
// time, or from memory (a part read in) without a copy: memory stays the same
// whatever the file's size or its lines' length. Line ends may be CR LF (as
// written) or LF. Whatever is not a whole block, up to the next header, is
// skipped and reported once per stretch: junk, damaged or torn blocks, NUL
// bytes, overlong lines.
class RecvBlockReader {
public:
    enum class Found { Block, Skipped, End };
    // Longer than any line of a block, with room for line ends gone wrong
    // (CR CR LF); a longer line is damaged, and only its length is followed.
    static constexpr qsizetype kLongestLine = 256;

    using Resume = ReadResume;

    // Reads from the device's position on, which is `from.offset` bytes into
    // the file.
    explicit RecvBlockReader(QIODevice& device, Resume from = {});
    // Reads memory[from.offset..]; the memory must stay while the reader is
    // used, and views handed out point into it.
    explicit RecvBlockReader(QByteArrayView memory, Resume from = {});

    // Reads on to the next whole block or skipped stretch.
    [[nodiscard]] Found next();

    // The line, counted from 1, of the block's header (after Block) or of
    // where the skipped stretch starts (after Skipped).
    qint64 line() const { return reported_; }
    // After Block: the header's stamp and the reply's 112 bytes, valid until
    // the next call of next().
    QTime stamp() const { return stamp_; }
    QByteArrayView reply() const { return {bytes_.data(), byteCount_}; }
    // After Skipped: what was wrong.
    const QString& why() const { return why_; }
    // After End: false when the device failed before its end (its
    // errorString() tells why).
    bool readToEnd() const { return !readFailed_; }
    // The last point reached where no block is open: just after the last
    // whole block, or inside a stretch of junk. A block the input ends
    // inside lies after it, so reading on from there once the rest has come
    // takes it whole.
    Resume settled() const { return settled_; }
    // Lines read so far, those before the start included.
    qint64 lines() const { return lineNumber_; }
    // Off: every block line by line, the slow way that finds the same; for
    // holding the two against each other.
    void setWholeBlocksAtOnce(bool on) { wholeBlocks_ = on; }
    // Off (0) unless set: every this many bytes of a stretch that is no log
    // (a line without end, lines up to the next header) are told as they
    // pass, as Skipped with "N bytes that are no log" from the line they
    // start in, so that an endless one (/dev/zero) is seen being skipped.
    void setJunkReport(qint64 bytes) { junkReport_ = bytes; }
    // True when the next call of next() reads the device first, and may
    // wait for it.
    bool waitsNext() const { return device_ != nullptr && chunkAt_ >= chunkEnd_ && !atEnd_; }

private:
    enum class State { Seeking, InBlock, Skipping, Done };
    static constexpr int kDumpLines = 4;
    static constexpr qsizetype kMostBytes = qsizetype{4} * 30;

    enum class Read { Line, End, Junk };
    Found find();
    bool takeWhole();
    Read nextLine(QByteArrayView& text, bool& ended, bool& overlong);
    qint64 position() const;
    bool junkDue() const;
    Found skipJunk();
    std::optional<Found> take(QByteArrayView text, bool ended, bool overlong);
    std::optional<Found> takeOther(QByteArrayView text, bool ended, bool overlong);
    void begin(QTime stamp);
    Found skipBlock(const QString& why);
    Found skip(qint64 line, const QString& why);
    Found complete();

    QIODevice* device_ = nullptr; // none when reading memory
    QByteArray chunk_;
    const char* data_ = nullptr; // the chunk's or the memory's bytes
    qint64 dataOffset_ = 0;      // of data_[0] in the file
    qsizetype chunkAt_ = 0;
    qsizetype chunkEnd_ = 0;
    bool atEnd_ = false;
    bool readFailed_ = false;
    // A line cut by the end of a chunk, kept only as far as a line can be
    // part of a block.
    QByteArray carried_;
    bool carriedOverlong_ = false;
    bool lineInCarried_ = false;

    State state_ = State::Seeking;
    Resume settled_;
    bool wholeBlocks_ = true;
    qint64 lineNumber_ = 0;
    qint64 headerLine_ = 0;
    qint64 reported_ = 0;
    QTime stamp_;
    QString why_;
    std::array<char, kMostBytes> bytes_{};
    qsizetype byteCount_ = 0;
    std::array<qsizetype, kDumpLines> lineBytes_{};
    int dumpLines_ = 0;
    // Where the bytes not yet told of start: after what next() last found.
    qint64 junkReport_ = 0;
    qint64 quietFrom_ = 0;
    qint64 quietLine_ = 1;
};

// Where a file in memory may be cut into parts of about partBytes, each read
// on its own (from the lines before it, not skipping), so that together they
// find what one reader finds in the whole: just after a whole block of the
// usual form that starts a line, where every reader has ended the block.
// Starts with 0 and ends with memory.size(); parts run from one to the next.
[[nodiscard]] std::vector<qsizetype> blockCuts(QByteArrayView memory, qsizetype partBytes);

} // namespace lumora::log
