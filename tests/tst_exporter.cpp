// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/units.h"
#include "platform/epoll_dispatcher.h"
#include "testsupport.h"

#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using lumora::exporter::Unit;

namespace {

// "name host port", one per unit, so a row's expectation reads as one line.
QStringList described(const QList<Unit>& units) {
    QStringList lines;
    for (const Unit& unit : units)
        lines << unit.name + u' ' + unit.host + u' ' + QString::number(unit.port);
    return lines;
}

const QString kPortRange = u" is not a whole number from 0 to 65535"_s;
const QString kNameRule = u" may hold only letters, digits, \"_\", \"-\" and \".\""_s;
const QString kHostRule = u" may hold only letters, digits, \"-\", \"_\" and \".\""_s;

} // namespace

class tst_Exporter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void unitFromText_data() {
        testsupport::columns<QString, QString, QString>("text", "unit", "why"); // unit empty: refused
        const std::tuple<QString, QString, QString> rows[] = {
            {u"127.0.0.1:4000"_s, u"127.0.0.1:4000 127.0.0.1 4000"_s, {}},
            {u"bench-3=127.0.0.1:4000"_s, u"bench-3 127.0.0.1 4000"_s, {}},
            {u"a_b.C-9=station.example:65535"_s, u"a_b.C-9 station.example 65535"_s, {}},
            {u"host:0"_s, u"host:0 host 0"_s, {}},
            // The name comes from the port as read, so one unit typed two ways is one name.
            {u"host:04000"_s, u"host:4000 host 4000"_s, {}},
            {u"host:80.5"_s, u"host:80 host 80"_s, {}},
            {u"[::1]:4000"_s, u"[::1]:4000 ::1 4000"_s, {}},
            {u"rack.2=[fe80::1:2]:1"_s, u"rack.2 fe80::1:2 1"_s, {}},
            {u"[::ffff:127.0.0.1]:80"_s, u"[::ffff:127.0.0.1]:80 ::ffff:127.0.0.1 80"_s, {}},
            {u"[fe80::1%eth0]:4000"_s, u"[fe80::1%eth0]:4000 fe80::1%eth0 4000"_s, {}},
            {u"[fe80::1%]:4000"_s, {}, u"\"[fe80::1%]\" holds no IPv6 address"_s},
            {u"[fe80::1%e/0]:4000"_s, {}, u"\"[fe80::1%e/0]\" holds no IPv6 address"_s},
            // A name and a host stand in every series: bounded, one unit cannot swell a scrape.
            {QString(64, u'n') + u"=h:1"_s, QString(64, u'n') + u" h 1"_s, {}},
            {QString(65, u'n') + u"=h:1"_s, {}, u"name has 65 characters, more than 64"_s},
            {QString(253, u'h') + u":1"_s, QString(253, u'h') + u":1 "_s + QString(253, u'h') + u" 1"_s, {}},
            {QString(254, u'h') + u":1"_s, {}, u"host has 254 characters, more than 253"_s},
            {u"[::"_s + QString(252, u'1') + u"]:1"_s, {}, u"host has 254 characters, more than 253"_s},
            {u"host:65536"_s, {}, u"port \"65536\""_s + kPortRange},
            {u"host:abc"_s, {}, u"port \"abc\""_s + kPortRange},
            {u"host:"_s, {}, u"port \"\""_s + kPortRange},
            {u"host"_s, {}, u"no \":PORT\" after the host"_s},
            {u":4000"_s, {}, u"no host before \":\""_s},
            {u"ho st:1"_s, {}, u"host \"ho st\""_s + kHostRule},
            {u"=host:1"_s, {}, u"no name before \"=\""_s},
            {u"a b=host:1"_s, {}, u"name \"a b\""_s + kNameRule},
            {u"::1:4000"_s, {}, u"an IPv6 address goes in brackets, as [::1]:4000"_s},
            {u"[::1]4000"_s, {}, u"no \":PORT\" after \"]\""_s},
            {u"[::1:4000"_s, {}, u"\"[\" without \"]\""_s},
            {u"[]:4000"_s, {}, u"\"[]\" holds no IPv6 address"_s},
            {u"[127.0.0.1]:4000"_s, {}, u"\"[127.0.0.1]\" holds no IPv6 address"_s},
            {u"[::g]:4000"_s, {}, u"\"[::g]\" holds no IPv6 address"_s},
        };
        for (const auto& [text, unit, why] : rows)
            QTest::addRow("%s", qPrintable(text)) << text << unit << why;
    }

    void unitFromText() {
        QFETCH(QString, text);
        QFETCH(QString, unit);
        QFETCH(QString, why);
        QString reason;
        const std::optional<Unit> parsed = lumora::exporter::unitFromText(text, reason);
        QCOMPARE(parsed ? described({*parsed}).constFirst() : QString(), unit);
        QCOMPARE(reason, why);
    }

    void unitsFromText_data() {
        testsupport::columns<QString, QStringList, QStringList, QString>("file", "commandLine", "units", "why");
        QTest::newRow("comments, blanks, CR LF, then the command line")
            << u"# rack 1\n\n  a=127.0.0.1:4000  # first\r\n\t[::1]:4001\n   # indented\nb=h:1#tight\n"_s
            << QStringList{u"c=h:2"_s}
            << QStringList{u"a 127.0.0.1 4000"_s, u"[::1]:4001 ::1 4001"_s, u"b h 1"_s, u"c h 2"_s} << QString();
        QTest::newRow("command line only") << QString() << QStringList{u"h:1"_s, u"[::1]:2"_s}
                                           << QStringList{u"h:1 h 1"_s, u"[::1]:2 ::1 2"_s} << QString();
        QTest::newRow("as many units as may be") << u"a=h:1\nb=h:2\nc=h:3\n"_s << QStringList{u"d=h:4"_s}
                                                 << QStringList{u"a h 1"_s, u"b h 2"_s, u"c h 3"_s, u"d h 4"_s}
                                                 << QString();
        QTest::newRow("one address under two names")
            << u"a=h:1\nb=h:1"_s << QStringList() << QStringList{u"a h 1"_s, u"b h 1"_s} << QString();
        const auto refused = [](const char* row, const QString& file, const QStringList& commandLine,
                                const QString& why) {
            QTest::newRow(row) << file << commandLine << QStringList() << why;
        };
        refused("bad line after blanks and comments", u"a=h:1\n\n# c\nb=h:99999 # old\n"_s, {},
                u"units.txt:4: port \"99999\""_s + kPortRange);
        refused("bad line among CR LF", u"a=h:1\r\n\r\nb=h:x\r\n"_s, {}, u"units.txt:3: port \"x\""_s + kPortRange);
        refused("bad unit on the command line", u"a=h:1\n"_s, {u"h:1"_s, u"h"_s},
                u"command line unit 2 (h): no \":PORT\" after the host"_s);
        refused("name twice in the file", u"a=h:1\nb=h:2\n\na=g:3\n"_s, {},
                u"unit name \"a\" given twice: units.txt:1 and units.txt:4"_s);
        refused("name in the file and on the command line", u"#\na=h:1\n"_s, {u"x=h:2"_s, u"a=g:5"_s},
                u"unit name \"a\" given twice: units.txt:2 and command line unit 2"_s);
        refused("one address typed two ways", u"h:4000\n"_s, {u"h:04000"_s},
                u"unit name \"h:4000\" given twice: units.txt:1 and command line unit 1"_s);
        refused("one unit too many", u"a=h:1\nb=h:2\n\nc=h:3\nd=h:4\ne=h:5\n"_s, {u"f=h:6"_s},
                u"units.txt:6: more than 4 units, the most one exporter polls at this interval; run one exporter "
                "per station"_s);
        refused("name twice on the command line", {}, {u"[::1]:1"_s, u"[::1]:1"_s},
                u"unit name \"[::1]:1\" given twice: command line unit 1 and command line unit 2"_s);
        const QString none =
            u"no unit to poll: give at least one as [NAME=]HOST:PORT, on the command line or in the units file"_s;
        refused("comments alone", u"# nothing yet\n\n"_s, {}, none);
        refused("nothing at all", {}, {}, none);
    }

    void unitsFromText() {
        QFETCH(QString, file);
        QFETCH(QStringList, commandLine);
        QFETCH(QStringList, units);
        QFETCH(QString, why);
        QString reason;
        // At most four units, the first row's.
        const auto parsed = lumora::exporter::unitsFromText(file, u"units.txt"_s, commandLine, 4, reason);
        QCOMPARE(parsed ? described(*parsed) : QStringList(), units);
        QCOMPARE(reason, why);
    }

    // The file's own path names it in every reason; a file that cannot be read
    // is a reason too, not an empty list. Only a regular file of bounded size
    // is read, and a FIFO without a writer is refused, not waited on.
    void loadUnits() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"units"_s);
        const auto load = [&](const QByteArray& text, const QStringList& commandLine, QString& why) {
            return testsupport::writeFile(path, text)
                       ? lumora::exporter::loadUnits(path, commandLine, 10, why)
                       : std::nullopt;
        };
        QString why;
        QVERIFY(!load("# bench\nleft=127.0.0.1:4000\n\xc3\xa9=127.0.0.1:4001\n", {}, why));
        QCOMPARE(why, path + u":3: name \"\u00e9\""_s + kNameRule);
        why.clear();
        const auto units = load("# bench\nleft=127.0.0.1:4000\n", {u"right=[::1]:4001"_s}, why);
        QCOMPARE(units ? described(*units) : QStringList(),
                 (QStringList{u"left 127.0.0.1 4000"_s, u"right ::1 4001"_s}));
        QCOMPARE(why, QString());
        QVERIFY(lumora::exporter::loadUnits(QString(), {u"h:1"_s}, 10, why));

        const QString fifo = dir.filePath(u"fifo"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // A units file of 16 MiB is read, one byte more is not.
        QFile big(dir.filePath(u"big"_s));
        QVERIFY(big.open(QIODevice::WriteOnly) &&
                big.write("h:1\n" + QByteArray(lumora::exporter::kMaxUnitsFileBytes - 4, '#')) ==
                    lumora::exporter::kMaxUnitsFileBytes &&
                big.flush());
        QVERIFY2(lumora::exporter::loadUnits(big.fileName(), {}, 10, why), qPrintable(why));
        QVERIFY(big.write("#") == 1);
        big.close();
        const std::pair<QString, QString> refusals[] = {
            {dir.filePath(u"missing"_s), u"No such file or directory"_s},
            {dir.path(), u"a directory, not a regular file"_s},
            {fifo, u"not a regular file"_s},
            {u"/dev/zero"_s, u"not a regular file"_s},
            {big.fileName(), u"larger than 16 MiB"_s},
        };
        for (const auto& [file, reason] : refusals) {
            QVERIFY(!lumora::exporter::loadUnits(file, {u"h:1"_s}, 10, why));
            QCOMPARE(why, file + u": cannot read: "_s + reason);
        }
    }

    void listenAddressFromText_data() {
        // read: the address as ListenAddress::text() gives it back; empty: refused
        testsupport::columns<QString, QString>("text", "read");
        for (const QString& text : {u"127.0.0.1:17150"_s, u"0.0.0.0:0"_s, u"[::1]:80"_s, u"[::]:17150"_s})
            QTest::addRow("%s", qPrintable(text)) << text << text;
        // Only the forms a person writes: QHostAddress alone takes "1" for 0.0.0.1.
        for (const QString& text :
             {u"1:80"_s, u"10.1:80"_s, u"10.1.2:80"_s, u"localhost:80"_s, u"[127.0.0.1]:80"_s, u"::1:80"_s,
              u"127.0.0.1:65536"_s, u"127.0.0.1:80.5"_s, u"127.0.0.1:-1"_s, u"127.0.0.1:"_s,
              u"n=127.0.0.1:80"_s})
            QTest::addRow("%s", qPrintable(text)) << text << QString();
    }

    void listenAddressFromText() {
        QFETCH(QString, text);
        QFETCH(QString, read);
        QString why;
        const auto listen = lumora::exporter::listenAddressFromText(text, why);
        QCOMPARE(listen ? lumora::exporter::ListenAddress::text(listen->address, listen->port) : QString(), read);
        QCOMPARE(why.isEmpty(), !read.isEmpty());
    }
};

LUMORA_SUITE_CLASS(tst_Exporter);
// Under the command line's event loop, as `serve` runs the exporter.
int main(int argc, char** argv) {
    lumora::platform::installCommandLineDispatcher();
    return testsupport::runIsolatedSuite<QCoreApplication>(argc, argv);
}
#include "tst_exporter.moc"
