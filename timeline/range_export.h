// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/lanes.h"
#include "timeline/reply_store.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

class QIODevice;

namespace lumora::timeline {

// The CSV of replies, as the command line's decode and poll write it and
// the range export: time (UTC), DI00..DI11, CNT01..CNT12, GAP01..GAP12,
// DO01..DO04; a refused state is left empty. Lanes left out of `lanes` are
// left out of the header and the rows, the others keep their order.
[[nodiscard]] QString csvHeader(LaneSet lanes = kEveryLane);
// The row of one reply with its time as given (the sample's own ms is not
// used: callers write the time the way they have it).
[[nodiscard]] QString csvRow(QStringView time, const Sample& sample);
// The same row and its line end, appended to `out`: for writing many.
void appendCsvRow(QByteArray& out, QByteArrayView time, const Sample& sample, LaneSet lanes = kEveryLane);

// The replies whose moment lies in [fromMs, toMs), in store order, as data
// other tools read, with the lanes of `lanes` only. False when some text did
// not reach the device (its errorString() says why).

// The CSV above, with the time as "YYYY-MM-DD hh:mm:ss.mmm".
[[nodiscard]] bool writeCsv(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs,
                            LaneSet lanes = kEveryLane);

// A value change dump (see VcdWriter).
[[nodiscard]] bool writeVcd(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs,
                            LaneSet lanes = kEveryLane);

} // namespace lumora::timeline
