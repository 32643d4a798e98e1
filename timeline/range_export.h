// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"

class QIODevice;

namespace lumora::timeline {

// The replies whose moment lies in [fromMs, toMs), in store order, as data
// other tools read. False when some text did not reach the device (its
// errorString() says why).

// The columns of the command line's decode: time (UTC), DI00..DI11,
// CNT01..CNT12, GAP01..GAP12, DO01..DO04; a refused state is left empty.
[[nodiscard]] bool writeCsv(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs);

// A value change dump (see VcdWriter).
[[nodiscard]] bool writeVcd(QIODevice& out, const ReplyStore& store, qint64 fromMs, qint64 toMs);

} // namespace lumora::timeline
