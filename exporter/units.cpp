// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/units.h"

#include "platform/regular_file.h"
#include "settings/host_port.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace lumora::exporter {

namespace {


bool allOf(QStringView text, bool (*accept)(QChar)) {
    return std::all_of(text.begin(), text.end(), accept);
}

QString quoted(QStringView text) {
    return u'"' + text.toString() + u'"';
}

// Not quoted: the text may be megabytes.
QString tooLong(QStringView what, qsizetype size, qsizetype most) {
    return what.toString() + u" has "_s + QString::number(size) + u" characters, more than "_s +
           QString::number(most);
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
        if (given.size() > kMaxNameLength) {
            why = tooLong(u"name", given.size(), kMaxNameLength);
            return std::nullopt;
        }
        if (!allOf(given, settings::isHostChar)) {
            why = u"name "_s + quoted(given) + u" may hold only letters, digits, \"_\", \"-\" and \".\""_s;
            return std::nullopt;
        }
        name = given.toString();
        address = address.sliced(equals + 1);
    }
    const std::optional<settings::HostPort> split = settings::hostPortFromText(address, why);
    if (!split)
        return std::nullopt;
    if (name.isEmpty())
        name = split->shown + u':' + QString::number(split->port);
    return Unit{name, split->host, split->port};
}

QString ListenAddress::text(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + address.toString() + u']'
                                                                             : address.toString();
    return host + u':' + QString::number(port);
}

std::optional<ListenAddress> listenAddressFromText(const QString& text, QString& why) {
    const std::optional<settings::HostPortText> split = settings::splitHostPort(text, why);
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

qsizetype mostUnits(int intervalMs) {
    constexpr qint64 kMsPerSecond = 1000;
    return qsizetype(std::clamp(kMostUnitsPerSecond * intervalMs / kMsPerSecond, qint64{1}, kMostUnits));
}

std::optional<QList<Unit>> unitsFromText(const QString& fileText, const QString& fileName,
                                         const QStringList& commandLine, qsizetype most, QString& why) {
    QList<Unit> units;
    QStringList places; // beside units, for the duplicate's reason
    QHash<QString, qsizetype> byName;
    const auto add = [&](const Unit& unit, const QString& place) {
        if (units.size() >= most) {
            why = place + u": more than "_s + QString::number(most) +
                  u" units, the most one exporter polls at this interval; run one exporter per station"_s;
            return false;
        }
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

    // Line by line in place: a file of blank lines would make millions of strings.
    qsizetype number = 0;
    for (QStringView line : QStringView(fileText).tokenize(u'\n')) {
        ++number;
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0)
            line = line.first(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QString place = fileLine(fileName, number);
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

std::optional<QList<Unit>> loadUnits(const QString& path, const QStringList& commandLine, qsizetype most,
                                     QString& why) {
    if (path.isEmpty())
        return unitsFromText(QString(), path, commandLine, most, why);
    QString reason;
    const std::optional<QByteArray> bytes = platform::readRegularFile(path, kMaxUnitsFileBytes, reason);
    if (!bytes) {
        why = path + u": cannot read: "_s + reason;
        return std::nullopt;
    }
    return unitsFromText(QString::fromUtf8(*bytes), path, commandLine, most, why);
}

} // namespace lumora::exporter
