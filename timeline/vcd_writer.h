// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/status_reply.h"
#include "timeline/sample.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>

class QIODevice;

namespace lumora::timeline {

// A value change dump of status replies, fed one reply at a time in the
// order they came, so a file reader and a live window can share it. Time 0
// is the first reply; each later reply writes only the values that differ
// from the one before.
class VcdWriter {
public:
    explicit VcdWriter(QIODevice& out);

    void add(const QDateTime& moment, QByteArrayView reply);
    void add(qint64 msSinceEpoch, QByteArrayView reply);
    void add(const Sample& sample);

    // Writes the definitions when no reply came. False when some text did
    // not reach the device; errorString() says why.
    [[nodiscard]] bool finish();
    [[nodiscard]] QString errorString() const { return error_; }

private:
    void writeDefinitions(const QString& date);
    void write(const QByteArray& text);

    QIODevice& out_;
    QString error_;
    bool started_ = false;
    qint64 firstMs_ = 0;
    qint64 lastMs_ = 0;
    qint64 lastTime_ = 0; // µs since the first reply, as last written
    Sample last_;
    // A gap as written: values that round alike write nothing new.
    std::array<QByteArray, kChannelCount> gapTexts_;
};

} // namespace lumora::timeline
