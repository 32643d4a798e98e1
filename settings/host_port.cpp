// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/host_port.h"

#include "settings/conversions.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace lumora::settings {

namespace {

bool isAsciiLetterOrDigit(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}


bool isIpv6Char(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || c == u':' ||
           c == u'.';
}

bool allOf(QStringView text, bool (*accept)(QChar)) {
    return std::all_of(text.begin(), text.end(), accept);
}

QString quoted(QStringView text) {
    return u'"' + text.toString() + u'"';
}

// Not quoted: the text may be megabytes.
QString tooLong(qsizetype size) {
    return u"host has "_s + QString::number(size) + u" characters, more than "_s + QString::number(kMaxHostLength);
}

} // namespace

QString hostPortText(const QString& host, std::uint16_t port) {
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return shownHost + u':' + QString::number(port);
}

bool isHostChar(QChar c) {
    return isAsciiLetterOrDigit(c) || c == u'-' || c == u'_' || c == u'.';
}

std::optional<HostPortText> splitHostPort(QStringView text, QString& why) {
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0) {
            why = u"\"[\" without \"]\""_s;
            return std::nullopt;
        }
        const QStringView host = text.sliced(1, close - 1);
        // A link-local address names its interface after "%".
        const qsizetype percent = host.indexOf(u'%');
        const QStringView address = percent < 0 ? host : host.first(percent);
        const QStringView zone = percent < 0 ? QStringView() : host.sliced(percent + 1);
        if (host.size() > kMaxHostLength) {
            why = tooLong(host.size());
            return std::nullopt;
        }
        if (address.isEmpty() || !address.contains(u':') || !allOf(address, isIpv6Char) ||
            (percent >= 0 && (zone.isEmpty() || !allOf(zone, isHostChar)))) {
            why = quoted(text.first(close + 1)) + u" holds no IPv6 address"_s;
            return std::nullopt;
        }
        const QStringView rest = text.sliced(close + 1);
        if (!rest.startsWith(u':')) {
            why = u"no \":PORT\" after \"]\""_s;
            return std::nullopt;
        }
        return HostPortText{host.toString(), text.first(close + 1).toString(), rest.sliced(1).toString()};
    }
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0) {
        why = u"no \":PORT\" after the host"_s;
        return std::nullopt;
    }
    if (text.indexOf(u':', colon + 1) >= 0) {
        why = u"an IPv6 address goes in brackets, as [::1]:4000"_s;
        return std::nullopt;
    }
    const QStringView host = text.first(colon);
    if (host.isEmpty()) {
        why = u"no host before \":\""_s;
        return std::nullopt;
    }
    if (host.size() > kMaxHostLength) {
        why = tooLong(host.size());
        return std::nullopt;
    }
    if (!allOf(host, isHostChar)) {
        why = u"host "_s + quoted(host) + u" may hold only letters, digits, \"-\", \"_\" and \".\""_s;
        return std::nullopt;
    }
    return HostPortText{host.toString(), host.toString(), text.sliced(colon + 1).toString()};
}

std::optional<HostPort> hostPortFromText(QStringView text, QString& why) {
    std::optional<HostPortText> split = splitHostPort(text, why);
    if (!split)
        return std::nullopt;
    const std::optional<std::uint16_t> port = portFromText(split->portText);
    if (!port) {
        why = u"port "_s + quoted(split->portText) + u" is not a whole number from 0 to 65535"_s;
        return std::nullopt;
    }
    return HostPort{std::move(split->host), std::move(split->shown), *port};
}

} // namespace lumora::settings
