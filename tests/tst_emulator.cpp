// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/command_line.h"
#include "emulator/unit_group.h"
#include "emulator/unit_server.h"
#include "emulator/unit_simulation.h"
#include "testsupport.h"
#include "unitemulator.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <signal.h>

using namespace Qt::StringLiterals;
using lumora::emulator::Behaviour;
using testsupport::columns;

namespace {

// The unit's reply as the client sees it on the wire.
constexpr qsizetype kReplySize = 112;
constexpr int kInputs = 12;
constexpr int kCounterAt = 12;
constexpr int kGapAt = 60;
constexpr int kOutputAt = 108;
constexpr std::int64_t kShortestToggleMs = 50;
constexpr std::int64_t kLongestToggleMs = 2000;
// Long enough for every input to rise at least twice.
constexpr std::int64_t kCountingMs = 10000;
constexpr int kTimeoutMs = 10000;
constexpr int kSettleMs = 300;
constexpr int kWriteGapMs = 50;
// Long enough that the two parts of a split reply cannot merge on a busy machine.
constexpr int kSplitDelayMs = 300;

// A little-endian four-byte field: counter or time gap k.
quint32 field(const QByteArray& reply, int at, int k) {
    const auto* b = reinterpret_cast<const uchar*>(reply.constData()) + at + qsizetype{4} * k;
    return quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
}

// An in-process unit on an ephemeral loopback port, with a clock the test sets.
struct SetClock final : lumora::emulator::ElapsedClock {
    std::int64_t now = 0;
    std::int64_t elapsedMs() const override { return now; }
};
struct Rig {
    explicit Rig(const Behaviour& behaviour = {})
        : server(behaviour, clock) {
        QObject::connect(&server, &lumora::emulator::UnitServer::lineReported, &server,
                         [this](const QString& line) { lines << line; });
    }
    bool start() { return server.listen(QHostAddress::LocalHost, 0); }
    SetClock clock;
    QStringList lines;
    lumora::emulator::UnitServer server;
};

// A client that records each arrival separately, to tell a split reply apart.
struct Client {
    explicit Client(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            arrivals << socket.bytesAvailable();
            received += socket.readAll();
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool waitForState(QAbstractSocket::SocketState state = QAbstractSocket::ConnectedState) {
        return QTest::qWaitFor([&] { return socket.state() == state; }, kTimeoutMs);
    }
    bool waitFor(qsizetype count) {
        return QTest::qWaitFor([&] { return received.size() >= count; }, kTimeoutMs);
    }
    bool send(const QByteArray& bytes) { return socket.write(bytes) == bytes.size() && socket.flush(); }
    bool ask(const char* hex) {
        return waitForState() && send(QByteArray::fromHex(hex)) && waitFor(kReplySize);
    }
    QTcpSocket socket;
    QList<qsizetype> arrivals;
    QByteArray received;
};

// The first of `count` consecutive loopback ports that are free right now.
quint16 freePortRun(int count) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::vector<std::unique_ptr<QTcpServer>> held;
        while (int(held.size()) < count) {
            const quint16 port = held.empty() ? 0 : quint16(held.front()->serverPort() + held.size());
            held.push_back(std::make_unique<QTcpServer>());
            if (!held.back()->listen(QHostAddress::LocalHost, port))
                break;
        }
        if (held.back()->isListening() && int(held.size()) == count)
            return held.front()->serverPort();
    }
    return 0;
}

} // namespace

class tst_Emulator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void exchange_data() {
        // writes: hex, '|' between writes; outputs: in the last reply; cleared: its counters all zero
        columns<QString, QString, qsizetype, QByteArray, bool, bool>("flags", "writes", "total", "outputs",
                                                                     "cleared", "closes");
        const auto row = [](const char* flags, const char* writes, qsizetype total, const char* outputs,
                            bool cleared = false, bool closes = false) {
            QTest::addRow("%s%s%s", flags, *flags ? " " : "", writes)
                << QString::fromLatin1(flags) << QString::fromLatin1(writes) << total
                << QByteArray::fromHex(outputs) << cleared << closes;
        };
        row("", "52", 112, "00000000");
        row("", "5401000001|52", 112, "01000001");
        row("", "54|01020304|52", 112, "01020304");
        row("", "540102|030452", 112, "01020304");
        row("", "43|41|52", 112, "00000000", true);
        row("", "5401000000434152", 112, "01000000", true);
        row("", "5252", 224, "00000000");
        row("", "5452525252|52", 112, "52525252");
        row("", "7a52", 112, "00000000");
        row("", "4352", 112, "00000000");
        row("", "434341|52", 112, "00000000", true);
        row("--split 1", "5401020304|52", 112, "01020304");
        row("--split 111", "5401020304|52", 112, "01020304");
        row("--no-reply", "52", 0, "");
        row("--reply-bytes 1", "5401010101|52", 1, "01010101");
        row("--reply-bytes 113", "5401010101|52", 113, "01010101");
        row("--close-after 2", "54010000005252", 112, "01000000", false, true);
        row("--close-after 2", "7a5252", 224, "00000000", false, true);
        row("--close-after 1", "434152", 0, "", false, true);
        row("--bad-input", "5401000000|52", 112, "01000000");
    }
    void exchange() {
        QFETCH(QString, flags);
        QFETCH(QString, writes);
        QFETCH(qsizetype, total);
        QFETCH(QByteArray, outputs);
        QFETCH(bool, cleared);
        QFETCH(bool, closes);
        const lumora::emulator::CommandLine parsed = lumora::emulator::parseCommandLine(
            QStringList{u"unit"_s} + flags.split(u' ', Qt::SkipEmptyParts));
        QCOMPARE(parsed.outcome, lumora::emulator::CommandLine::Outcome::Run);
        Behaviour behaviour = parsed.options.behaviour;
        behaviour.splitDelayMs = kSplitDelayMs;
        Rig rig(behaviour);
        rig.clock.now = kCountingMs;
        QVERIFY(rig.start());
        Client client(rig.server.serverPort());
        QVERIFY(client.waitForState());
        for (const QString& bytes : writes.split(u'|')) {
            QVERIFY(client.send(QByteArray::fromHex(bytes.toLatin1())));
            QTest::qWait(kWriteGapMs); // each write its own arrival at the unit
        }
        QVERIFY(closes ? client.waitForState(QAbstractSocket::UnconnectedState) : client.waitFor(total));
        QTest::qWait(kSettleMs);
        QCOMPARE(client.received.size(), total);
        if (behaviour.splitAt > 0)
            QCOMPARE(client.arrivals, (QList<qsizetype>{behaviour.splitAt, kReplySize - behaviour.splitAt}));
        const QByteArray reply = client.received.right(behaviour.replyBytes);
        if (behaviour.badInput)
            QCOMPARE(reply.at(0), '\x05');
        QCOMPARE(reply.mid(kOutputAt, 4), outputs.left(reply.size() - kOutputAt));
        QCOMPARE(reply.mid(kReplySize), QByteArray(qMax(reply.size() - kReplySize, qsizetype{0}), '\0'));
        for (int k = 0; k < kInputs && reply.size() >= kReplySize; ++k)
            QCOMPARE(field(reply, kCounterAt, k) == 0, cleared);
        // One unit for all clients, kept after one closes: the next sees the outputs the first set.
        Client next(rig.server.serverPort());
        QVERIFY(next.waitForState());
        if (flags.isEmpty()) {
            QVERIFY(next.ask("52"));
            QCOMPARE(next.received.mid(kOutputAt), outputs);
        }
    }

    // The reply arrives by itself, then zero bytes keep coming.
    void floodFollowsFirstReply() {
        constexpr qsizetype kFloodBytes = 4 << 20;
        Rig rig({.flood = true});
        QVERIFY(rig.start());
        Client client(rig.server.serverPort());
        QVERIFY(client.ask("52") && client.waitFor(kReplySize + kFloodBytes));
        QCOMPARE(client.arrivals.first(), kReplySize);
        QCOMPARE(client.received.mid(kReplySize).count('\0'), client.received.size() - kReplySize);
    }

    // What a client writes stays with the client once the unit's small buffer is full.
    void neverReadHoldsClientBack() {
        constexpr qsizetype kWriteBytes = 16 << 20;
        Rig rig({.neverRead = true});
        QVERIFY(rig.start());
        Client client(rig.server.serverPort());
        QVERIFY(client.waitForState());
        QVERIFY(client.socket.write(QByteArray(kWriteBytes, 'R')) == kWriteBytes);
        QTest::qWait(kSettleMs * 3);
        QVERIFY2(client.socket.bytesToWrite() > kWriteBytes / 2,
                 qPrintable(QString::number(client.socket.bytesToWrite())));
        QVERIFY(!rig.lines.join(u'\n').contains(u"RECV"_s));
        QCOMPARE(client.received.size(), 0);
    }

    // Counters count rising edges since the reset, gaps span the last two rises whatever the resets.
    void countersFollowInputs() {
        using lumora::emulator::kDefaultSeed;
        lumora::emulator::UnitSimulation unit(kDefaultSeed), twin(kDefaultSeed), other(kDefaultSeed + 1);
        bool otherDiffers = false;
        std::array<quint8, kInputs> level{};
        std::array<quint32, kInputs> rises{};
        std::array<std::int64_t, kInputs> lastToggle{}, lastRise{}, previousRise{};
        for (std::int64_t t = 0; t <= 2 * kCountingMs; ++t) {
            const QByteArray reply = unit.statusReply(t);
            QCOMPARE(twin.statusReply(t), reply);
            otherDiffers = otherDiffers || other.statusReply(t) != reply;
            for (int k = 0; k < kInputs; ++k) {
                const auto now = quint8(reply.at(k));
                QVERIFY(now <= 1);
                if (t > 0 && now != level[k]) {
                    QVERIFY2(t - lastToggle[k] >= kShortestToggleMs,
                             qPrintable(u"input %1 at %2"_s.arg(k).arg(t)));
                    lastToggle[k] = t;
                    if (now == 1) {
                        ++rises[k];
                        previousRise[k] = lastRise[k];
                        lastRise[k] = t;
                    }
                }
                level[k] = now;
                QVERIFY2(t - lastToggle[k] <= kLongestToggleMs,
                         qPrintable(u"input %1 stuck at %2"_s.arg(k).arg(t)));
                const quint32 gap = previousRise[k] > 0 ? quint32(lastRise[k] - previousRise[k]) : 0U;
                if (field(reply, kCounterAt, k) != rises[k] || field(reply, kGapAt, k) != gap)
                    QFAIL(qPrintable(
                        u"input %1 at %2 ms: want counter %3, gap %4"_s.arg(k).arg(t).arg(rises[k]).arg(
                            gap)));
            }
            if (t == kCountingMs) {
                unit.resetCounters(t);
                twin.resetCounters(t);
                rises.fill(0);
            }
        }
        QVERIFY(otherDiffers);
        for (int k = 0; k < kInputs; ++k)
            QVERIFY(rises[k] >= 2);
    }

    // Wired and pulsed inputs on the millisecond clock; every other input rests low.
    void wiring_data() {
        // script: t>outputs set, t! counters reset, t:input=level/counter/gap
        columns<QString, QString>("flags", "script");
        QTest::newRow("delay, OR of outputs")
            << u"--wire 01=00,02=00+05"_s
            << u"0>01000000 4:0=0/0/0 5:0=1/1/0 5:5=0/0/0 100>01520000 105:5=1/1/0 300>00520000 400:0=1/1/0 "
               "500>00000000 504:0=1/1/0 505:0=0/1/0 600>01000000 605:0=1/2/600"_s;
        QTest::newRow("bounce") << u"--wire 04=11 --bounce 2 --wire-delay 0.010"_s
                                << u"0>00000001 9:11=0/0/0 10:11=1/1/0 11:11=0/1/0 12:11=1/2/2 13:11=0/2/2 "
                                   "14:11=1/3/2 1000:11=1/3/2"_s;
        QTest::newRow("bounce cut by the fall") << u"--wire 01=03 --bounce 3 --wire-delay 0"_s
                                                << u"0>01000000 0:3=1/1/0 4>00000000 100:3=0/2/2"_s;
        QTest::newRow("pulse") << u"--pulse 03=100,07=0.5"_s
                               << u"4:3=0/0/0 5:3=1/1/0 10:3=0/1/0 15:3=1/2/10 1000:3=0/100/10 1000:7=1/1/0 "
                                  "1999:7=1/1/0 2000:7=0/1/0 3000:7=1/2/2000"_s;
        QTest::newRow("reset") << u"--wire 01=00 --pulse 02=50 --wire-delay 0"_s
                               << u"0>01000000 0:0=1/1/0 1000:2=0/50/20 1000! 1000:0=1/0/0 1000:2=0/0/0 "
                                  "1010:2=1/1/0 1030:2=1/2/20 1100>00000000 1200>01000000 1200:0=1/1/0"_s;
    }
    void wiring() {
        QFETCH(QString, flags);
        QFETCH(QString, script);
        const lumora::emulator::CommandLine parsed =
            lumora::emulator::parseCommandLine(QStringList{u"unit"_s} + flags.split(u' '));
        QCOMPARE(parsed.outcome, lumora::emulator::CommandLine::Outcome::Run);
        const lumora::emulator::Wiring& wiring = parsed.options.behaviour.wiring;
        lumora::emulator::UnitSimulation unit(lumora::emulator::kDefaultSeed, wiring);
        static const QRegularExpression step(u"^(\\d+)(?:>([0-9a-f]{8})|(!)|:(\\d+)=(\\d+/\\d+/\\d+))$"_s);
        for (const QString& token : script.split(u' ')) {
            const QRegularExpressionMatch match = step.match(token);
            QVERIFY2(match.hasMatch(), qPrintable(token));
            const std::int64_t t = match.captured(1).toLongLong();
            if (match.hasCaptured(2)) {
                const QByteArray bytes = QByteArray::fromHex(match.captured(2).toLatin1());
                unit.setOutputs({quint8(bytes[0]), quint8(bytes[1]), quint8(bytes[2]), quint8(bytes[3])}, t);
            } else if (match.hasCaptured(3)) {
                unit.resetCounters(t);
            } else {
                const QByteArray reply = unit.statusReply(t);
                const int k = match.captured(4).toInt();
                QCOMPARE(u"%1/%2/%3"_s.arg(int(reply.at(k)))
                             .arg(field(reply, kCounterAt, k))
                             .arg(field(reply, kGapAt, k)),
                         match.captured(5));
                for (int other = 0; other < kInputs; ++other) {
                    if (wiring.driversOf(other) == 0 && !wiring.pulsed(other))
                        QVERIFY(reply.at(other) == 0 && field(reply, kCounterAt, other) == 0 &&
                                field(reply, kGapAt, other) == 0);
                }
            }
        }
    }

    // Over the network: status requests see the input that an output setting drives.
    void wiredOverNetwork() {
        Rig rig(lumora::emulator::parseCommandLine({u"unit"_s, u"--wire"_s, u"02=07"_s}).options.behaviour);
        rig.clock.now = kCountingMs; // every seeded input has risen by now
        QVERIFY(rig.start());
        Client client(rig.server.serverPort());
        QVERIFY(client.ask("52"));
        QCOMPARE(client.received.at(7), '\0');
        QCOMPARE(field(client.received, kCounterAt, 7), 0U);
        QVERIFY(client.send(QByteArray::fromHex("5400010000")));
        QTRY_VERIFY_WITH_TIMEOUT((++rig.clock.now, client.received.clear(), client.ask("52")) &&
                                     client.received.at(7) == '\1',
                                 kTimeoutMs);
        QCOMPARE(field(client.received, kCounterAt, 7), 1U);
    }

    void outputLines_data() {
        QTest::addColumn<bool>("quiet");
        QTest::newRow("every frame") << false;
        QTest::newRow("--quiet") << true;
    }
    // UTC-stamped lines per client: connect, frames, replies, close.
    void outputLines() {
        QFETCH(bool, quiet);
        Rig rig({.quiet = quiet});
        QVERIFY(rig.start());
        Client client(rig.server.serverPort());
        QVERIFY(client.ask("540100000252"));
        const QString peer = u"127.0.0.1:%1 "_s.arg(client.socket.localPort());
        client.socket.disconnectFromHost();
        QVERIFY(QTest::qWaitFor([&] { return rig.lines.last().endsWith(u" disconnected"_s); }, kTimeoutMs));
        const QString prefix = u"^\\[\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] "_s + QRegularExpression::escape(peer);
        QStringList expected{prefix + u"connected$"_s};
        if (!quiet)
            expected << prefix + u"RECV 54 01 00 00 02 $"_s << prefix + u"RECV 52 $"_s
                     << prefix + u"SEND (?:0[01] ){12}(?:[0-9A-F]{2} ){96}01 00 00 02 $"_s;
        expected << prefix + u"disconnected$"_s;
        const QStringList seen = rig.lines.filter(peer);
        QCOMPARE(seen.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QVERIFY2(QRegularExpression(expected.at(i)).match(seen.at(i)).hasMatch(), qPrintable(seen.at(i)));
    }

    void commandLine_data() {
        using Outcome = lumora::emulator::CommandLine::Outcome;
        // listen: address and port, when it runs
        columns<QString, Outcome, QString>("args", "outcome", "listen");
        QTest::newRow("no arguments") << QString() << Outcome::Run << u"127.0.0.1 4000"_s;
        QTest::newRow("[::1]:4000") << u"--listen [::1]:4000"_s << Outcome::Run << u"::1 4000"_s;
        QTest::newRow("127.0.0.1:65535")
            << u"--listen 127.0.0.1:65535"_s << Outcome::Run << u"127.0.0.1 65535"_s;
        QTest::newRow("--help") << u"--help"_s << Outcome::Help << QString();
        QTest::newRow("--version") << u"--version"_s << Outcome::Version << QString();
        QTest::newRow("--units 3 to 65535")
            << u"--units 3 --listen 127.0.0.1:65533"_s << Outcome::Run << u"127.0.0.1 65533 3"_s;
        QTest::newRow("--units 4096") << u"--units 4096"_s << Outcome::Run << u"127.0.0.1 4000 4096"_s;
        for (const char* refused :
             {"--listen 127.0.0.1", "--listen ::1:4000", "--listen 127.0.0.1:65536",
              "--listen host.example:4000", "--split 112", "--split 0", "--split abc", "--reply-bytes 0",
              "--close-after -1", "--no-reply --split 3", "--seed -5", "--chaos x", "--bogus", "4000",
              "--never-read --flood", "--never-read --bad-input"})
            QTest::newRow(refused) << QString::fromLatin1(refused) << Outcome::Error << QString();
        for (const char* refused :
             {"--wire 05=00", "--wire 01=12", "--wire 01", "--wire 01=00,", "--wire 1=a", "--wire-delay x",
              "--wire-delay 61", "--bounce -1", "--pulse 03=0", "--pulse 03=501", "--pulse 03",
              "--pulse 12=1", "--pulse 3=1,03=2", "--units 0", "--units 4097", "--units x",
              "--units 3 --listen 127.0.0.1:65534", "--units 2 --listen 127.0.0.1:0"})
            QTest::newRow(refused) << QString::fromLatin1(refused) << Outcome::Error << QString();
    }
    void commandLine() {
        QFETCH(QString, args);
        QFETCH(lumora::emulator::CommandLine::Outcome, outcome);
        QFETCH(QString, listen);
        const lumora::emulator::CommandLine parsed =
            lumora::emulator::parseCommandLine(QStringList{u"unit"_s} + args.split(u' ', Qt::SkipEmptyParts));
        QCOMPARE(parsed.outcome, outcome);
        const QString units = parsed.options.units != 1 ? u" %1"_s.arg(parsed.options.units) : QString();
        if (outcome == lumora::emulator::CommandLine::Outcome::Run)
            QCOMPARE(parsed.options.address.toString() + u' ' + QString::number(parsed.options.port) + units,
                     listen);
        else
            QVERIFY(!parsed.text.isEmpty());
    }

    void binary_data() {
        // args: %1: a port that is in use; signalNumber: sent once it has answered a request; says: a pattern
        // over standard output, then standard error
        columns<QString, int, int, QString>("args", "signalNumber", "exitCode", "says");
        QTest::newRow("SIGTERM") << QString() << int(SIGTERM) << 0 << u"stopped by signal, exiting\n$"_s;
        QTest::newRow("SIGINT") << QString() << int(SIGINT) << 0 << u"stopped by signal, exiting\n$"_s;
        QTest::newRow("port in use") << u"--listen 127.0.0.1:%1"_s << 0 << 1
                                     << u"lumora-7150r-unit: cannot listen on 127\\.0\\.0\\.1:%1: .*in use"_s;
        QTest::newRow("bad argument") << u"--split zero"_s << 0 << 2 << u"--split"_s;
        QTest::newRow("port in use in a rack")
            << u"--listen 127.0.0.1:%0 --units 3"_s << 0 << 1
            << u"lumora-7150r-unit: cannot listen on 127\\.0\\.0\\.1:%1: .*in use"_s;
        QTest::newRow("rack past 65535")
            << u"--listen 127.0.0.1:65534 --units 3"_s << 0 << 2 << u"past port 65535"_s;
        QTest::newRow("no units") << u"--units 0"_s << 0 << 2 << u"--units"_s;
        QTest::newRow("wired and pulsed") << u"--wire 01=03 --pulse 03=10"_s << 0 << 2
                                          << u"input 03 is both wired \\(--wire\\) and pulsed"_s;
    }
    // Started after "--listen 127.0.0.1:0": a later --listen wins.
    void binary() {
        QFETCH(QString, args);
        QFETCH(int, signalNumber);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(occupant.serverPort());
        const QString before = QString::number(occupant.serverPort() - 1);
        testsupport::UnitEmulator unit;
        // A rack may say where its first units listen before a later port fails.
        const bool started =
            unit.start(args.replace(u"%1"_s, port).replace(u"%0"_s, before).split(u' ', Qt::SkipEmptyParts));
        QVERIFY(started || signalNumber == 0);
        if (signalNumber != 0) {
            QVERIFY(Client(unit.port).ask("52"));
            QCOMPARE(::kill(pid_t(unit.process.processId()), signalNumber), 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(unit.process.state(), QProcess::NotRunning, kTimeoutMs);
        QCOMPARE(unit.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(unit.process.exitCode(), exitCode);
        const QString said = QString::fromLocal8Bit(unit.process.readAllStandardOutput() +
                                                    unit.process.readAllStandardError());
        QVERIFY2(said.contains(QRegularExpression(says.replace(u"%1"_s, port))), qPrintable(said));
    }

    // Unit i of a rack answers on the i-th port with the pattern of seed + i, and a
    // rack with a taken port gives every port back.
    void rack_data() {
        QTest::addColumn<int>("taken"); // index of a port held by someone else, -1 for none
        QTest::newRow("all free") << -1;
        QTest::newRow("middle taken") << 1;
    }
    void rack() {
        QFETCH(int, taken);
        constexpr int kUnits = 3;
        constexpr std::uint64_t kSeed = 424242;
        const quint16 first = freePortRun(kUnits);
        QVERIFY(first != 0);
        QTcpServer occupant;
        if (taken >= 0)
            QVERIFY(occupant.listen(QHostAddress::LocalHost, quint16(first + taken)));
        SetClock counting;
        counting.now = kCountingMs;
        lumora::emulator::UnitGroup group({.seed = kSeed}, kUnits, counting, [](const QString&) {});
        QCOMPARE(group.listen(QHostAddress::LocalHost, first), taken < 0);
        if (taken >= 0) {
            QCOMPARE(group.failedPort(), quint16(first + taken));
            QTcpServer again;
            QVERIFY(again.listen(QHostAddress::LocalHost, first));
            return;
        }
        for (int i = 0; i < kUnits; ++i) {
            Client client(quint16(first + i));
            QVERIFY(client.ask("540100000152"));
            QByteArray expected = lumora::emulator::UnitSimulation(kSeed + i).statusReply(kCountingMs);
            expected.replace(kOutputAt, 4, QByteArray::fromHex("01000001"));
            QCOMPARE(client.received, expected);
        }
    }

    // Too few descriptors for the signal watcher's pair: a status of its own, at a limit the libraries set.
    void binaryWithoutSignalWatch() {
        for (int limit = 3; limit <= 8; ++limit) {
            QProcess unit;
            unit.start(u"sh"_s, {u"-c"_s, u"ulimit -n %1 && exec \"$0\" --listen 127.0.0.1:0"_s.arg(limit),
                                 testsupport::UnitEmulator::program()});
            // Once it listens, every higher limit lets it start too.
            if (!unit.waitForFinished(kSettleMs * 10))
                break;
            if (QString::fromLocal8Bit(unit.readAllStandardError())
                    .startsWith(u"lumora-7150r-unit: cannot watch for signals: "_s)) {
                QCOMPARE(unit.exitCode(), 3);
                return;
            }
        }
        QSKIP("no descriptor limit stops the unit at its signal watcher here");
    }
};

LUMORA_TEST_MAIN_CORE(tst_Emulator)

#include "tst_emulator.moc"
