// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/units.h"

#include "settings/conversions.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Not quoted: the text may be megabytes.
QString tooLong(QStringView what, qsizetype size, qsizetype most) {
    return what.toString() + u" has "_s + QString::number(size) + u" characters, more than "_s +
           QString::number(most);
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
        // A link-local address names its interface after "%".
        const qsizetype percent = host.indexOf(u'%');
        const QStringView address = percent < 0 ? host : host.first(percent);
        const QStringView zone = percent < 0 ? QStringView() : host.sliced(percent + 1);
        if (host.size() > kMaxHostLength) {
            why = tooLong(u"host", host.size(), kMaxHostLength);
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
    if (host.size() > kMaxHostLength) {
        why = tooLong(u"host", host.size(), kMaxHostLength);
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
        if (given.size() > kMaxNameLength) {
            why = tooLong(u"name", given.size(), kMaxNameLength);
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
    const auto cannotRead = [&](const QString& reason) {
        why = path + u": cannot read: "_s + reason;
        return std::nullopt;
    };
    const auto systemError = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    // Without O_NONBLOCK a FIFO's open() waits for a writer, and no signal
    // gets through while it does.
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return cannotRead(systemError(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } const closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return cannotRead(systemError(errno));
    if (!S_ISREG(info.st_mode))
        return cannotRead(S_ISDIR(info.st_mode) ? u"a directory, not a regular file"_s : u"not a regular file"_s);
    constexpr qint64 kMiB = qint64{1024} * 1024;
    const QString tooBig = u"larger than "_s + QString::number(kMaxUnitsFileBytes / kMiB) + u" MiB"_s;
    if (info.st_size > kMaxUnitsFileBytes)
        return cannotRead(tooBig);
    // Read to the end, or one byte over the bound for a file that grew since.
    constexpr qsizetype kChunk = qsizetype{64} * 1024;
    QByteArray bytes;
    while (bytes.size() <= kMaxUnitsFileBytes) {
        const qsizetype had = bytes.size();
        bytes.resize(had + kChunk);
        const ssize_t n = ::read(fd, bytes.data() + had, std::size_t(kChunk));
        const int error = errno;
        bytes.resize(had + std::max<qsizetype>(n, 0));
        if (n < 0 && error == EINTR)
            continue;
        if (n < 0)
            return cannotRead(systemError(error));
        if (n == 0)
            break;
    }
    if (bytes.size() > kMaxUnitsFileBytes)
        return cannotRead(tooBig);
    return unitsFromText(QString::fromUtf8(bytes), path, commandLine, most, why);
}

} // namespace lumora::exporter
