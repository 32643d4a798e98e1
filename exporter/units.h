// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/host_port.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace lumora::exporter {

// One unit the exporter polls. The name is what the unit is called in every
// series and on the status page.
struct Unit {
    QString name; // NAME if given, else "HOST:PORT" ("[::1]:4000" for IPv6)
    QString host; // without brackets
    quint16 port = 0;

    friend bool operator==(const Unit&, const Unit&) = default;
};

// A name stands in every series of every scrape and a host in every name made
// from it; bounded, one unit cannot swell a scrape. A host name has at most
// 253 characters in DNS.
inline constexpr qsizetype kMaxNameLength = 64;
inline constexpr qsizetype kMaxHostLength = settings::kMaxHostLength;

// One UNIT, [NAME=]HOST:PORT, as given on the command line or on a line of a
// units file (no blanks around it):
// - NAME: 1 to 64 letters, digits, "_", "-" or ".", so that it can stand
//   in a label, a page and a log line unquoted;
// - HOST:PORT: a unit's address as settings::hostPortFromText reads it.
// A name made from the host and port uses the port as read ("04000" gives
// ":4000"), so the same unit typed twice is one name. No unit, and `why`
// says what is wrong, for anything else.
[[nodiscard]] std::optional<Unit> unitFromText(const QString& text, QString& why);

// The units one exporter serves at most when each is polled every
// `intervalMs`: the unit rate at which, measured, poll periods and scrapes
// still hold with room to spare, and never more than a scrape stays quick with
// however slow an interval. At least one.
inline constexpr qint64 kMostUnitsPerSecond = 1500;
inline constexpr qint64 kMostUnits = 2000;
[[nodiscard]] qsizetype mostUnits(int intervalMs);

// The units of a units file's text followed by those of the command line.
// A file line holds one UNIT; "#" starts a comment to the end of the line;
// blanks around and blank lines are ignored. `fileName` names the file in the
// reasons ("FILE:LINE: why"); the command line's are "command line unit N".
// A bad UNIT, a name given twice (both places named), more than `most` units
// (the first one over named) or no unit at all gives none, with `why`.
[[nodiscard]] std::optional<QList<Unit>> unitsFromText(const QString& fileText, const QString& fileName,
                                                       const QStringList& commandLine, qsizetype most,
                                                       QString& why);

// The most a units file may hold.
inline constexpr qint64 kMaxUnitsFileBytes = qint64{16} * 1024 * 1024;

// As unitsFromText, with the text read from the file at `path` (UTF-8); an
// empty path stands for no file. Only a regular file of at most 16 MiB is
// read, and opening it never waits (a FIFO without a writer is refused, not
// waited on). A file that cannot be read gives none.
[[nodiscard]] std::optional<QList<Unit>> loadUnits(const QString& path, const QStringList& commandLine,
                                                   qsizetype most, QString& why);

// Where the exporter serves HTTP.
struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;

    // "127.0.0.1:17150", "[::1]:17150", with the port actually had.
    [[nodiscard]] static QString text(const QHostAddress& address, quint16 port);
};

// Loopback, on a port outside the range Prometheus hands out to exporters.
inline ListenAddress defaultListenAddress() {
    return {QHostAddress(QHostAddress::LocalHost), 17150};
}

// --listen ADDR:PORT: an IPv4 address, or an IPv6 one in brackets
// ("[::]:17150" for every interface); a name is not looked up. Port 0 takes
// any free one. None, with `why`, for anything else.
[[nodiscard]] std::optional<ListenAddress> listenAddressFromText(const QString& text, QString& why);

} // namespace lumora::exporter
