// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QString>
#include <QTime>

#include <array>
#include <functional>
#include <optional>

class QIODevice;

namespace lumora::cli {

// The local date a daily log file is named by ("20261207.txt"), if it is one.
[[nodiscard]] std::optional<QDate> dateOfLogFile(const QString& path);

// Finds the RECV blocks in a daily log file as the window writes them: the
// header "[hh:mm:ss.mmm] RECV : Status Request (112 Bytes)", four dump lines
// of 30, 30, 30 and 22 "XX " groups and an empty line. Anything else is
// skipped up to the next header, with one report per skipped stretch.
class LogBlockReader {
public:
    struct Block {
        qint64 line = 0; // of the header, from 1
        QTime stamp;
        QByteArray reply;
    };

    std::function<void(const Block&)> onBlock;
    std::function<void(qint64 line, const QString& why)> onSkip;

    // One line without its line end; `ended` is false for a last line that
    // stops without one.
    void addLine(QByteArrayView text, bool ended);
    // End of the input: a block still open is torn.
    void finish();

private:
    enum class State { Seeking, InBlock, Skipping };

    void begin(QTime stamp);
    void skipBlock(const QString& why);
    void complete();

    State state_ = State::Seeking;
    qint64 line_ = 0;
    qint64 headerLine_ = 0;
    QTime stamp_;
    QByteArray bytes_;
    std::array<qsizetype, 4> lineBytes_{};
    int dumpLines_ = 0;
};

// Feeds every line of the device to the reader, then finishes it. False when
// the device fails mid-way (its errorString() tells why); what was read until
// then is kept.
[[nodiscard]] bool readLogBlocks(QIODevice& device, LogBlockReader& reader);

} // namespace lumora::cli
