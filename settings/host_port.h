// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace lumora::settings {

// A host name has at most 253 characters in DNS.
inline constexpr qsizetype kMaxHostLength = 253;

// A letter or digit of ASCII, "-", "_" or ".": what a host name holds, and
// what a unit's name may hold too.
[[nodiscard]] bool isHostChar(QChar c);

// HOST:PORT split, the port not yet read.
struct HostPortText {
    QString host;  // without brackets
    QString shown; // as it stands in a name: "[::1]" for IPv6
    QString portText;
};

// HOST is up to 253 characters: an IPv6 address in brackets ("[::1]:4000",
// hex digits, ":" and "."), with a zone after "%" for a link-local one
// ("[fe80::1%eth0]:4000"), else a host name or IPv4 address (letters,
// digits, "-", "_", "."). None, with `why`, for anything else.
[[nodiscard]] std::optional<HostPortText> splitHostPort(QStringView text, QString& why);

struct HostPort {
    QString host;
    QString shown;
    std::uint16_t port = 0;
};

// "127.0.0.1:4000", "[::1]:4000": a unit's address as every message and
// report names it.
[[nodiscard]] QString hostPortText(const QString& host, std::uint16_t port);

// A unit's address: splitHostPort, then the window's port rule
// (portFromText, so "80.5" is 80).
[[nodiscard]] std::optional<HostPort> hostPortFromText(QStringView text, QString& why);

} // namespace lumora::settings
