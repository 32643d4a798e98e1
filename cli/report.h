// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/status_reply.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

namespace lumora::cli {

// "input 03 = 5", one per value the window would refuse.
QStringList refusedValues(const protocol::DecodedReply& reply);

// The four groups, one per line:
// "inputs 00..11: ...", "counters CH01..CH12: ...", "time gaps CH01..CH12: ...",
// "outputs 01..04: ...".
QStringList statusGroups(const protocol::DecodedReply& reply);

// One JSON object; with a time, "time" comes first.
QString statusJson(const protocol::DecodedReply& reply, const QString& time = {});

// The 112 bytes as the window's dump on one line: "00 01 ... FF".
QString rawText(const protocol::DecodedReply& reply);

// A UTC date and time as "YYYY-MM-DD hh:mm:ss.mmm", as poll and decode print
// them; without a date just "hh:mm:ss.mmm".
QString dateTimeText(const QDate& date, const QTime& time);

} // namespace lumora::cli
