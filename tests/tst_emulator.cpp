#include "testsupport.h"

#include "emulator/chaos.h"
#include "emulator/command_line.h"
#include "emulator/frame_reader.h"
#include "emulator/unit_server.h"
#include "emulator/unit_simulation.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <set>

#include <signal.h>
#include <sys/types.h>

using namespace Qt::StringLiterals;
using emulator::Behaviour;
using emulator::UnitServer;

namespace {

// The unit's reply as the client sees it on the wire.
constexpr qsizetype kReplySize = 112;
constexpr int kInputs = 12;
constexpr int kCounterAt = 12;
constexpr int kGapAt = 60;
constexpr int kOutputAt = 108;

// The simulated inputs toggle 50 ms to 2 s apart, so rising edges are 100 ms
// to 4 s apart.
constexpr std::int64_t kShortestToggleMs = 50;
constexpr std::int64_t kLongestToggleMs = 2000;
constexpr std::int64_t kShortestGapMs = 2 * kShortestToggleMs;
constexpr std::int64_t kLongestGapMs = 2 * kLongestToggleMs;

constexpr int kTimeoutMs = 10000;
constexpr int kSettleMs = 300;
// Long enough that the two parts of a split reply cannot merge on a busy machine.
constexpr int kTestSplitDelayMs = 300;

quint32 le32(const QByteArray& bytes, int offset) {
    return quint32(quint8(bytes.at(offset))) | quint32(quint8(bytes.at(offset + 1))) << 8 |
           quint32(quint8(bytes.at(offset + 2))) << 16 | quint32(quint8(bytes.at(offset + 3))) << 24;
}

quint32 counterOf(const QByteArray& reply, int k) {
    return le32(reply, kCounterAt + 4 * k);
}
quint32 gapOf(const QByteArray& reply, int k) {
    return le32(reply, kGapAt + 4 * k);
}

// An in-process unit on an ephemeral loopback port, with a clock the test sets.
struct Rig {
    explicit Rig(Behaviour behaviour = {})
        : server(
              behaviour, [this] { return now; }, [this](const QString& line) { lines << line; }) {}

    bool start() { return server.listen(QHostAddress::LocalHost, 0); }
    bool printed(const QString& fragment) const {
        return std::any_of(lines.cbegin(), lines.cend(),
                           [&](const QString& l) { return l.contains(fragment); });
    }

    std::int64_t now = 0;
    QStringList lines;
    UnitServer server;
};

// A client that records each arrival separately, to tell a split reply apart.
struct Client {
    Client() {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            const QByteArray bytes = socket.readAll();
            arrivals << bytes.size();
            received += bytes;
        });
    }

    bool connectTo(quint16 port) {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; },
                               kTimeoutMs);
    }
    bool send(const QByteArray& bytes) { return socket.write(bytes) == bytes.size() && socket.flush(); }
    bool waitForBytes(qsizetype count) {
        return QTest::qWaitFor([&] { return received.size() >= count; }, kTimeoutMs);
    }
    bool waitForClose() {
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; },
                               kTimeoutMs);
    }

    QTcpSocket socket;
    QList<qsizetype> arrivals;
    QByteArray received;
};

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

struct Started {
    std::unique_ptr<QProcess> process;
    quint16 port = 0;
};

// Starts the built program on a free loopback port and reads the port it
// reports in its start-up line.
Started startBinary(const QStringList& extra = {}) {
    Started started;
    const QString program = qEnvironmentVariable("LUMORA_EMULATOR");
    started.process = std::make_unique<QProcess>();
    started.process->start(program,
                           QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + extra);
    if (!started.process->waitForStarted(kTimeoutMs)) {
        return started;
    }
    static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QByteArray output;
    while (started.port == 0 && started.process->waitForReadyRead(kTimeoutMs)) {
        output += started.process->readAllStandardOutput();
        const QRegularExpressionMatch match = listening.match(QString::fromLocal8Bit(output));
        if (match.hasMatch()) {
            started.port = match.captured(1).toUShort();
        }
    }
    return started;
}

} // namespace

class TestEmulator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void frameReader_data();
    void frameReader();
    void replyLayout();
    void countersFollowInputs();
    void outputsEchoed_data();
    void outputsEchoed();
    void counterReset();
    void framesAcrossWrites_data();
    void framesAcrossWrites();
    void splitReply_data();
    void splitReply();
    void noReply();
    void replyBytes_data();
    void replyBytes();
    void closeAfter_data();
    void closeAfter();
    void determinism();
    void chaosPlan();
    void chaosOnTheWire();
    void outputLines();
    void quietOutput();
    void commandLine_data();
    void commandLine();
    void binaryStopsOnSignal_data();
    void binaryStopsOnSignal();
    void binaryPortInUse();
    void binaryBadArgument();
};

void TestEmulator::frameReader_data() {
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("frames");

    QTest::newRow("52") << QList<QByteArray>{hex("52")} << QStringList{u"status 52"_s};
    QTest::newRow("54 01 02 03 04") << QList<QByteArray>{hex("5401020304")}
                                    << QStringList{u"output 5401020304"_s};
    QTest::newRow("43 41") << QList<QByteArray>{hex("4341")} << QStringList{u"reset 4341"_s};
    QTest::newRow("54 | 01 02 03 04")
        << QList<QByteArray>{hex("54"), hex("01020304")} << QStringList{u"output 5401020304"_s};
    QTest::newRow("54 01 02 | 03 | 04")
        << QList<QByteArray>{hex("540102"), hex("03"), hex("04")} << QStringList{u"output 5401020304"_s};
    QTest::newRow("43 | 41") << QList<QByteArray>{hex("43"), hex("41")} << QStringList{u"reset 4341"_s};
    QTest::newRow("52 54 00 00 00 00 43 41 52")
        << QList<QByteArray>{hex("525400000000434152")}
        << QStringList{u"status 52"_s, u"output 5400000000"_s, u"reset 4341"_s, u"status 52"_s};
    QTest::newRow("54 52 52 52 52 takes four bytes")
        << QList<QByteArray>{hex("5452525252")} << QStringList{u"output 5452525252"_s};
    QTest::newRow("7a 52") << QList<QByteArray>{hex("7a52")} << QStringList{u"unknown 7a"_s, u"status 52"_s};
    QTest::newRow("43 52 stray C") << QList<QByteArray>{hex("4352")}
                                   << QStringList{u"unknown 43"_s, u"status 52"_s};
    QTest::newRow("43 43 41") << QList<QByteArray>{hex("434341")}
                              << QStringList{u"unknown 43"_s, u"reset 4341"_s};
    QTest::newRow("41 alone") << QList<QByteArray>{hex("41")} << QStringList{u"unknown 41"_s};
    QTest::newRow("54 00 00 incomplete") << QList<QByteArray>{hex("540000")} << QStringList{};
    QTest::newRow("43 incomplete") << QList<QByteArray>{hex("43")} << QStringList{};
}

void TestEmulator::frameReader() {
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, frames);

    emulator::FrameReader reader;
    QStringList seen;
    for (const QByteArray& chunk : chunks) {
        reader.append(chunk);
        while (const std::optional<emulator::Frame> frame = reader.next()) {
            const char* kind = "unknown";
            switch (frame->kind) {
            case emulator::FrameKind::StatusRequest:
                kind = "status";
                break;
            case emulator::FrameKind::OutputSetting:
                kind = "output";
                break;
            case emulator::FrameKind::CounterReset:
                kind = "reset";
                break;
            case emulator::FrameKind::UnknownByte:
                break;
            }
            seen << QLatin1String(kind) + QLatin1Char(' ') + QString::fromLatin1(frame->bytes.toHex());
        }
    }
    QCOMPARE(seen, frames);
}

void TestEmulator::replyLayout() {
    Rig rig;
    QVERIFY(rig.start());
    Client client;
    QVERIFY(client.connectTo(rig.server.serverPort()));

    // At start nothing has been counted and no output has been set.
    QVERIFY(client.send(hex("52")));
    QVERIFY(client.waitForBytes(kReplySize));
    const QByteArray first = client.received;
    QCOMPARE(first.size(), kReplySize);
    for (int k = 0; k < kInputs; ++k) {
        QVERIFY(quint8(first.at(k)) <= 1);
        QCOMPARE(counterOf(first, k), 0U);
        QCOMPARE(gapOf(first, k), 0U);
    }
    QCOMPARE(first.mid(kOutputAt), hex("00000000"));

    constexpr std::int64_t later = 30000;
    rig.now = later;
    client.received.clear();
    QVERIFY(client.send(hex("52")));
    QVERIFY(client.waitForBytes(kReplySize));
    QTest::qWait(kSettleMs);
    const QByteArray reply = client.received;
    QCOMPARE(reply.size(), kReplySize);
    for (int k = 0; k < kInputs; ++k) {
        QVERIFY2(quint8(reply.at(k)) <= 1, qPrintable(QStringLiteral("input %1").arg(k)));
        const quint32 count = counterOf(reply, k);
        QVERIFY2(count >= later / kLongestGapMs - 1 && count <= later / kShortestGapMs + 1,
                 qPrintable(QStringLiteral("counter %1 = %2").arg(k).arg(count)));
        const quint32 gap = gapOf(reply, k);
        QVERIFY2(gap >= kShortestGapMs && gap <= kLongestGapMs,
                 qPrintable(QStringLiteral("time gap %1 = %2").arg(k).arg(gap)));
    }
}

// Watches the inputs millisecond by millisecond through the replies alone
// and checks that counters and time gaps tell the same story.
void TestEmulator::countersFollowInputs() {
    emulator::UnitSimulation unit(emulator::kDefaultSeed);
    constexpr std::int64_t span = 20000;
    std::array<quint8, kInputs> level{};
    std::array<quint32, kInputs> rises{};
    std::array<std::int64_t, kInputs> lastRise{};
    std::array<std::int64_t, kInputs> previousRise{};
    std::array<std::int64_t, kInputs> lastToggle{};
    lastRise.fill(-1);
    previousRise.fill(-1);

    const QByteArray start = unit.statusReply(0);
    for (int k = 0; k < kInputs; ++k) {
        level[k] = quint8(start.at(k));
    }
    for (std::int64_t t = 1; t <= span; ++t) {
        const QByteArray reply = unit.statusReply(t);
        for (int k = 0; k < kInputs; ++k) {
            const auto now = quint8(reply.at(k));
            QVERIFY(now <= 1);
            if (now != level[k]) {
                QVERIFY2(t - lastToggle[k] >= kShortestToggleMs,
                         qPrintable(QStringLiteral("input %1 toggled twice within %2 ms at %3")
                                        .arg(k)
                                        .arg(t - lastToggle[k])
                                        .arg(t)));
                lastToggle[k] = t;
                if (now == 1) {
                    ++rises[k];
                    previousRise[k] = lastRise[k];
                    lastRise[k] = t;
                }
                level[k] = now;
            }
            QVERIFY2(t - lastToggle[k] <= kLongestToggleMs,
                     qPrintable(QStringLiteral("input %1 stuck since %2").arg(k).arg(lastToggle[k])));
            const quint32 expectedGap = previousRise[k] < 0 ? 0U : quint32(lastRise[k] - previousRise[k]);
            if (counterOf(reply, k) != rises[k] || gapOf(reply, k) != expectedGap) {
                QFAIL(qPrintable(
                    QStringLiteral("at %1 ms input %2: counter %3 (seen %4 rises), gap %5 (seen %6)")
                        .arg(t)
                        .arg(k)
                        .arg(counterOf(reply, k))
                        .arg(rises[k])
                        .arg(gapOf(reply, k))
                        .arg(expectedGap)));
            }
        }
    }
    for (int k = 0; k < kInputs; ++k) {
        QVERIFY(rises[k] >= 2);
    }
}

void TestEmulator::outputsEchoed_data() {
    QTest::addColumn<QByteArray>("outputs");

    QTest::newRow("01 00 00 01") << hex("01000001");
    QTest::newRow("02 00 00 00") << hex("02000000");
    QTest::newRow("00 01 02 01") << hex("00010201");
    QTest::newRow("ff 10 00 02") << hex("ff100002");
    QTest::newRow("00 00 00 00") << hex("00000000");
}

void TestEmulator::outputsEchoed() {
    QFETCH(QByteArray, outputs);

    Rig rig;
    QVERIFY(rig.start());
    Client client;
    Client other;
    QVERIFY(client.connectTo(rig.server.serverPort()));
    QVERIFY(other.connectTo(rig.server.serverPort()));

    QVERIFY(client.send(hex("54") + outputs + hex("52")));
    QVERIFY(client.waitForBytes(kReplySize));
    QCOMPARE(client.received.mid(kOutputAt), outputs);

    // One unit: a second client sees the outputs the first one set.
    QVERIFY(other.send(hex("52")));
    QVERIFY(other.waitForBytes(kReplySize));
    QCOMPARE(other.received.mid(kOutputAt), outputs);
}

void TestEmulator::counterReset() {
    Rig rig;
    QVERIFY(rig.start());
    Client client;
    QVERIFY(client.connectTo(rig.server.serverPort()));

    rig.now = 10000;
    QVERIFY(client.send(hex("52")));
    QVERIFY(client.waitForBytes(kReplySize));
    const QByteArray before = client.received;
    for (int k = 0; k < kInputs; ++k) {
        QVERIFY(counterOf(before, k) > 0);
    }

    QVERIFY(client.send(hex("434152")));
    QVERIFY(client.waitForBytes(2 * kReplySize));
    const QByteArray after = client.received.mid(kReplySize);
    QCOMPARE(after.left(kInputs), before.left(kInputs));
    for (int k = 0; k < kInputs; ++k) {
        QCOMPARE(counterOf(after, k), 0U);
    }

    rig.now = 20000;
    QVERIFY(client.send(hex("52")));
    QVERIFY(client.waitForBytes(3 * kReplySize));
    const QByteArray resumed = client.received.mid(2 * kReplySize);
    for (int k = 0; k < kInputs; ++k) {
        QVERIFY(counterOf(resumed, k) > 0);
        QVERIFY(counterOf(resumed, k) <= 10000 / kShortestGapMs + 1);
    }
}

void TestEmulator::framesAcrossWrites_data() {
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<int>("replies");
    QTest::addColumn<QByteArray>("outputs");
    QTest::addColumn<bool>("countersCleared");

    QTest::newRow("52") << QList<QByteArray>{hex("52")} << 1 << hex("00000000") << false;
    QTest::newRow("54 | 01 02 03 04 | 52")
        << QList<QByteArray>{hex("54"), hex("01020304"), hex("52")} << 1 << hex("01020304") << false;
    QTest::newRow("54 01 02 | 03 04 52")
        << QList<QByteArray>{hex("540102"), hex("030452")} << 1 << hex("01020304") << false;
    QTest::newRow("43 | 41 | 52") << QList<QByteArray>{hex("43"), hex("41"), hex("52")} << 1
                                  << hex("00000000") << true;
    QTest::newRow("54 01 00 00 00 43 41 52 in one write")
        << QList<QByteArray>{hex("5401000000434152")} << 1 << hex("01000000") << true;
    QTest::newRow("52 52 in one write") << QList<QByteArray>{hex("5252")} << 2 << hex("00000000") << false;
    QTest::newRow("7a 52 unknown byte") << QList<QByteArray>{hex("7a52")} << 1 << hex("00000000") << false;
    QTest::newRow("43 52 stray C") << QList<QByteArray>{hex("4352")} << 1 << hex("00000000") << false;
}

void TestEmulator::framesAcrossWrites() {
    QFETCH(QList<QByteArray>, writes);
    QFETCH(int, replies);
    QFETCH(QByteArray, outputs);
    QFETCH(bool, countersCleared);

    Rig rig;
    rig.now = 10000;
    QVERIFY(rig.start());
    Client client;
    QVERIFY(client.connectTo(rig.server.serverPort()));
    for (const QByteArray& bytes : writes) {
        QVERIFY(client.send(bytes));
        // Give each write its own arrival at the unit.
        QTest::qWait(50);
    }
    QVERIFY(client.waitForBytes(replies * kReplySize));
    QTest::qWait(kSettleMs);
    QCOMPARE(client.received.size(), replies * kReplySize);

    const QByteArray last = client.received.right(kReplySize);
    QCOMPARE(last.mid(kOutputAt), outputs);
    for (int k = 0; k < kInputs; ++k) {
        QCOMPARE(counterOf(last, k) == 0, countersCleared);
    }
}

void TestEmulator::splitReply_data() {
    QTest::addColumn<int>("splitAt");

    QTest::newRow("split 1") << 1;
    QTest::newRow("split 40") << 40;
    QTest::newRow("split 111") << 111;
}

void TestEmulator::splitReply() {
    QFETCH(int, splitAt);

    Behaviour behaviour;
    behaviour.splitAt = splitAt;
    behaviour.splitDelayMs = kTestSplitDelayMs;
    Rig rig(behaviour);
    QVERIFY(rig.start());
    Client client;
    QVERIFY(client.connectTo(rig.server.serverPort()));

    QVERIFY(client.send(hex("5401020304") + hex("52")));
    QVERIFY(client.waitForBytes(kReplySize));
    QTest::qWait(kSettleMs);
    QCOMPARE(client.arrivals, (QList<qsizetype>{splitAt, kReplySize - splitAt}));
    QCOMPARE(client.received.mid(kOutputAt), hex("01020304"));
}

void TestEmulator::noReply() {
    Behaviour behaviour;
    behaviour.noReply = true;
    Rig rig(behaviour);
    QVERIFY(rig.start());
    Client client;
    QVERIFY(client.connectTo(rig.server.serverPort()));

    QVERIFY(client.send(hex("52")));
    QVERIFY(QTest::qWaitFor([&] { return rig.printed(QStringLiteral("RECV 52 ")); }, kTimeoutMs));
    QTest::qWait(kSettleMs);
    QCOMPARE(client.received.size(), qsizetype(0));
    QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
}

void TestEmulator::replyBytes_data() {
    QTest::addColumn<int>("length");

    QTest::newRow("reply-bytes 111") << 111;
    QTest::newRow("reply-bytes 113") << 113;
    QTest::newRow("reply-bytes 1") << 1;
    QTest::newRow("reply-bytes 224") << 224;
}

void TestEmulator::replyBytes() {
    QFETCH(int, length);

    Behaviour behaviour;
    behaviour.replyBytes = length;
    Rig rig(behaviour);
    QVERIFY(rig.start());
    Client client;
    QVERIFY(client.connectTo(rig.server.serverPort()));

    QVERIFY(client.send(hex("5401010101") + hex("52")));
    QVERIFY(client.waitForBytes(length));
    QTest::qWait(kSettleMs);
    const QByteArray reply = client.received;
    QCOMPARE(reply.size(), qsizetype(length));
    for (int k = 0; k < std::min(length, kInputs); ++k) {
        QVERIFY(quint8(reply.at(k)) <= 1);
    }
    if (length >= kReplySize) {
        QCOMPARE(reply.mid(kOutputAt, 4), hex("01010101"));
        QCOMPARE(reply.mid(kReplySize), QByteArray(length - kReplySize, '\0'));
    } else if (length > kOutputAt) {
        QCOMPARE(reply.mid(kOutputAt), hex("01010101").left(length - kOutputAt));
    }
}

void TestEmulator::closeAfter_data() {
    QTest::addColumn<int>("frames");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("replies");

    QTest::newRow("close after 1: 52") << 1 << hex("52") << 1;
    QTest::newRow("close after 3: 52 52 52 52") << 3 << hex("52525252") << 3;
    QTest::newRow("close after 2: 54 01 00 00 00 52 52") << 2 << hex("54010000005252") << 1;
    QTest::newRow("close after 1: 43 41 52") << 1 << hex("434152") << 0;
    QTest::newRow("close after 2: 7a 52 52, unknown byte not counted") << 2 << hex("7a5252") << 2;
}

void TestEmulator::closeAfter() {
    QFETCH(int, frames);
    QFETCH(QByteArray, sent);
    QFETCH(int, replies);

    Behaviour behaviour;
    behaviour.closeAfterFrames = frames;
    Rig rig(behaviour);
    QVERIFY(rig.start());
    Client client;
    QVERIFY(client.connectTo(rig.server.serverPort()));

    QVERIFY(client.send(sent));
    QVERIFY(client.waitForClose());
    QCOMPARE(client.received.size(), replies * kReplySize);

    // The unit itself stays up for the next client.
    Client next;
    QVERIFY(next.connectTo(rig.server.serverPort()));
}

void TestEmulator::determinism() {
    constexpr std::uint64_t seed = 42;
    emulator::UnitSimulation a(seed);
    emulator::UnitSimulation b(seed);
    emulator::UnitSimulation other(seed + 1);
    bool differs = false;
    for (std::int64_t t = 0; t <= 60000; t += 37) {
        const QByteArray reply = a.statusReply(t);
        QCOMPARE(b.statusReply(t), reply);
        differs = differs || other.statusReply(t) != reply;
    }
    QVERIFY(differs);

    // Asking about an earlier moment gives what was reported then.
    emulator::UnitSimulation again(seed);
    QCOMPARE(again.statusReply(60000), a.statusReply(60000));
    QCOMPARE(again.statusReply(1234), b.statusReply(1234));
}

void TestEmulator::chaosPlan() {
    constexpr int draws = 20000;
    emulator::ChaosPlanner planner(7);
    emulator::ChaosPlanner twin(7);
    emulator::ChaosPlanner stranger(8);
    int misbehaved = 0;
    bool strangerDiffers = false;
    std::set<emulator::ChaosKind> kinds;
    for (int i = 0; i < draws; ++i) {
        const emulator::ChaosAction action = planner.next();
        const emulator::ChaosAction copy = twin.next();
        const emulator::ChaosAction foreign = stranger.next();
        QCOMPARE(copy.kind, action.kind);
        QCOMPARE(copy.amount, action.amount);
        strangerDiffers = strangerDiffers || foreign.kind != action.kind;
        kinds.insert(action.kind);
        if (action.kind != emulator::ChaosKind::None) {
            ++misbehaved;
        }
        if (action.kind == emulator::ChaosKind::Split) {
            QVERIFY(action.amount >= 1 && action.amount < kReplySize);
        }
        if (action.kind == emulator::ChaosKind::WrongLength) {
            QVERIFY(action.amount >= 1 && action.amount != kReplySize);
        }
    }
    QVERIFY(strangerDiffers);
    QCOMPARE(kinds.size(), std::size_t(5));
    QVERIFY2(misbehaved > draws / 20 && misbehaved < draws * 3 / 20,
             qPrintable(QStringLiteral("%1 of %2 misbehaved").arg(misbehaved).arg(draws)));
}

// Whatever chaos says it did is what the client gets.
void TestEmulator::chaosOnTheWire() {
    Behaviour behaviour;
    behaviour.chaosSeed = 3;
    behaviour.splitDelayMs = 1;
    Rig rig(behaviour);
    QVERIFY(rig.start());

    static const QRegularExpression wrongLength(QStringLiteral("replying with (\\d+) bytes"));
    std::set<QString> seen;
    auto client = std::make_unique<Client>();
    QVERIFY(client->connectTo(rig.server.serverPort()));
    for (int request = 0; request < 400 && seen.size() < 4; ++request) {
        const qsizetype linesBefore = rig.lines.size();
        client->received.clear();
        QVERIFY(client->send(hex("52")));
        QVERIFY(QTest::qWaitFor([&] { return rig.lines.size() > linesBefore + 1; }, kTimeoutMs));
        const QString told = rig.lines.mid(linesBefore).join(QLatin1Char('\n'));
        if (told.contains(QStringLiteral("chaos: closing"))) {
            seen.insert(QStringLiteral("close"));
            QVERIFY(client->waitForClose());
            QCOMPARE(client->received.size(), qsizetype(0));
            client = std::make_unique<Client>();
            QVERIFY(client->connectTo(rig.server.serverPort()));
        } else if (told.contains(QStringLiteral("chaos: leaving"))) {
            seen.insert(QStringLiteral("no reply"));
            QTest::qWait(50);
            QCOMPARE(client->received.size(), qsizetype(0));
        } else if (const QRegularExpressionMatch match = wrongLength.match(told); match.hasMatch()) {
            seen.insert(QStringLiteral("length"));
            const int length = match.captured(1).toInt();
            QVERIFY(client->waitForBytes(length));
            QTest::qWait(50);
            QCOMPARE(client->received.size(), qsizetype(length));
        } else {
            if (told.contains(QStringLiteral("chaos: splitting"))) {
                seen.insert(QStringLiteral("split"));
            }
            QVERIFY(client->waitForBytes(kReplySize));
            QTest::qWait(5);
            QCOMPARE(client->received.size(), kReplySize);
        }
    }
    QCOMPARE(seen.size(), std::size_t(4));
}

void TestEmulator::outputLines() {
    Rig rig;
    QVERIFY(rig.start());
    const QString port = QString::number(rig.server.serverPort());
    const QString stamp = QStringLiteral("^\\[\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] ");
    QVERIFY(QRegularExpression(stamp + QStringLiteral("listening on 127\\.0\\.0\\.1:") + port + u'$')
                .match(rig.lines.value(0))
                .hasMatch());

    Client client;
    QVERIFY(client.connectTo(rig.server.serverPort()));
    QVERIFY(client.send(hex("5401000002") + hex("52")));
    QVERIFY(client.waitForBytes(kReplySize));
    const quint16 clientPort = client.socket.localPort();
    client.socket.disconnectFromHost();
    QVERIFY(QTest::qWaitFor([&] { return rig.printed(QStringLiteral(" disconnected")); }, kTimeoutMs));

    const QString peer = QStringLiteral("127\\.0\\.0\\.1:%1 ").arg(clientPort);
    const QStringList expected{
        stamp + peer + QStringLiteral("connected$"),
        stamp + peer + QStringLiteral("RECV 54 01 00 00 02 $"),
        stamp + peer + QStringLiteral("RECV 52 $"),
        stamp + peer + QStringLiteral("SEND (?:(?:00|01) ){12}(?:[0-9A-F]{2} ){96}01 00 00 02 $"),
        stamp + peer + QStringLiteral("disconnected$"),
    };
    const QStringList perClient = rig.lines.filter(QStringLiteral("127.0.0.1:%1 ").arg(clientPort));
    QCOMPARE(perClient.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QVERIFY2(QRegularExpression(expected.at(i)).match(perClient.at(i)).hasMatch(),
                 qPrintable(perClient.at(i)));
    }
}

void TestEmulator::quietOutput() {
    Behaviour behaviour;
    behaviour.quiet = true;
    Rig rig(behaviour);
    QVERIFY(rig.start());
    Client client;
    QVERIFY(client.connectTo(rig.server.serverPort()));
    QVERIFY(client.send(hex("52")));
    QVERIFY(client.waitForBytes(kReplySize));

    QVERIFY(rig.printed(QStringLiteral(" connected")));
    QVERIFY(!rig.printed(QStringLiteral("RECV")));
    QVERIFY(!rig.printed(QStringLiteral("SEND")));
}

void TestEmulator::commandLine_data() {
    using Outcome = emulator::CommandLine::Outcome;
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("splitAt");
    QTest::addColumn<int>("replyBytes");
    QTest::addColumn<int>("closeAfter");
    QTest::addColumn<bool>("noReply");

    const auto run = int(Outcome::Run);
    const auto error = int(Outcome::Error);
    const QString local = QStringLiteral("127.0.0.1");
    auto row = [](const char* name, std::initializer_list<const char*> args) -> QTestData& {
        QStringList list{QStringLiteral("lumora-7150r-unit")};
        for (const char* arg : args) {
            list << QString::fromLatin1(arg);
        }
        return QTest::newRow(name) << list;
    };

    row("no arguments", {}) << run << local << 4000 << 0 << 112 << 0 << false;
    row("--listen [::1]:4000", {"--listen", "[::1]:4000"})
        << run << u"::1"_s << 4000 << 0 << 112 << 0 << false;
    row("--listen 127.0.0.1:0", {"--listen", "127.0.0.1:0"}) << run << local << 0 << 0 << 112 << 0 << false;
    row("--listen 127.0.0.1:65535", {"--listen", "127.0.0.1:65535"})
        << run << local << 65535 << 0 << 112 << 0 << false;
    row("--listen 127.0.0.1", {"--listen", "127.0.0.1"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--listen ::1:4000", {"--listen", "::1:4000"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--listen 127.0.0.1:65536", {"--listen", "127.0.0.1:65536"})
        << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--listen host.example:4000", {"--listen", "host.example:4000"})
        << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--split 40", {"--split", "40"}) << run << local << 4000 << 40 << 112 << 0 << false;
    row("--split 111", {"--split", "111"}) << run << local << 4000 << 111 << 112 << 0 << false;
    row("--split 112", {"--split", "112"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--split 0", {"--split", "0"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--split abc", {"--split", "abc"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--reply-bytes 200 --split 150", {"--reply-bytes", "200", "--split", "150"})
        << run << local << 4000 << 150 << 200 << 0 << false;
    row("--reply-bytes 111", {"--reply-bytes", "111"}) << run << local << 4000 << 0 << 111 << 0 << false;
    row("--reply-bytes 0", {"--reply-bytes", "0"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--close-after 3", {"--close-after", "3"}) << run << local << 4000 << 0 << 112 << 3 << false;
    row("--close-after -1", {"--close-after", "-1"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--no-reply", {"--no-reply"}) << run << local << 4000 << 0 << 112 << 0 << true;
    row("--no-reply --split 3", {"--no-reply", "--split", "3"})
        << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--seed -5", {"--seed", "-5"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--chaos x", {"--chaos", "x"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--bogus", {"--bogus"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("stray argument", {"4000"}) << error << QString() << 0 << 0 << 0 << 0 << false;
    row("--help", {"--help"}) << int(Outcome::Help) << QString() << 0 << 0 << 0 << 0 << false;
}

void TestEmulator::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, outcome);
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(int, splitAt);
    QFETCH(int, replyBytes);
    QFETCH(int, closeAfter);
    QFETCH(bool, noReply);

    const emulator::CommandLine parsed = emulator::parseCommandLine(args);
    QCOMPARE(int(parsed.outcome), outcome);
    if (parsed.outcome != emulator::CommandLine::Outcome::Run) {
        QVERIFY(!parsed.text.isEmpty());
        return;
    }
    QCOMPARE(parsed.options.address, QHostAddress(address));
    QCOMPARE(int(parsed.options.port), port);
    QCOMPARE(parsed.options.behaviour.splitAt, splitAt);
    QCOMPARE(parsed.options.behaviour.replyBytes, replyBytes);
    QCOMPARE(parsed.options.behaviour.closeAfterFrames, closeAfter);
    QCOMPARE(parsed.options.behaviour.noReply, noReply);
}

void TestEmulator::binaryStopsOnSignal_data() {
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestEmulator::binaryStopsOnSignal() {
    QFETCH(int, signalNumber);
    if (qEnvironmentVariableIsEmpty("LUMORA_EMULATOR")) {
        QSKIP("LUMORA_EMULATOR is not set; run under CTest");
    }

    const Started started = startBinary();
    QVERIFY(started.port != 0);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, started.port);
    QVERIFY(socket.waitForConnected(kTimeoutMs));
    QCOMPARE(socket.write(hex("52")), 1);
    QByteArray reply;
    while (reply.size() < kReplySize && socket.waitForReadyRead(kTimeoutMs)) {
        reply += socket.readAll();
    }
    QCOMPARE(reply.size(), kReplySize);

    QCOMPARE(::kill(pid_t(started.process->processId()), signalNumber), 0);
    QVERIFY(started.process->waitForFinished(kTimeoutMs));
    QCOMPARE(started.process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(started.process->exitCode(), 0);
    const QString output = QString::fromLocal8Bit(started.process->readAllStandardOutput());
    QVERIFY2(output.contains(QStringLiteral("stopped by signal, exiting")), qPrintable(output));
}

void TestEmulator::binaryPortInUse() {
    if (qEnvironmentVariableIsEmpty("LUMORA_EMULATOR")) {
        QSKIP("LUMORA_EMULATOR is not set; run under CTest");
    }
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(occupant.serverPort());

    QProcess process;
    process.start(qEnvironmentVariable("LUMORA_EMULATOR"), {QStringLiteral("--listen"), endpoint});
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(error.contains(endpoint), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("in use")), qPrintable(error));
}

void TestEmulator::binaryBadArgument() {
    if (qEnvironmentVariableIsEmpty("LUMORA_EMULATOR")) {
        QSKIP("LUMORA_EMULATOR is not set; run under CTest");
    }
    QProcess process;
    process.start(qEnvironmentVariable("LUMORA_EMULATOR"),
                  {QStringLiteral("--split"), QStringLiteral("zero")});
    QVERIFY(process.waitForFinished(kTimeoutMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(QString::fromLocal8Bit(process.readAllStandardError()).contains(QStringLiteral("--split")));
}

LUMORA_TEST_MAIN_CORE(TestEmulator)

#include "tst_emulator.moc"
