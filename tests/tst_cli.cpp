// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line program's rules called directly, and the program against the emulator, loopback peers,
// network namespaces and daily logs of the test's own.

#include "cli/arguments.h"
#include "cli/poller.h"
#include "loopbackpeer.h"
#include "netns.h"
#include "settingsfile.h"
#include "unitemulator.h"
#include "windowfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QtEndian>

#include <csignal>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using testsupport::columns;
using testsupport::Harness;
using testsupport::LoopbackPeer;
using testsupport::UnitEmulator;

namespace {

constexpr int kReplySize = 112;
constexpr int kRunMs = 20000;

constexpr char kCsvHeader[] = "time,DI00,DI01,DI02,DI03,DI04,DI05,DI06,DI07,DI08,DI09,DI10,DI11,"
                              "CNT01,CNT02,CNT03,CNT04,CNT05,CNT06,CNT07,CNT08,CNT09,CNT10,CNT11,CNT12,"
                              "GAP01,GAP02,GAP03,GAP04,GAP05,GAP06,GAP07,GAP08,GAP09,GAP10,GAP11,GAP12,"
                              "DO01,DO02,DO03,DO04";

struct Outcome {
    int exitCode = -1;
    QStringList out;
    QString err;
    qint64 ms = 0;
};

// Runs a program, the command-line one unless told, while this thread's event loop serves the peers.
Outcome runProgram(const QStringList& args, const QByteArray& input = {},
                   const std::function<void(QProcess&, const QByteArray& out)>& meanwhile = {},
                   const QString& program = QStringLiteral(LUMORA_CLI_PATH)) {
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    if (!process.waitForStarted())
        return {};
    process.write(input);
    process.closeWriteChannel();
    QByteArray out;
    QObject::connect(&process, &QProcess::readyReadStandardOutput,
                     [&] { out += process.readAllStandardOutput(); });
    if (meanwhile)
        meanwhile(process, out);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kRunMs)) {
        // Ended here, while "out" still exists for its output handler.
        process.kill();
        process.waitForFinished();
        return {};
    }
    out += process.readAllStandardOutput();
    QStringList lines = QString::fromUtf8(out).split(u'\n');
    if (lines.constLast().isEmpty())
        lines.removeLast();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, lines,
            QString::fromLocal8Bit(process.readAllStandardError()), clock.elapsed()};
}

QStringList onLoopback(quint16 port, const QString& args) {
    return QStringList{u"--address"_s, u"127.0.0.1"_s, u"--port"_s, QString::number(port)} + args.split(u' ');
}

// 112 zero bytes with the given hex bytes placed at their offsets.
QByteArray reply(std::initializer_list<std::pair<int, const char*>> fields) {
    QByteArray bytes(kReplySize, '\0');
    for (const auto& [offset, hex] : fields)
        bytes.replace(offset, QByteArray::fromHex(hex).size(), QByteArray::fromHex(hex));
    return bytes;
}

// A JSON status object as the four text lines of status would show it, and the bytes of its "raw"; none when
// a field has the wrong type or "raw" is not 112 bytes as upper-case pairs with single blanks.
struct JsonReply {
    QStringList lines;
    QByteArray raw;
};
std::optional<JsonReply> readJson(const QString& line) {
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
    const QString hex = o.value(u"raw"_s).toString();
    JsonReply read{{}, QByteArray::fromHex(hex.toLatin1())};
    if (read.raw.size() != kReplySize || hex != QString::fromLatin1(read.raw.toHex(' ').toUpper()))
        return std::nullopt;
    const std::array<std::pair<const char*, const char*>, 4> groups{{{"inputs", "inputs 00..11:"},
                                                                     {"counters", "counters CH01..CH12:"},
                                                                     {"timeGaps", "time gaps CH01..CH12:"},
                                                                     {"outputs", "outputs 01..04:"}}};
    for (const auto& [key, label] : groups) {
        QStringList shown{QLatin1String(label)};
        for (const QJsonValue v : o.value(QLatin1String(key)).toArray()) {
            // Time gaps are text as shown; everything else a number, or null where refused.
            if (qstrcmp(key, "timeGaps") == 0 ? !v.isString() : !v.isNull() && !v.isDouble())
                return std::nullopt;
            shown << (v.isNull() ? u"?"_s : v.isString() ? v.toString() : QString::number(v.toInteger()));
        }
        read.lines << shown.join(u' ');
    }
    return read;
}

// The four text lines for a reply of the emulator's, read here from the unit's reply layout rather than by
// the client's decoder, so that a decoding fault cannot hide in the expectation: states at 0 and 108 (the
// emulator's are 0 and 1, which the window shows as they are), counters at 12 and time gaps in milliseconds
// at 60, four bytes each with the lowest first, a gap shown in seconds rounded half up.
QStringList emulatorLines(const QByteArray& raw) {
    const auto field = [&](int offset) {
        return quint64(qFromLittleEndian<quint32>(raw.constData() + offset));
    };
    QStringList inputs{u"inputs 00..11:"_s};
    QStringList counters{u"counters CH01..CH12:"_s};
    QStringList gaps{u"time gaps CH01..CH12:"_s};
    QStringList outputs{u"outputs 01..04:"_s};
    for (int k = 0; k < 12; ++k) {
        inputs << QString::number(quint8(raw.at(k)));
        counters << QString::number(field(12 + 4 * k));
        const quint64 hundredths = (field(60 + 4 * k) + 5) / 10;
        gaps << u"%1.%2"_s.arg(hundredths / 100).arg(hundredths % 100, 2, 10, QLatin1Char('0'));
    }
    for (int k = 0; k < 4; ++k)
        outputs << QString::number(quint8(raw.at(108 + k)));
    return {inputs.join(u' '), counters.join(u' '), gaps.join(u' '), outputs.join(u' ')};
}

// status's four text lines as the fields of a CSV row, where a refused value is empty.
QString csvFields(const QStringList& lines) {
    QStringList fields;
    for (const QString& line : lines)
        fields << line.section(u": "_s, 1).split(u' ');
    return fields.join(u',').replace(u'?', QString());
}

// An invocation in words, for comparing with what a line should ask for.
QString describe(const lumora::cli::Invocation& inv) {
    using lumora::cli::Format;
    QStringList words{lumora::cli::commandName(inv.command)};
    words << u"address"_s << inv.address.value_or(u"-"_s) << u"port"_s << inv.portText.value_or(u"-"_s)
          << u"timeout"_s << QString::number(inv.timeoutMs);
    words << (inv.format == Format::Json ? u"json"_s : inv.format == Format::Csv ? u"csv"_s : u"text"_s);
    if (inv.command == lumora::cli::Command::Poll || inv.command == lumora::cli::Command::Serve)
        words << u"interval"_s << QString::number(inv.intervalMs);
    if (inv.listen)
        words << u"listen"_s << lumora::exporter::ListenAddress::text(inv.listen->address, inv.listen->port);
    if (!inv.unitsFile.isEmpty())
        words << u"units-file"_s << inv.unitsFile;
    if (!inv.gateway.webConfig.isEmpty())
        words << u"web-config"_s << inv.gateway.webConfig;
    if (!inv.units.isEmpty())
        words << u"units"_s << inv.units;
    if (inv.count)
        words << u"count"_s << QString::number(*inv.count);
    if (inv.durationMs)
        words << u"duration"_s << QString::number(*inv.durationMs);
    if (inv.command == lumora::cli::Command::Outputs) {
        words << u"outputs"_s;
        for (const int state : inv.outputs)
            words << QString::number(state);
    }
    if (!inv.files.isEmpty())
        words << u"files"_s << inv.files;
    return words.join(u' ');
}

// Acts on request n 30 ms after it as script[n] says: that many bytes, "refused" (a reply with input 03 = 5),
// "silent", "cut" (50 bytes, then close), "gone" (a refused reply, then close and stop listening) or
// "silent-gone"; past the script, 112 bytes. Counts requests sent while an answer was due.
struct ScriptedUnit : LoopbackPeer {
    QStringList script;
    QList<qint64> requestAt;
    int overlapping = 0;
    bool answerDue = false;
    QElapsedTimer clock;
    ScriptedUnit() {
        clock.start();
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* link = links.constLast();
            connect(link, &QTcpSocket::readyRead, this, [this, link] {
                while (requestAt.size() < received.count('R'))
                    take(link, script.value(requestAt.size(), u"112"_s));
            });
        });
    }
    void take(QTcpSocket* link, const QString& action) {
        requestAt.append(clock.elapsed());
        overlapping += answerDue ? 1 : 0;
        answerDue = !action.startsWith(u"silent");
        QTimer::singleShot(answerDue ? 30 : 0, link, [this, link, action] {
            answerDue = false;
            if (action == u"refused" || action == u"gone")
                link->write(reply({{3, "05"}}));
            else
                link->write(QByteArray(action == u"cut" ? 50 : action.toInt(), '\x01'));
            if (action == u"cut" || action.endsWith(u"gone"))
                link->disconnectFromHost();
            if (action.endsWith(u"gone"))
                server.close();
        });
    }
};

} // namespace

class tst_Cli : public QObject {
    Q_OBJECT

    QByteArray windowLog_;
    QList<QByteArray> loggedReplies_;
    QStringList loggedTimes_;
    QList<QStringList> loggedShown_; // as status would print each logged reply
    // Their UTC moments: 20261207.txt in the pinned zone (UTC+13:45) spans 2026-12-06 10:15 to 2026-12-07
    // 10:15 UTC.
    const QStringList loggedMoments_{u"2026-12-07 09:05:03.007"_s, u"2026-12-06 23:59:59.999"_s,
                                     u"2026-12-07 00:00:00.000"_s};

private Q_SLOTS:
    void initTestCase() {
        // A run that forgot --address finds loopback, never the default unit.
        QVERIFY(testsupport::writeSettingsFile("[Simulator_6180]\nADDRESS=127.0.0.1\nPORT=1\n"));
        // The daily log as the window writes it at "List + File".
        Harness h;
        LoopbackPeer peer;
        h.clock.local = QDate(2026, 12, 7);
        QVERIFY(h.startConnected(peer));
        h.click("optLog", 1);
        loggedReplies_ = {reply({{0, "01"}, {12, "07"}, {60, "D204"}, {108, "01"}}),
                          reply({{1, "02"}, {16, "FFFFFFFF"}, {64, "ED03"}}),
                          reply({{3, "05"}, {59, "01"}, {109, "10"}})};
        loggedTimes_ = {u"09:05:03.007"_s, u"23:59:59.999"_s, u"00:00:00.000"_s};
        // Worked out by hand from the bytes above.
        const QString noGaps = u"time gaps CH01..CH12:"_s + u" 0.00"_s.repeated(12);
        loggedShown_ = {
            {u"inputs 00..11: 1 0 0 0 0 0 0 0 0 0 0 0"_s, u"counters CH01..CH12: 7 0 0 0 0 0 0 0 0 0 0 0"_s,
             u"time gaps CH01..CH12: 1.23"_s + u" 0.00"_s.repeated(11), u"outputs 01..04: 1 0 0 0"_s},
            {u"inputs 00..11: 0 2 0 0 0 0 0 0 0 0 0 0"_s,
             u"counters CH01..CH12: 0 4294967295 0 0 0 0 0 0 0 0 0 0"_s,
             u"time gaps CH01..CH12: 0.00 1.01"_s + u" 0.00"_s.repeated(10), u"outputs 01..04: 0 0 0 0"_s},
            {u"inputs 00..11: 0 0 0 ? 0 0 0 0 0 0 0 0"_s,
             u"counters CH01..CH12: 0 0 0 0 0 0 0 0 0 0 0 16777216"_s, noGaps, u"outputs 01..04: 0 ? 0 0"_s}};
        for (qsizetype i = 0; i < loggedReplies_.size(); ++i) {
            h.clock.utc.setTime(QTime::fromString(loggedTimes_.at(i), u"hh:mm:ss.zzz"_s));
            const qsizetype before = h.lines().size();
            QVERIFY(peer.send(loggedReplies_.at(i)));
            QVERIFY(QTest::qWaitFor([&] { return h.lines().size() >= before + 6; }, Harness::kWaitMs));
        }
        windowLog_ = testsupport::readFile(h.programDir.filePath(u"Log/20261207.txt"_s));
        QCOMPARE(windowLog_.count("\r\n"), 18);
    }

    void usageErrors_data() {
        columns<QString, QString>("args", "error");
        QTest::newRow("no command") << u"--json"_s << u"missing command"_s;
        QTest::newRow("unknown command") << u"stat"_s << u"unknown command \"stat\""_s;
        QTest::newRow("unknown option") << u"status --verbose"_s << u"unknown option --verbose"_s;
        QTest::newRow("missing value") << u"status --port"_s << u"option --port needs a value"_s;
        QTest::newRow("port too large") << u"--port 65536 status"_s << u"invalid port \"65536\""_s;
        QTest::newRow("timeout 0") << u"--timeout 0 status"_s << u"invalid --timeout \"0\""_s;
        QTest::newRow("timeout negative") << u"--timeout=-1 status"_s << u"invalid --timeout \"-1\""_s;
        QTest::newRow("negative count") << u"poll --interval 1 --count -3"_s << u"invalid --count \"-3\""_s;
        QTest::newRow("count before command")
            << u"--count 3 ping"_s << u"option --count belongs to poll and ping"_s;
        QTest::newRow("poll without interval") << u"poll --count 3"_s << u"poll needs --interval"_s;
        QTest::newRow("interval rounds to 0 ms") << u"poll --interval 0.0004"_s << u"invalid --interval"_s;
        QTest::newRow("csv for status") << u"status --csv"_s << u"option --csv belongs to poll"_s;
        QTest::newRow("csv and json") << u"--json poll --interval 1 --csv"_s << u"--json and --csv exclude"_s;
        QTest::newRow("outputs three values") << u"outputs 1 0 0"_s << u"outputs needs four values"_s;
        QTest::newRow("outputs five values") << u"outputs 1 0 0 1 0"_s << u"outputs needs four values"_s;
        QTest::newRow("outputs value 2") << u"outputs 1 0 2 1"_s << u"invalid output 3 value \"2\""_s;
        QTest::newRow("outputs value -1") << u"outputs -1 0 0 0"_s << u"unknown option -1"_s;
        QTest::newRow("reset with argument") << u"reset now"_s << u"unexpected argument \"now\""_s;
        QTest::newRow("decode without file") << u"decode"_s << u"decode needs at least one file"_s;
        QTest::newRow("vcd and json") << u"--json decode --vcd x"_s << u"--vcd and --json exclude"_s;
        QTest::newRow("vcd for poll") << u"poll --interval 1 --vcd"_s << u"option --vcd belongs to decode"_s;
        // The same rules for "--name=value", and for the words around it.
        QTest::newRow("=: address empty") << u"--address= status"_s << u"option --address needs a host"_s;
        QTest::newRow("=: duration 0")
            << u"poll --interval=1 --duration=0"_s << u"invalid --duration \"0\""_s;
        QTest::newRow("=: interval for ping")
            << u"ping --interval=1"_s << u"option --interval belongs to poll"_s;
        QTest::newRow("=: value for a switch") << u"status --json=yes"_s << u"option --json takes no value"_s;
        QTest::newRow("=: unknown option") << u"status --verbose=3"_s << u"unknown option --verbose"_s;
        QTest::newRow("single-dash word") << u"ping -count 3"_s << u"unknown option -count"_s;
        QTest::newRow("single-dash word with h") << u"status -help"_s << u"unknown option -help"_s;
        QTest::newRow("-h run together") << u"status -hx"_s << u"unknown option -hx"_s;
        QTest::newRow("every value passes, not only the last")
            << u"--port abc --port 4000 status"_s << u"invalid port \"abc\""_s;
        QTest::newRow("-- before the command ends the options")
            << u"-- status --json"_s << u"unexpected argument \"--json\""_s;
        QTest::newRow("-- after the command") << u"status -- --help"_s << u"unexpected argument \"--help\""_s;
        QTest::newRow("serve: listen name") << u"serve --listen localhost:80 a:1"_s
                                            << u"invalid --listen \"localhost:80\": \"localhost\" is not"_s;
        QTest::newRow("serve: listen port") << u"serve --listen 127.0.0.1:65536 a:1"_s
                                            << u"invalid --listen \"127.0.0.1:65536\": port"_s;
        QTest::newRow("serve: listen before") << u"--listen 127.0.0.1:1 serve"_s
                                              << u"option --listen belongs to serve"_s;
        QTest::newRow("serve: --address") << u"serve --address h a:1"_s << u"serve takes units as"_s;
        QTest::newRow("serve: --port") << u"serve --port 1 a:1"_s << u"serve takes units as"_s;
        QTest::newRow("serve: --json") << u"--json serve a:1"_s << u"serve answers in Prometheus"_s;
        QTest::newRow("serve: units file for poll")
            << u"poll --interval 1 --units-file u"_s << u"option --units-file belongs to serve"_s;
        QTest::newRow("run: no plan") << u"run --tap"_s << u"run needs a plan file"_s;
        QTest::newRow("run: two plans") << u"run a.yaml b.yaml"_s << u"unexpected argument \"b.yaml\""_s;
        QTest::newRow("run: --junit for status") << u"status --junit r.xml"_s << u"option --junit belongs to run"_s;
    }
    void usageErrors() {
        QFETCH(QString, args);
        QFETCH(QString, error);
        const lumora::cli::ParsedArguments parsed = lumora::cli::parseArguments(args.split(u' '));
        QCOMPARE(parsed.outcome, lumora::cli::ParsedArguments::Outcome::UsageError);
        QVERIFY2(parsed.error.startsWith(error), qPrintable(parsed.error));
    }

    // What a line asks for, in "--name value" and "--name=value" alike.
    void readsTheLine_data() {
        // read: "help", "version", or the invocation as describe() writes it
        columns<QString, QString>("args", "read");
        const QString status = u"status address 10.0.0.7 port 4001 timeout 500 text"_s;
        QTest::newRow("before the command")
            << u"--address 10.0.0.7 --port 4001 --timeout 0.5 status"_s << status;
        QTest::newRow("before, with =") << u"--address=10.0.0.7 --port=4001 --timeout=0.5 status"_s << status;
        QTest::newRow("after the command, mixed")
            << u"status --address=10.0.0.7 --port 4001 --timeout=.5"_s << status;
        QTest::newRow("nothing given") << u"reset"_s << u"reset address - port - timeout 3000 text"_s;
        QTest::newRow("highest port")
            << u"--port 65535 reset"_s << u"reset address - port 65535 timeout 3000 text"_s;
        QTest::newRow("the last value counts")
            << u"--port 1 reset --port=2.5"_s << u"reset address - port 2.5 timeout 3000 text"_s;
        QTest::newRow("poll, =")
            << u"--json poll --interval=0.0015 --count=10 --duration=60"_s
            << u"poll address - port - timeout 3000 json interval 2 count 10 duration 60000"_s;
        QTest::newRow("poll, spaces")
            << u"poll --csv --interval 86400 --duration 0.0001"_s
            << u"poll address - port - timeout 3000 csv interval 86400000 duration 1"_s;
        QTest::newRow("ping") << u"ping --count 2"_s << u"ping address - port - timeout 3000 text count 2"_s;
        QTest::newRow("outputs") << u"outputs 0 1 1 0"_s
                                 << u"outputs address - port - timeout 3000 text outputs 0 1 1 0"_s;
        QTest::newRow("decode, - and --")
            << u"decode - -- --json"_s << u"decode address - port - timeout 3000 text files - --json"_s;
        // "--" as an option's value is taken as given, and ends no options.
        QTest::newRow("-- as a value")
            << u"--address -- status --json"_s << u"status address -- port - timeout 3000 json"_s;
        QTest::newRow("help after -- as a value") << u"--address -- -h"_s << u"help"_s;
        QTest::newRow("help after the command") << u"status --verbose --help"_s << u"help"_s;
        QTest::newRow("-h before a fault") << u"-h --port=x"_s << u"help"_s;
        QTest::newRow("version") << u"outputs 9 --version"_s << u"version"_s;
        QTest::newRow("Qt's --help-all and -v") << u"-v status --help-all"_s << u"help"_s;
        QTest::newRow("serve, defaults") << u"serve a=h:1 [::1]:2"_s
                                         << u"serve address - port - timeout 3000 text interval 1000 units a=h:1 [::1]:2"_s;
        QTest::newRow("serve, all options")
            << u"--timeout 2 serve --listen=[::]:0 --interval 0.5 --units-file u --web-config w"_s
            << u"serve address - port - timeout 2000 text interval 500 listen [::]:0 units-file u web-config w"_s;
    }
    void readsTheLine() {
        QFETCH(QString, args);
        QFETCH(QString, read);
        using Outcome = lumora::cli::ParsedArguments::Outcome;
        const lumora::cli::ParsedArguments parsed = lumora::cli::parseArguments(args.split(u' '));
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        QCOMPARE(parsed.outcome, read == u"help"      ? Outcome::Help
                                 : read == u"version" ? Outcome::Version
                                                      : Outcome::Run);
        if (parsed.outcome == Outcome::Run)
            QCOMPARE(describe(parsed.invocation), read);
    }

    // Each value rule, apart from the parser, where the parser's cases leave it open: -1 where refused.
    void valueRules_data() {
        columns<QString, QString, qint64>("rule", "text", "value");
        const auto row = [](const char* rule, const QString& text, qint64 value) {
            QTest::addRow("%s \"%s\"", rule, qPrintable(text)) << QString::fromLatin1(rule) << text << value;
        };
        row("seconds", u"3"_s, 3000);
        row("seconds", u"86400"_s, 86'400'000);
        row("seconds", u"86400.001"_s, -1);
        row("seconds", u"1e3"_s, -1);
        row("seconds", u" 1"_s, -1);
        row("interval", u"0.0005"_s, -1); // half to even: 0 ms
        row("interval", u"86400.5"_s, -1);
        row("interval", u"1s"_s, -1);
        row("count", u"1"_s, 1);
        row("count", u"9223372036854775807"_s, 9'223'372'036'854'775'807);
        row("count", u"9223372036854775808"_s, -1);
        row("count", u"0"_s, -1);
        row("count", u"+3"_s, -1);
        row("count", QString(), -1);
        row("output", u"01"_s, -1);
    }
    void valueRules() {
        QFETCH(QString, rule);
        QFETCH(QString, text);
        using namespace lumora::cli;
        const std::optional<qint64> got = rule == u"seconds"    ? std::optional<qint64>(secondsAsMs(text))
                                          : rule == u"interval" ? std::optional<qint64>(intervalAsMs(text))
                                          : rule == u"count"    ? countFromText(text)
                                                                : std::optional<qint64>(outputFromText(text));
        QTEST(got.value_or(-1), "value");
    }

    void againstLoopbackPeer_data() {
        // wire: hex the peer got, "-" no connection; error: a pattern, %1 the peer's address and port;
        // peer: "gone", "junk", "flood", or "close"/"split" the answer, which comes 20 ms after connecting
        columns<QString, QByteArray, int, QString, QString, QByteArray, QStringList>(
            "args", "wire", "exitStatus", "error", "peer", "answer", "out");
        const auto row = [](const char* name, const QString& args, const char* wire, int exitStatus,
                            const QString& error = {}, const QString& peer = {},
                            const QByteArray& answer = {}, const QStringList& out = {}) {
            QTest::newRow(name) << args << QByteArray(wire) << exitStatus << error << peer << answer << out;
        };
        row("outputs 1 0 0 1", u"outputs 1 0 0 1"_s, "5401000001", 0);
        row("reset", u"reset"_s, "4341", 0);
        row("usage error sends nothing", u"outputs 1 0 2 1"_s, "-", 1,
            u"invalid output 3 value \"2\": expected 0 or 1 \\(see --help\\)"_s);
        row("status, unanswered", u"--timeout 0.2 status"_s, "52", 3,
            u"status: no reply from %1 within 0.2 s"_s);
        const QString timeout = u"--timeout 1 status"_s;
        row("nobody listens", timeout, "-", 2, u"status: cannot connect to %1: Connection refused"_s,
            u"gone"_s);
        row("junk, then close", timeout, "", 3,
            u"status: reply of 50 bytes from %1 within 1 s, expected 112"_s, u"junk"_s);
        row("closes at once", timeout, "", 3, u"status: no reply from %1: it closed the connection"_s,
            u"close"_s);
        row("floods", timeout, "", 3, u"status: reply of \\d+ bytes from %1 within 1 s, expected 112"_s,
            u"flood"_s);

        const QString gaps = u"time gaps CH01..CH12: 1.23 1.01"_s + u" 0.00"_s.repeated(10);
        const QByteArray good = reply({{0, "0001021AFF"},
                                       {12, "0100000000000001FFFFFFFF"},
                                       {60, "D2040000ED030000"},
                                       {108, "01000200"}});
        const QByteArray refused = reply({{3, "05"}, {60, "D204"}, {64, "ED03"}, {109, "10"}});
        const QStringList goodShown{u"inputs 00..11: 0 1 2 1 0 0 0 0 0 0 0 0"_s,
                                    u"counters CH01..CH12: 1 16777216 4294967295 0 0 0 0 0 0 0 0 0"_s, gaps,
                                    u"outputs 01..04: 1 0 2 0"_s};
        const QStringList refusedShown{u"inputs 00..11: 0 0 0 ? 0 0 0 0 0 0 0 0"_s,
                                       u"counters CH01..CH12: 0 0 0 0 0 0 0 0 0 0 0 0"_s, gaps,
                                       u"outputs 01..04: 0 ? 0 0"_s};
        row("inputs 00 01 02 1A FF, edge counters, gaps, outputs 01 00 02 00", u"status"_s, "52", 0, {}, {},
            good, goodShown);
        const QString refusal =
            u"status: reply from %1 holds values the window refuses: input 03 = 5, output 02 = 10"_s;
        row("input 05 and output 10 refused", u"status"_s, "52", 4, refusal, {}, refused, refusedShown);
        row("as JSON, reply in two parts", u"--json status"_s, "52", 0, {}, u"split"_s, good, goodShown);
        row("as JSON, reply, then close", u"--json status"_s, "52", 0, {}, u"close"_s, good, goodShown);
        row("refused, as JSON", u"--json status"_s, "52", 4, refusal, {}, refused, refusedShown);
    }
    void againstLoopbackPeer() {
        QFETCH(QString, args);
        QFETCH(QByteArray, wire);
        QFETCH(QString, error);
        QFETCH(QString, peer);
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, out);
        LoopbackPeer unit;
        QVERIFY(unit.listen());
        const quint16 port = unit.port();
        if (peer == u"gone")
            unit.server.close();
        connect(&unit.server, &QTcpServer::newConnection, &unit, [&] {
            QTcpSocket* link = unit.links.constLast();
            if (peer == u"junk")
                link->write(QByteArray(50, 'x'));
            else if (peer == u"flood")
                link->write(QByteArray(1 << 20, '\x55'));
            QTimer::singleShot(answer.isEmpty() ? 0 : 20, link, [&, link] {
                const qsizetype cut = peer == u"split" ? 50 : answer.size();
                link->write(answer.left(cut));
                if (cut < answer.size())
                    QTimer::singleShot(100, link, [&, link, cut] { link->write(answer.mid(cut)); });
                if (peer == u"junk" || peer == u"close")
                    link->disconnectFromHost();
            });
        });
        const Outcome run = runProgram(onLoopback(port, args));
        QTEST(run.exitCode, "exitStatus");
        if (args.startsWith(u"--json")) {
            QCOMPARE(run.out.size(), 1);
            const std::optional<JsonReply> json = readJson(run.out.constFirst());
            QVERIFY2(json && json->raw == answer, qPrintable(run.out.constFirst()));
            QCOMPARE(json->lines, out);
        } else {
            QCOMPARE(run.out, out);
        }
        const QString at = u"127.0.0.1:"_s + QString::number(port);
        const QRegularExpression expected(u"^lumora-7150r-cli: "_s + QString(error).replace(u"%1"_s, at) +
                                          u"\n$"_s);
        QVERIFY2(error.isEmpty() ? run.err.isEmpty() : expected.match(run.err).hasMatch(),
                 qPrintable(run.err));
        QVERIFY2(run.ms < 1000 + 2000, qPrintable(QString::number(run.ms)));
        if (wire == "-") {
            QTest::qWait(100);
            QVERIFY(unit.links.isEmpty());
        } else if (!wire.isEmpty()) {
            QVERIFY(QTest::qWaitFor([&] { return unit.received.size() >= wire.size() / 2; }, kRunMs));
            QTest::qWait(50);
            QCOMPARE(unit.received.toHex(), wire);
            QCOMPARE(unit.links.size(), 1);
        }
    }

    void inNetworkOfItsOwn_data() {
        // $CLI and $UNIT name the programs; said: a pattern over standard output, then standard error
        columns<QString, int, QString, int, int>("script", "exitStatus", "said", "minMs", "maxMs");
        const auto row = [](const char* name, const QString& script, int exitStatus, const QString& said,
                            int minMs = 0, int maxMs = 8000) {
            QTest::newRow(name) << script << exitStatus << said << minMs << maxMs;
        };
        // The emulator in the namespace on the stored address and port.
        const QString serve =
            u"$UNIT --listen 127.0.0.1:4001 --quiet > unit.out & u=$!; trap 'kill $u' EXIT; "
            "while ! grep -q listening unit.out; do sleep 0.05; done; "_s;
        const auto stored = [](const char* ini) {
            return u"mkdir -p cfg; printf '%1' > cfg/LM7100R_SIMUL.ini; XDG_CONFIG_HOME=$PWD/cfg "_s.arg(
                QLatin1String(ini));
        };
        const QString address = stored("[Simulator_6180]\\nADDRESS=127.0.0.1\\nPORT=4001\\n");
        row("stored address and port", serve + address + u"$CLI --timeout 1 status"_s, 0,
            u"^inputs 00..11:"_s);
        row("stored port, given address", serve + address + u"$CLI --address 127.0.0.2 --timeout 1 reset"_s,
            2, u"reset: cannot connect to 127.0.0.2:4001: Connection refused"_s);
        row("nothing stored: 192.1.1.110:4000", u"XDG_CONFIG_HOME=$PWD/empty $CLI --timeout 1 status"_s, 2,
            u"status: cannot connect to 192.1.1.110:4000: Network unreachable"_s);
        row("stored port not a port", stored("[Simulator_6180]\\nPORT=abc\\n") + u"$CLI status"_s, 1,
            u"the stored port \"abc\" is not a port from 0 to 65535; give --port N"_s);
        row("stored address empty", stored("[Simulator_6180]\\nADDRESS=\\n") + u"$CLI status"_s, 1,
            u"^lumora-7150r-cli: the stored address is empty; give --address HOST\n$"_s);
        row("unreadable store: no guess at the default",
            stored("[Simulator_6180\\nADDRESS=127.0.0.1\\n") + u"$CLI --timeout 1 status"_s, 1,
            u"the stored address and port cannot be read"_s);
        row("name that does not resolve",
            u"XDG_CONFIG_HOME=$PWD/empty $CLI --address no-such-unit.invalid --timeout 1 status"_s, 2,
            u"status: cannot connect to no-such-unit.invalid:4000: "_s);
        // Qt would wait for a resolver that never answers when the program ends; the resolver asks only once
        // an address besides loopback is up.
        row("slow name lookup ends at the timeout",
            u"command -v python3 > /dev/null || exit 77; ip link add v0 type veth peer name v1 && "
            "ip addr add 10.9.9.1/24 dev v0 && ip link set v0 up || exit 77; "
            "echo 'nameserver 127.0.0.1' > resolv.conf; mount --bind resolv.conf /etc/resolv.conf || exit "
            "77; "
            "python3 -c 'import socket, time; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); "
            "s.bind((\"127.0.0.1\", 53)); print(\"bound\", flush=True); time.sleep(60)' > said & p=$!; "
            "while ! grep -q bound said; do sleep 0.05; done; "
            "$CLI --address slow.example --port 4000 --timeout 1 status; r=$?; kill $p; exit $r"_s,
            2, u"status: cannot connect to slow.example:4000: no connection within 1 s\n$"_s, 0, 4000);
        row("--version", u"$CLI --version"_s, 0, u"^lumora-7150r-cli 1.05\n$"_s);
        row("help names every command and option", u"$CLI status --help"_s, 0,
            u"(?s)^Usage: .*--address.*--port.*--timeout.*--json.*status.*outputs D1 D2 D3 D4.*reset.*"
            "poll --interval.*ping \\[--count N\\].*decode \\[--vcd\\] FILE.*--csv.*--vcd.*--duration.*"
            "6  decode skipped"_s);
        // Files in the order given, the next day's time running on; a torn block skipped as without --vcd.
        row("decode --vcd",
            u"cp '%1/tests/vcd/20261207.txt' .; { head -6 20261207.txt; "
            "printf '[10:00:03.000] RECV : Status Request (112 Bytes)\\r\\n'; } > 20261208.txt; "
            "TZ=UTC $CLI decode --vcd 20261207.txt 20261208.txt"_s.arg(QStringLiteral(LUMORA_SOURCE_DIR)),
            6,
            u"(?s)^\\$date 2026-12-07 10:00:00.000 UTC \\$end\n.*\n#2000000\n1L\n"
            "#86400000000\n1A\nzC\n0L\n1M\n"
            "b101 Q\nb0 R\nr1.01 c\nr0.00 d\nlumora-7150r-cli: decode: 20261208.txt:7: torn block: the file "
            "ends after 1 of its 6 lines, skipped\n$"_s);
        row("ping: loopback answers, one request a second", u"$CLI --address 127.0.0.1 ping --count 2"_s, 0,
            u"^(Reply From 127.0.0.1: Bytes=0 Time=\\d+ms TTL=64\n){2}$"_s, 1000);
        row("ping: no route, no answer", u"$CLI --address ' 10.1.2.3 ' ping --count 1"_s, 5,
            u"^No answer from 10.1.2.3\n"
            "lumora-7150r-cli: ping: no answer from 10.1.2.3 \\(1 requests sent\\)\n$"_s);
        row("ping: unknown host", u"$CLI --address no-such-unit.invalid ping --count 1"_s, 2,
            u"^Ping: Unknown Host no-such-unit.invalid\nlumora-7150r-cli: ping: cannot resolve "
            "no-such-unit.invalid\n$"_s);
    }
    // The mount namespace lets a case put its own resolv.conf in place. In a PID namespace of its own,
    // whatever a case starts ends with its shell, also when the case fails or the test has to kill it. Its
    // own /proc lets the sanitizers' leak check find the program's threads there.
    void inNetworkOfItsOwn() {
        QFETCH(QString, script);
        QFETCH(QString, said);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        const QString ownNetwork = QLatin1String(testsupport::kOwnNetwork);
        if (runProgram({u"true"_s}, {}, {}, ownNetwork).exitCode != 0)
            QSKIP("needs a network namespace of its own");
        QTemporaryDir dir;
        const QString prelude = u"cd '%1' || exit 91; CLI='%2'; UNIT='%3'; "_s.arg(
            dir.path(), QStringLiteral(LUMORA_CLI_PATH), UnitEmulator::program());
        const Outcome run = runProgram({u"unshare"_s, u"-m"_s, u"-p"_s, u"--kill-child"_s, u"--mount-proc"_s,
                                        u"sh"_s, u"-c"_s, prelude + script},
                                       {}, {}, ownNetwork);
        if (run.exitCode == 77)
            QSKIP("needs python3 and a veth pair for a resolver of the test's own");
        QTEST(run.exitCode, "exitStatus");
        const QString both = run.out.join(u'\n') + (run.out.isEmpty() ? QString() : u"\n"_s) + run.err;
        QVERIFY2(QRegularExpression(said).match(both).hasMatch(), qPrintable(both));
        QVERIFY2(run.ms >= minMs && run.ms < maxMs, qPrintable(QString::number(run.ms)));
    }

    // What a case's shell leaves behind comes back to the suite, so that its end-of-suite check sees it.
    void leftBehindIsSeen() {
        QProcess shell;
        shell.start(u"sh"_s, {u"-c"_s, u"sleep 30 & echo $!"_s});
        QVERIFY(shell.waitForFinished());
        const QStringList orphan{u"%1 sleep 30"_s.arg(shell.readAllStandardOutput().trimmed().toInt())};
        QList<testsupport::ChildProcess> left;
        QStringList seen;
        // On a busy machine the orphan may still be the shell's fork, not yet sleep.
        static_cast<void>(QTest::qWaitFor([&] {
            left = testsupport::runningChildren();
            seen.clear();
            for (const testsupport::ChildProcess& child : left)
                seen << u"%1 %2"_s.arg(child.pid).arg(child.commandLine);
            return seen == orphan;
        }));
        testsupport::endChildren(left);
        QCOMPARE(seen, orphan);
        QVERIFY(testsupport::runningChildren().isEmpty());
    }

    // After silence or a short reply the next request waits out --timeout, not less and not much more; a good
    // reply lets it go out on the next tick.
    void pollWaitsForEachReply_data() {
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("0.3 s") << 300;
        QTest::newRow("0.7 s") << 700;
    }
    void pollWaitsForEachReply() {
        QFETCH(int, timeoutMs);
        ScriptedUnit unit;
        unit.script = {u"112"_s, u"silent"_s, u"50"_s, u"112"_s, u"113"_s, u"112"_s};
        QVERIFY(unit.listen());
        const QString timeout = QString::number(timeoutMs / 1000.0);
        const Outcome run = runProgram(
            onLoopback(unit.port(), u"--timeout %1 poll --interval 0.005 --count 3"_s.arg(timeout)));
        QCOMPARE(run.exitCode, 3);
        QCOMPARE(unit.requestAt.size(), 6);
        QCOMPARE(unit.overlapping, 0);
        for (const int after : {1, 2}) {
            const qint64 gap = unit.requestAt[after + 1] - unit.requestAt[after];
            QVERIFY2(gap >= timeoutMs - 50 && gap < timeoutMs + 450, qPrintable(QString::number(gap)));
        }
        QVERIFY(unit.requestAt[5] - unit.requestAt[4] < timeoutMs - 50);
        QCOMPARE(run.out.size(), 3);
        static const QRegularExpression line(
            u"^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] inputs 00\\.\\.11: 1 1 1 1 1 1 1 1 1 1 1 1 \\| "
            "counters CH01\\.\\.CH12: (16843009 ){11}16843009 \\| "
            "time gaps CH01\\.\\.CH12: (16843\\.01 ){11}16843\\.01 \\| outputs 01\\.\\.04: 1 1 1 1$"_s);
        for (const QString& l : run.out)
            QVERIFY2(line.match(l).hasMatch(), qPrintable(l));
        QCOMPARE(run.err, u"lumora-7150r-cli: poll: no reply from %1 within %2 s\n"
                          "lumora-7150r-cli: poll: reply of 50 bytes from %1 within %2 s, expected 112\n"
                          "lumora-7150r-cli: poll: reply of 113 bytes from %1, expected 112\n"
                          "lumora-7150r-cli: poll: requests sent 6, replies 3, wrong lengths 2, timeouts 1, "
                          "cut short 0, reconnects 0\n"_s.arg(u"127.0.0.1:"_s + QString::number(unit.port()),
                                                              timeout));
    }

    // The summary accounts for every request; the exit status is the lowest of 2, 3 and 4 that happened.
    void pollExitStatus_data() {
        // said: a line before the summary (%1 the unit's address and port); summary: a pattern after "poll: "
        columns<QString, QString, int, QString, QString>("script", "args", "exitStatus", "said", "summary");
        const auto row = [](const char* name, const QString& script, const QString& args, int exitStatus,
                            const QString& said, const QString& summary) {
            QTest::newRow(name) << script << args << exitStatus << said << summary;
        };
        const QString refusedLine = u"reply from %1 holds values the window refuses: input 03 = 5"_s;
        row("refused values: 4", u"refused 112"_s, u"--count 2"_s, 4, refusedLine,
            u"requests sent 2, replies 2, wrong lengths 0, timeouts 0, cut short 0, reconnects 0"_s);
        row("wrong length: 3", u"50 112"_s, u"--count 1"_s, 3,
            u"reply of 50 bytes from %1 within 0.3 s, expected 112"_s,
            u"requests sent 2, replies 1, wrong lengths 1, timeouts 0, cut short 0, reconnects 0"_s);
        row("silence after refused values: 3 before 4", u"refused silent 112"_s, u"--count 2"_s, 3,
            u"no reply from %1 within 0.3 s"_s,
            u"requests sent 3, replies 2, wrong lengths 0, timeouts 1, cut short 0, reconnects 0"_s);
        row("reply cut short by a close: counted, 3", u"cut 112"_s, u"--count 1"_s, 3,
            u"reply of 50 bytes from %1 cut short: it closed the connection; reconnecting on the next tick"_s,
            u"requests sent 2, replies 1, wrong lengths 0, timeouts 0, cut short 1, reconnects 1"_s);
        // A tick may fall between the reply and the close that follows it: a second request is cut short.
        row("unit gone after refused values: 2 before 4", u"gone"_s, u"--duration 0.6"_s, 2,
            u"cannot reconnect to %1: Connection refused; trying again on each tick"_s,
            u"requests sent (1, replies 1, wrong lengths 0, timeouts 0, cut short 0|2, replies 1, "
            "wrong lengths 0, timeouts 0, cut short 1), reconnects 0"_s);
        row("unit gone while a reply is awaited: 2 before 3", u"silent-gone"_s, u"--duration 0.6"_s, 2,
            u"no reply from %1: it closed the connection; reconnecting on the next tick"_s,
            u"requests sent 1, replies 0, wrong lengths 0, timeouts 0, cut short 1, reconnects 0"_s);
    }
    void pollExitStatus() {
        QFETCH(QString, script);
        QFETCH(QString, args);
        QFETCH(QString, said);
        QFETCH(QString, summary);
        ScriptedUnit unit;
        unit.script = script.split(u' ');
        QVERIFY(unit.listen());
        // Taken now: a unit gone has no port.
        const QString at = u"127.0.0.1:"_s + QString::number(unit.port());
        const Outcome run =
            runProgram(onLoopback(unit.port(), u"--timeout 0.3 poll --interval 0.02 "_s + args));
        QStringList lines = run.err.split(u'\n');
        QCOMPARE(lines.takeLast(), QString());
        const QString last = lines.takeLast();
        QVERIFY2(QRegularExpression(u"^lumora-7150r-cli: poll: "_s + summary + u'$').match(last).hasMatch(),
                 qPrintable(last));
        QVERIFY2(lines.contains(u"lumora-7150r-cli: poll: "_s + said.arg(at)), qPrintable(run.err));
        QTEST(run.exitCode, "exitStatus");
    }
    void pollAgainstEmulator_data() {
        // flags: the emulator's; args: after "poll"; replies -1: stopped early (3 to 51); reconnects -1: any;
        // terminate: SIGTERM after five lines
        columns<QString, QString, int, int, bool>("flags", "args", "replies", "reconnects", "terminate");
        const QString forty = u"--interval 0.002 --count 40 "_s;
        QTest::newRow("json") << QString() << forty + u"--json"_s << 40 << 0 << false;
        QTest::newRow("csv, --split 40") << u"--split 40"_s << forty + u"--csv"_s << 40 << 0 << false;
        QTest::newRow("--close-after 10") << u"--close-after 10"_s << forty + u"--json"_s << 40 << 3 << false;
        QTest::newRow("--chaos 11") << u"--chaos 11"_s << forty + u"--json"_s << 40 << -1 << false;
        QTest::newRow("SIGTERM") << QString() << u"--interval 0.01 --csv"_s << -1 << 0 << true;
        QTest::newRow("--duration 0.5")
            << QString() << u"--interval 0.01 --duration 0.5 --json"_s << -1 << 0 << false;
    }
    void pollAgainstEmulator() {
        QFETCH(QString, flags);
        QFETCH(QString, args);
        QFETCH(int, replies);
        QFETCH(int, reconnects);
        QFETCH(bool, terminate);
        UnitEmulator unit;
        QVERIFY2(unit.start(QStringList{u"--quiet"_s} + flags.split(u' ', Qt::SkipEmptyParts)),
                 qPrintable(unit.errorString()));
        bool terminated = false;
        const auto meanwhile = [&](QProcess& process, const QByteArray& out) {
            if (!terminate)
                return;
            terminated = QTest::qWaitFor([&] { return out.count('\n') >= 5; }, kRunMs);
            process.terminate();
        };
        const Outcome run = runProgram(onLoopback(unit.port, u"--timeout 0.2 poll "_s + args), {}, meanwhile);
        QCOMPARE(terminated, terminate);
        static const QRegularExpression summary(
            u"poll: requests sent (\\d+), replies (\\d+), "
            "wrong lengths (\\d+), timeouts (\\d+), cut short (\\d+), reconnects (\\d+)\\n$"_s);
        const QRegularExpressionMatch counts = summary.match(run.err);
        QVERIFY2(counts.hasMatch(), qPrintable(run.err));
        if (reconnects >= 0)
            QCOMPARE(counts.captured(6).toInt(), reconnects);
        // Every request is accounted for, but one still awaited when polling was stopped.
        int settled = 0;
        for (int i = 2; i <= 5; ++i)
            settled += counts.captured(i).toInt();
        const int sent = counts.captured(1).toInt();
        QVERIFY2(sent == settled || (replies < 0 && sent == settled + 1), qPrintable(run.err));
        QStringList rows = run.out;
        if (args.endsWith(u"--csv"))
            QCOMPARE(rows.takeFirst(), QLatin1String(kCsvHeader));
        QCOMPARE(rows.size(), counts.captured(2).toInt());
        if (replies < 0) {
            // --duration 0.5 at 0.01 s allows 51 requests; a SIGTERM comes when the test gets to it.
            QVERIFY2(rows.size() >= 3 && (terminate || rows.size() <= 51),
                     qPrintable(QString::number(rows.size())));
            QCOMPARE(counts.captured(3).toInt() + counts.captured(4).toInt(), 0);
            QCOMPARE(run.exitCode, 0);
            QVERIFY(run.ms < 500 + 3000);
        } else {
            QCOMPARE(rows.size(), replies);
            QCOMPARE(run.exitCode, counts.captured(1).toInt() == replies ? 0 : 3);
        }
        for (const QString& row : std::as_const(rows)) {
            QString stamp = row.section(u',', 0, 0);
            if (args.endsWith(u"--csv")) {
                QCOMPARE(row.count(u','), 40);
            } else {
                const std::optional<JsonReply> json = readJson(row);
                QVERIFY2(json, qPrintable(row));
                QCOMPARE(json->lines, emulatorLines(json->raw));
                stamp = QJsonDocument::fromJson(row.toUtf8()).object().value(u"time"_s).toString();
            }
            const QDateTime at = QDateTime::fromString(stamp, u"yyyy-MM-dd hh:mm:ss.zzz"_s);
            QVERIFY2(at.isValid() && qAbs(at.daysTo(QDateTime::currentDateTime())) <= 1, qPrintable(stamp));
        }
    }

    void decodeWindowLog_data() {
        // rows: of the logged replies; error: after "decode: <file>:"
        columns<QByteArray, QList<int>, QString, QString>("content", "rows", "error", "name");
        const auto row = [](const char* tag, const QByteArray& content, const QList<int>& rows,
                            const QString& error = {}, const QString& name = u"20261207.txt"_s) {
            QTest::newRow(tag) << content << rows << error << name;
        };
        const QByteArray log = windowLog_;
        row("as written", log, {0, 1, 2});
        row("torn last block", log.left(log.indexOf("[00:00") + 120), {0, 1},
            u"13: torn block: the file ends inside line 14"_s);
        row("a line before the first block", "note\r\n" + log, {0, 1, 2},
            u"1: not a RECV block, nor are the lines up to the next header"_s);
        // As an endless device would give them: told a MiB at a time as they pass.
        const QString mib = u"1: 1048576 bytes that are no log\n"_s;
        row("3 MiB of NUL bytes before the first block", QByteArray(3 << 20, '\0') + '\n' + log, {0, 1, 2},
            mib + mib + mib + u"1: not a RECV block, nor are the lines up to the next header"_s);
        row("a FIFO nobody writes to", {}, {}, {}, u"fifo/20261207.txt"_s);
        row("no such file", log, {}, u"cannot open it: No such file or directory, skipped"_s,
            u"gone/20261207.txt"_s);
        row("read fails", {}, {}, u"cannot read it to the end: Input/output error"_s, u"mem/20261207.txt"_s);
        row("not named as a daily log", log, {},
            u"not a daily log file (the name is not YYYYMMDD.txt), skipped"_s, u"notes.txt"_s);
    }
    void decodeWindowLog() {
        QFETCH(QByteArray, content);
        QFETCH(QList<int>, rows);
        QFETCH(QString, error);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (name.startsWith(u"mem/"))
            QVERIFY(QDir(dir.path()).mkdir(u"mem"_s) && QFile::link(u"/proc/self/mem"_s, path));
        else if (name.startsWith(u"fifo/"))
            QVERIFY(QDir(dir.path()).mkdir(u"fifo"_s) &&
                    ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (!name.startsWith(u"gone/"))
            QVERIFY(testsupport::writeFile(path, content));
        // Then the same bytes on standard input, which has no date to give.
        for (const bool standardInput : {false, true}) {
            if (standardInput && name != u"20261207.txt")
                continue;
            const Outcome run = runProgram({u"decode"_s, standardInput ? u"-"_s : path},
                                           standardInput ? content : QByteArray());
            QStringList expected{QLatin1String(kCsvHeader)};
            for (int row : rows) {
                expected << (standardInput ? loggedTimes_ : loggedMoments_).at(row) + u',' +
                                csvFields(loggedShown_.at(row));
            }
            QCOMPARE(run.out, expected);
            QCOMPARE(run.exitCode, error.isEmpty() ? 0 : 6);
            const QString shown = standardInput ? u"(standard input)"_s : path;
            QString said;
            for (const QString& line : error.split(u'\n', Qt::SkipEmptyParts)) {
                said += line.front().isDigit()
                            ? u"lumora-7150r-cli: decode: %1:%2, skipped\n"_s.arg(shown, line)
                            : u"lumora-7150r-cli: decode: %1: %2\n"_s.arg(shown, line);
            }
            QCOMPARE(run.err, said);
        }
    }

    // decode reads the file's date in the zone it runs in, TZ honoured: there a 23-hour day, 08:00 to 07:00
    // UTC, which 07:30 UTC is no part of.
    void decodeInZone() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"20260308.txt"_s);
        QByteArray text;
        for (const char* stamp : {"09:59:59.999", "07:30:00.000", "10:00:00.000"})
            text += testsupport::dailyBlock(stamp);
        QVERIFY(testsupport::writeFile(path, text));
        const QByteArray pinned = qgetenv("TZ");
        qputenv("TZ", "America/Los_Angeles");
        const Outcome run = runProgram({u"decode"_s, path});
        qputenv("TZ", pinned);
        QStringList got;
        for (const QString& row : run.out.mid(1))
            got.append(row.section(u',', 0, 0));
        QCOMPARE(got, (QStringList{u"2026-03-08 09:59:59.999"_s, u"2026-03-08 10:00:00.000"_s}));
        QCOMPARE(run.err,
                 u"lumora-7150r-cli: decode: %1:7: the stamp 07:30:00.000 is no time of 2026-03-08 in "
                 "this time zone, skipped\n"_s.arg(path));
        QCOMPARE(run.exitCode, 6);
    }

    // Nothing is polled when serve cannot start: the unit sees no connection.
    void serveRefusesBeforePolling_data() {
        // file: the units file, %1 the unit's port; error: %1 the file, %2 the port
        columns<QString, QString, QString, int>("file", "args", "error", "exitStatus");
        QTest::newRow("bad line") << u"a=127.0.0.1:%1\n\n# rack 2\nb=127.0.0.1\n"_s << QString()
                                  << u"serve: %1:4: no \":PORT\" after the host"_s << 1;
        QTest::newRow("name twice") << u"a=127.0.0.1:%1\n"_s << u"a=[::1]:%1"_s
                                    << u"serve: unit name \"a\" given twice: %1:1 and command line unit 1"_s << 1;
        QTest::newRow("no unit") << u"# none yet\n"_s << QString()
                                 << u"serve: no unit to poll: give at least one as [NAME=]HOST:PORT, on the "
                                    "command line or in the units file"_s
                                 << 1;
        // 1,500 units a second: at 2 ms, three.
        QTest::newRow("too many for the interval")
            << u"a=127.0.0.1:%1\nb=127.0.0.1:%1\nc=127.0.0.1:%1\nd=127.0.0.1:%1\n"_s << u"--interval 0.002"_s
            << u"serve: %1:4: more than 3 units, the most one exporter polls at this interval; run one exporter per "
               "station"_s
            << 1;
        QTest::newRow("web config unread")
            << u"a=127.0.0.1:%1\n"_s << u"--web-config /nonexistent/web.yml"_s
            << u"serve: cannot read /nonexistent/web.yml: No such file or directory"_s << 1;
        QTest::newRow("address taken") << u"a=127.0.0.1:%1\n"_s << u"--listen 127.0.0.1:%1"_s
                                       << u"serve: cannot listen on 127.0.0.1:%2: The bound address is already in use"_s
                                       << 7;
    }
    void serveRefusesBeforePolling() {
        QFETCH(QString, file);
        QFETCH(QString, args);
        QFETCH(QString, error);
        QFETCH(int, exitStatus);
        LoopbackPeer peer;
        QVERIFY(peer.listen());
        const QString port = QString::number(peer.port());
        QTemporaryDir dir;
        const QString units = dir.filePath(u"units"_s);
        QVERIFY(testsupport::writeFile(units, QString(file).replace(u"%1"_s, port).toUtf8()));
        // The unit's own port is taken, so listening there fails.
        const Outcome run = runProgram(QStringList{u"serve"_s, u"--units-file"_s, units} +
                                       args.replace(u"%1"_s, port).split(u' ', Qt::SkipEmptyParts));
        error.replace(u"%1"_s, units).replace(u"%2"_s, port);
        QCOMPARE(run.err, u"lumora-7150r-cli: "_s + error + u'\n');
        QCOMPARE(run.exitCode, exitStatus);
        QCOMPARE(run.out, QStringList());
        QTest::qWait(100);
        QCOMPARE(peer.links.size(), 0);
    }

    // Two units, one named from the units file, one not: each polled and served. SIGHUP reads the file again:
    // the unit that stayed keeps its counters, the renamed one is dropped and added, a bad file changes
    // nothing. Then SIGTERM ends it cleanly.
    void serveAgainstEmulator() {
        UnitEmulator named;
        UnitEmulator plain;
        QVERIFY2(named.start({u"--quiet"_s}), qPrintable(named.errorString()));
        QVERIFY2(plain.start({u"--quiet"_s, u"--bad-input"_s}), qPrintable(plain.errorString()));
        const QString plainName = u"127.0.0.1:"_s + QString::number(plain.port);
        QTemporaryDir dir;
        const QString unitsFile = dir.filePath(u"units"_s);
        const auto writeUnits = [&unitsFile](const QString& text) {
            return testsupport::writeFile(unitsFile, text.toUtf8());
        };
        QVERIFY(writeUnits(u"rack-1=127.0.0.1:%1\n"_s.arg(named.port)));
        QNetworkAccessManager network;
        const auto get = [&network](quint16 port, const QString& path) {
            QNetworkReply* reply =
                network.get(QNetworkRequest(QUrl(u"http://127.0.0.1:%1%2"_s.arg(port).arg(path))));
            QByteArray body =
                QTest::qWaitFor([reply] { return reply->isFinished(); }, kRunMs) ? reply->readAll() : QByteArray();
            reply->deleteLater();
            return body;
        };
        const QRegularExpression plainReplies(u"lumora_replies_total\\{unit=\"%1\"\\} (\\d+)"_s.arg(plainName));
        QByteArray metrics;
        QByteArray page;
        QByteArray reloaded;
        QString reloadFailed;
        const auto meanwhile = [&](QProcess& process, const QByteArray& out) {
            static const QRegularExpression listening(u"^listening on 127\\.0\\.0\\.1:(\\d+)\n"_s);
            quint16 port = 0;
            QVERIFY(QTest::qWaitFor(
                [&] { return (port = listening.match(QString::fromLatin1(out)).captured(1).toUShort()) != 0; },
                kRunMs));
            // Polled at 0.2 s, both units have answered well within the wait, the plain one a few times.
            QVERIFY(QTest::qWaitFor(
                [&] {
                    metrics = get(port, u"/metrics"_s);
                    return metrics.contains("lumora_unit_up{unit=\"rack-1\"} 1") &&
                           metrics.contains("lumora_poll_failures_total{unit=\"" + plainName.toLatin1() +
                                            "\",reason=\"refused_value\"} 1") &&
                           plainReplies.match(QString::fromLatin1(metrics)).captured(1).toInt() >= 3;
                },
                kRunMs));
            page = get(port, u"/"_s);

            const int repliesBefore = plainReplies.match(QString::fromLatin1(metrics)).captured(1).toInt();
            QVERIFY(writeUnits(u"# renamed\nrack-2=127.0.0.1:%1\n"_s.arg(named.port)));
            ::kill(pid_t(process.processId()), SIGHUP);
            QVERIFY(QTest::qWaitFor([&] { return out.contains("reloaded") && out.endsWith('\n'); }, kRunMs));
            reloaded = out.mid(out.indexOf("reloaded"));
            const QByteArray after = get(port, u"/metrics"_s);
            QCOMPARE_GE(plainReplies.match(QString::fromLatin1(after)).captured(1).toInt(), repliesBefore);
            QVERIFY(QTest::qWaitFor(
                [&] { return get(port, u"/metrics"_s).contains("lumora_unit_up{unit=\"rack-2\"} 1"); }, kRunMs));

            QVERIFY(writeUnits(u"rack-3=127.0.0.1\n"_s));
            ::kill(pid_t(process.processId()), SIGHUP);
            QVERIFY(QTest::qWaitFor(
                [&] {
                    reloadFailed += QString::fromLocal8Bit(process.readAllStandardError());
                    return reloadFailed.endsWith(u'\n');
                },
                kRunMs));
            metrics = get(port, u"/metrics"_s);
            process.terminate();
        };
        const Outcome run = runProgram({u"serve"_s, u"--listen"_s, u"127.0.0.1:0"_s, u"--interval"_s, u"0.2"_s,
                                        u"--units-file"_s, unitsFile, plainName},
                                       {}, meanwhile);
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(reloaded, "reloaded " + unitsFile.toUtf8() + ": 1 kept, 1 added (rack-2), 1 dropped (rack-1)\n");
        QCOMPARE(reloadFailed, u"lumora-7150r-cli: serve: %1:1: no \":PORT\" after the host; still polling the units read "
                               "before\n"_s.arg(unitsFile));
        QVERIFY2(metrics.contains("lumora_unit_up{unit=\"" + plainName.toLatin1() + "\"} 1"), metrics.constData());
        QVERIFY(!metrics.contains("unit=\"rack-1\""));
        // The emulator's input 00 reads 5 there: that series alone is left out.
        QVERIFY(metrics.contains("lumora_input{unit=\"rack-2\",channel=\"00\"} "));
        QVERIFY(!metrics.contains("lumora_input{unit=\"" + plainName.toLatin1() + "\",channel=\"00\"}"));
        QVERIFY(metrics.contains("lumora_input{unit=\"" + plainName.toLatin1() + "\",channel=\"01\"} "));
        QVERIFY2(page.contains("rack-1") && page.contains(plainName.toLatin1()), page.constData());
    }

    // What a station's script sees: the exit status, the summary, and
    // nothing on the wire from a plan that is wrong.
    void runExitStatus_data() {
        columns<QString, QByteArray, int, QString>("flags", "plan", "exitCode", "said");
        const QByteArray step = "steps:\n  - name: DO1 drives DI00\n    outputs: [1, 0, 0, 0]\n"
                                "    expect: {inputs: {\"00\": 1}, within: 0.3}\n";
        QTest::newRow("passes") << u"--wire 01=00"_s << step << 0 << u"1 passed, 0 failed"_s;
        // The package's example, on the bench its header names.
        QTest::newRow("the example") << u"--wire 01=00,02=01+05 --pulse 03=100"_s
                                     << testsupport::readFile(
                                            QStringLiteral(LUMORA_SOURCE_DIR "/docs/examples/station.yaml"))
                                     << 0 << u"5 passed, 0 failed"_s;
        QTest::newRow("fails") << u"--wire 02=00"_s << step << 8 << u"0 passed, 1 failed"_s;
        QTest::newRow("no unit") << QString() << step << 2 << u"run: cannot connect to 127.0.0.1:"_s;
        QTest::newRow("plan error") << u"peer"_s << QByteArray("steps:\n  - name: x\n    outputs: [1, 0, 0]\n") << 1
                                    << u"plan.yaml:3:14: "_s;
    }
    void runExitStatus() {
        QFETCH(QString, flags);
        QFETCH(QByteArray, plan);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        UnitEmulator unit;
        LoopbackPeer peer;
        quint16 port = 0;
        if (flags.isEmpty() || flags == u"peer") {
            QVERIFY(peer.listen());
            port = peer.port();
            if (flags.isEmpty())
                peer.server.close();
        } else {
            QVERIFY2(unit.start(flags.split(u' ')), qPrintable(unit.errorString()));
            port = unit.port;
        }
        QTemporaryDir dir;
        const QString planFile = dir.filePath(u"plan.yaml"_s);
        QVERIFY(testsupport::writeFile(planFile, plan));
        const Outcome run = runProgram(onLoopback(port, u"run "_s + planFile));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((exitCode == 0 || exitCode == 8 ? run.out.value(run.out.size() - 1) : run.err).contains(said),
                 qPrintable(run.out.join(u'\n') + run.err));
        QVERIFY(peer.links.isEmpty());
    }

    // Ctrl-C or SIGTERM during a wait: the teardown's frame still goes out,
    // the JUnit file holds the case that passed and the rest skipped, valid
    // against the schema the package ships.
    void runStoppedBySignal_data() {
        columns<int, int>("signal", "exitCode");
        QTest::newRow("Ctrl-C") << SIGINT << 130;
        QTest::newRow("SIGTERM") << SIGTERM << 143;
    }
    void runStoppedBySignal() {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        LoopbackPeer unit;
        QVERIFY(unit.listen());
        QTemporaryDir dir;
        const QString planFile = dir.filePath(u"plan.yaml"_s);
        const QByteArray plan = "name: station\n"
                                "steps:\n  - name: a\n    outputs: [1, 0, 0, 0]\n"
                                "  - name: b\n    wait: 30\n"
                                "  - name: c\n    outputs: [0, 1, 0, 0]\n"
                                "teardown:\n  - outputs: [0, 0, 0, 0]\n";
        QVERIFY(testsupport::writeFile(planFile, plan));
        const QString junit = dir.filePath(u"report.xml"_s);
        const auto meanwhile = [&](QProcess& process, const QByteArray&) {
            QVERIFY(QTest::qWaitFor([&] { return unit.received.contains(QByteArray::fromHex("5401000000")); }, kRunMs));
            ::kill(pid_t(process.processId()), signal);
        };
        const Outcome run =
            runProgram(onLoopback(unit.port(), u"run "_s + planFile + u" --junit "_s + junit), {}, meanwhile);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(unit.received, QByteArray::fromHex("5401000000" "5400000000"));
        QCOMPARE(run.out.mid(1), (QStringList{u"SKIP b"_s, u"SKIP c"_s, u"1 passed, 0 failed"_s}));
        QProcess xmllint;
        xmllint.start(u"xmllint"_s, {u"--noout"_s, u"--schema"_s, QStringLiteral(LUMORA_SOURCE_DIR "/dist/junit.xsd"), junit});
        QVERIFY(xmllint.waitForFinished());
        QVERIFY2(xmllint.exitCode() == 0, xmllint.readAllStandardError().constData());
        const QByteArray xml = testsupport::readFile(junit);
        QVERIFY2(xml.contains("tests=\"3\"") && xml.count("<skipped") == 2, xml.constData());
    }
};

LUMORA_TEST_MAIN(tst_Cli)

#include "tst_cli.moc"
