// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/units.h"

#include "settings/conversions.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace lumora::exporter {

namespace {

bool isAsciiLetterOrDigit(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

bool isNameChar(QChar c) {
    return isAsciiLetterOrDigit(c) || c == u'_' || c == u'-' || c == u'.';
}

bool isHostChar(QChar c) {
    return isAsciiLetterOrDigit(c) || c == u'-' || c == u'_' || c == u'.';
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

// HOST:PORT, HOST without brackets; `shown` is how the host stands in a name.
struct Address {
    QString host;
    QString shown;
    QStringView portText;
};

std::optional<Address> splitAddress(QStringView text, QString& why) {
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0) {
            why = u"\"[\" without \"]\""_s;
            return std::nullopt;
        }
        const QStringView host = text.sliced(1, close - 1);
        if (host.isEmpty() || !host.contains(u':') || !allOf(host, isIpv6Char)) {
            why = quoted(text.first(close + 1)) + u" holds no IPv6 address"_s;
            return std::nullopt;
        }
        const QStringView rest = text.sliced(close + 1);
        if (!rest.startsWith(u':')) {
            why = u"no \":PORT\" after \"]\""_s;
            return std::nullopt;
        }
        return Address{host.toString(), text.first(close + 1).toString(), rest.sliced(1)};
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
    if (!allOf(host, isHostChar)) {
        why = u"host "_s + quoted(host) + u" may hold only letters, digits, \"-\", \"_\" and \".\""_s;
        return std::nullopt;
    }
    return Address{host.toString(), host.toString(), text.sliced(colon + 1)};
}

// Where a unit came from, for the reasons.
QString fileLine(const QString& fileName, qsizetype line) {
    return fileName + u':' + QString::number(line);
}

QString commandLineUnit(qsizetype index) {
    return u"command line unit "_s + QString::number(index);
}

} // namespace

std::optional<Unit> unitFromText(const QString& text, QString& why) {
    QStringView address(text);
    QString name;
    if (const qsizetype equals = text.indexOf(u'='); equals >= 0) {
        const QStringView given = QStringView(text).first(equals);
        if (given.isEmpty()) {
            why = u"no name before \"=\""_s;
            return std::nullopt;
        }
        if (!allOf(given, isNameChar)) {
            why = u"name "_s + quoted(given) + u" may hold only letters, digits, \"_\", \"-\" and \".\""_s;
            return std::nullopt;
        }
        name = given.toString();
        address = address.sliced(equals + 1);
    }
    const std::optional<Address> split = splitAddress(address, why);
    if (!split)
        return std::nullopt;
    const std::optional<std::uint16_t> port = settings::portFromText(split->portText.toString());
    if (!port) {
        why = u"port "_s + quoted(split->portText) + u" is not a whole number from 0 to 65535"_s;
        return std::nullopt;
    }
    if (name.isEmpty())
        name = split->shown + u':' + QString::number(*port);
    return Unit{name, split->host, *port};
}

QString ListenAddress::text(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + address.toString() + u']'
                                                                             : address.toString();
    return host + u':' + QString::number(port);
}

std::optional<ListenAddress> listenAddressFromText(const QString& text, QString& why) {
    const std::optional<Address> split = splitAddress(text, why);
    if (!split)
        return std::nullopt;
    QHostAddress address;
    // QHostAddress takes "1" for 0.0.0.1 and "::ffff:1.2.3.4" bare; only the
    // forms a person writes count.
    const bool bracketed = split->shown.startsWith(u'[');
    if (!address.setAddress(split->host) ||
        (address.protocol() == QAbstractSocket::IPv4Protocol && split->host.count(u'.') != 3) ||
        (address.protocol() == QAbstractSocket::IPv6Protocol) != bracketed) {
        why = quoted(split->shown) + u" is not an IPv4 address or an IPv6 address in brackets"_s;
        return std::nullopt;
    }
    static const QRegularExpression digits(u"^\\d{1,5}$"_s);
    bool ok = false;
    const uint port = split->portText.toUInt(&ok);
    if (!digits.match(split->portText).hasMatch() || !ok || port > 65535) {
        why = u"port "_s + quoted(split->portText) + u" is not a whole number from 0 to 65535"_s;
        return std::nullopt;
    }
    return ListenAddress{address, quint16(port)};
}

std::optional<QList<Unit>> unitsFromText(const QString& fileText, const QString& fileName,
                                         const QStringList& commandLine, QString& why) {
    QList<Unit> units;
    QStringList places; // beside units, for the duplicate's reason
    QHash<QString, qsizetype> byName;
    const auto add = [&](const Unit& unit, const QString& place) {
        if (const auto seen = byName.constFind(unit.name); seen != byName.cend()) {
            why = u"unit name "_s + quoted(unit.name) + u" given twice: "_s + places.at(*seen) + u" and "_s +
                  place;
            return false;
        }
        byName.insert(unit.name, units.size());
        units.append(unit);
        places.append(place);
        return true;
    };

    const QStringList lines = fileText.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QStringView line(lines.at(i));
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0)
            line = line.first(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QString place = fileLine(fileName, i + 1);
        QString reason;
        const std::optional<Unit> unit = unitFromText(line.toString(), reason);
        if (!unit) {
            why = place + u": "_s + reason;
            return std::nullopt;
        }
        if (!add(*unit, place))
            return std::nullopt;
    }
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QString place = commandLineUnit(i + 1);
        QString reason;
        const std::optional<Unit> unit = unitFromText(commandLine.at(i), reason);
        if (!unit) {
            why = place + u" ("_s + commandLine.at(i) + u"): "_s + reason;
            return std::nullopt;
        }
        if (!add(*unit, place))
            return std::nullopt;
    }
    if (units.isEmpty()) {
        why =
            u"no unit to poll: give at least one as [NAME=]HOST:PORT, on the command line or in the units file"_s;
        return std::nullopt;
    }
    return units;
}

std::optional<QList<Unit>> loadUnits(const QString& path, const QStringList& commandLine, QString& why) {
    QString text;
    if (!path.isEmpty()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            why = path + u": cannot read: "_s + file.errorString();
            return std::nullopt;
        }
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            why = path + u": cannot read: "_s + file.errorString();
            return std::nullopt;
        }
        text = QString::fromUtf8(bytes);
    }
    return unitsFromText(text, path, commandLine, why);
}

} // namespace lumora::exporter
