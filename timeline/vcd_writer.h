// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/status_reply.h"
#include "timeline/lanes.h"
#include "timeline/sample.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

class QIODevice;

namespace lumora::timeline {

// A value change dump of status replies, fed one reply at a time in the
// order they came, so a file reader and a live window can share it. Time 0
// is the first reply; each later reply writes only the values that differ
// from the one before. The text is handed to the device in large pieces:
// flush() hands over what is held. Lanes left out of `lanes` have no variable
// and no values; the others keep the identifiers they have with every lane.
class VcdWriter {
public:
    explicit VcdWriter(QIODevice& out, LaneSet lanes = kEveryLane);

    void add(const QDateTime& moment, QByteArrayView reply);
    void add(qint64 msSinceEpoch, QByteArrayView reply);
    void add(const Sample& sample);

    // False when some text did not reach the device; errorString() says why.
    [[nodiscard]] bool flush();
    // Writes the definitions when no reply came, and flushes.
    [[nodiscard]] bool finish();
    [[nodiscard]] QString errorString() const { return error_; }

private:
    // Room for `bytes` more at the end of the text held; where to write them.
    char* room(qsizetype bytes);
    void append(QByteArrayView text);
    void writeDefinitions(const QString& date);

    [[nodiscard]] bool has(int lane) const { return (lanes_ >> lane & 1U) != 0; }

    QIODevice& out_;
    LaneSet lanes_;
    QString error_;
    std::vector<char> held_;
    qsizetype used_ = 0;
    bool started_ = false;
    qint64 firstMs_ = 0;
    qint64 lastMs_ = 0;
    qint64 lastTime_ = 0; // µs since the first reply, as last written
    Sample last_;
    // A gap as written, in the hundredths it shows: values that round alike
    // write nothing new.
    std::array<std::uint64_t, kChannelCount> gapsShown_{};
};

} // namespace lumora::timeline
