#include "ping/ping_tick.h"
#include "testsupport.h"

#include <QtTest>

namespace {

// Records what the tick asks of the platform and answers as told.
class FakeIcmp final : public platform::IcmpService {
public:
    struct EchoCall {
        platform::Ipv4 destination = 0;
        int ttl = 0;
        int timeoutMs = 0;
    };

    std::optional<platform::Ipv4> resolveFirstIpv4(const QByteArray& hostName) override {
        resolvedNames.append(hostName);
        return resolution;
    }

    platform::EchoOutcome echo(platform::Ipv4 destination, int ttl, int timeoutMs) override {
        echoCalls.append(EchoCall{destination, ttl, timeoutMs});
        return outcome;
    }

    std::optional<platform::Ipv4> resolution = std::nullopt;
    platform::EchoOutcome outcome = {};
    QList<QByteArray> resolvedNames = {};
    QList<EchoCall> echoCalls = {};
};

platform::EchoOutcome replyOutcome(platform::Ipv4 from, quint32 roundTripMs, quint16 dataSize, quint8 ttl) {
    platform::EchoOutcome outcome;
    outcome.kind = platform::EchoOutcome::Kind::Reply;
    outcome.reply.from = from;
    outcome.reply.roundTripMs = roundTripMs;
    outcome.reply.dataSize = dataSize;
    outcome.reply.ttl = ttl;
    return outcome;
}

constexpr platform::Ipv4 kAddress10_1_2_3 = 0x0A010203;

} // namespace

class TestPingTick : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dottedText_data();
    void dottedText();
    void unknownHost_data();
    void unknownHost();
    void hostNameGivenToResolver_data();
    void hostNameGivenToResolver();
    void requestParameters_data();
    void requestParameters();
    void noAnswer_data();
    void noAnswer();
    void reply_data();
    void reply();
    void notAvailable_data();
    void notAvailable();
};

void TestPingTick::dottedText_data() {
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0x0A010203") << quint32{0x0A010203} << QStringLiteral("10.1.2.3");
    QTest::newRow("0x01020304") << quint32{0x01020304} << QStringLiteral("1.2.3.4");
    QTest::newRow("0xC0010000") << quint32{0xC0010000} << QStringLiteral("192.1.0.0");
    QTest::newRow("0xFFFFFFFF") << quint32{0xFFFFFFFF} << QStringLiteral("255.255.255.255");
    QTest::newRow("0x00000000") << quint32{0x00000000} << QStringLiteral("0.0.0.0");
    QTest::newRow("0x7F000001") << quint32{0x7F000001} << QStringLiteral("127.0.0.1");
}

void TestPingTick::dottedText() {
    QFETCH(quint32, address);
    QFETCH(QString, expected);
    QCOMPARE(ping::dottedText(address), expected);
}

void TestPingTick::unknownHost_data() {
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no-such-host") << QStringLiteral("no-such-host")
                                  << QStringLiteral("Ping: Unknown Host no-such-host");
    QTest::newRow("  bad host  ") << QStringLiteral("  bad host  ")
                                  << QStringLiteral("Ping: Unknown Host   bad host  ");
    QTest::newRow("empty") << QString() << QStringLiteral("Ping: Unknown Host ");
    QTest::newRow("blanks only") << QStringLiteral("   ") << QStringLiteral("Ping: Unknown Host    ");
    QTest::newRow("75 characters") << QString(75, u'x')
                                   << QStringLiteral("Ping: Unknown Host ") + QString(75, u'x');
}

void TestPingTick::unknownHost() {
    QFETCH(QString, addressText);
    QFETCH(QString, expected);

    FakeIcmp icmp;
    QCOMPARE(ping::runTick(addressText, icmp), expected);
    QCOMPARE(icmp.resolvedNames.size(), 1);
    QVERIFY2(icmp.echoCalls.isEmpty(), "an unresolved name must not be pinged");
}

void TestPingTick::hostNameGivenToResolver_data() {
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray name64(64, 'a');
    const QByteArray name70 = name64 + QByteArray("bcdefg");

    QTest::newRow("10.1.2.3") << QStringLiteral("10.1.2.3") << QByteArray("10.1.2.3");
    QTest::newRow("  10.1.2.3  ") << QStringLiteral("  10.1.2.3  ") << QByteArray("10.1.2.3");
    QTest::newRow(" unit .example ") << QStringLiteral(" unit .example ") << QByteArray("unit .example");
    QTest::newRow("64 characters") << QString::fromLatin1(name64) << name64;
    QTest::newRow("70 characters") << QString::fromLatin1(name70) << name64;
    QTest::newRow("70 characters between blanks")
        << QStringLiteral("   ") + QString::fromLatin1(name70) + QStringLiteral("  ") << name64;
    QTest::newRow("63 characters then trailing blanks")
        << QString(63, u'z') + QStringLiteral("     ") << QByteArray(63, 'z');
}

void TestPingTick::hostNameGivenToResolver() {
    QFETCH(QString, addressText);
    QFETCH(QByteArray, expected);

    FakeIcmp icmp;
    ping::runTick(addressText, icmp);
    QCOMPARE(icmp.resolvedNames.size(), 1);
    QCOMPARE(icmp.resolvedNames.constFirst(), expected);
}

void TestPingTick::requestParameters_data() {
    QTest::addColumn<quint32>("resolved");

    QTest::newRow("10.1.2.3") << quint32{kAddress10_1_2_3};
    QTest::newRow("192.1.1.110") << quint32{0xC001016E};
}

void TestPingTick::requestParameters() {
    QFETCH(quint32, resolved);

    FakeIcmp icmp;
    icmp.resolution = resolved;
    ping::runTick(QStringLiteral("unit"), icmp);
    QCOMPARE(icmp.echoCalls.size(), 1);
    QCOMPARE(icmp.echoCalls.constFirst().destination, resolved);
    QCOMPARE(icmp.echoCalls.constFirst().ttl, 255);
    QCOMPARE(icmp.echoCalls.constFirst().timeoutMs, 2700);
}

void TestPingTick::noAnswer_data() {
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<quint32>("resolved");
    QTest::addColumn<QString>("expected");

    QTest::newRow("10.1.2.3") << QStringLiteral("10.1.2.3") << quint32{kAddress10_1_2_3}
                              << QStringLiteral("No answer from 10.1.2.3");
    QTest::newRow("255.255.255.255") << QStringLiteral("255.255.255.255") << quint32{0xFFFFFFFF}
                                     << QStringLiteral("No answer from 255.255.255.255");
    QTest::newRow("0.0.0.0") << QStringLiteral("0.0.0.0") << quint32{0}
                             << QStringLiteral("No answer from 0.0.0.0");
    QTest::newRow("host name resolving to 172.16.0.9")
        << QStringLiteral(" unit-7150r ") << quint32{0xAC100009}
        << QStringLiteral("No answer from 172.16.0.9");
}

void TestPingTick::noAnswer() {
    QFETCH(QString, addressText);
    QFETCH(quint32, resolved);
    QFETCH(QString, expected);

    FakeIcmp icmp;
    icmp.resolution = resolved;
    icmp.outcome.kind = platform::EchoOutcome::Kind::NoAnswer;
    QCOMPARE(ping::runTick(addressText, icmp), expected);
    QCOMPARE(icmp.echoCalls.size(), 1);
}

void TestPingTick::reply_data() {
    QTest::addColumn<quint32>("resolved");
    QTest::addColumn<quint32>("from");
    QTest::addColumn<quint32>("roundTripMs");
    QTest::addColumn<quint16>("dataSize");
    QTest::addColumn<quint8>("ttl");
    QTest::addColumn<QString>("expected");

    QTest::newRow("10.1.2.3 after 3 ms with TTL 128")
        << quint32{kAddress10_1_2_3} << quint32{kAddress10_1_2_3} << quint32{3} << quint16{0} << quint8{128}
        << QStringLiteral("Reply From 10.1.2.3: Bytes=0 Time=3ms TTL=128");
    QTest::newRow("answer from 10.9.8.7 to a request for 10.1.2.3")
        << quint32{kAddress10_1_2_3} << quint32{0x0A090807} << quint32{12} << quint16{0} << quint8{64}
        << QStringLiteral("Reply From 10.9.8.7: Bytes=0 Time=12ms TTL=64");
    QTest::newRow("0 ms with TTL 1") << quint32{0x7F000001} << quint32{0x7F000001} << quint32{0} << quint16{0}
                                     << quint8{1}
                                     << QStringLiteral("Reply From 127.0.0.1: Bytes=0 Time=0ms TTL=1");
    QTest::newRow("largest values")
        << quint32{kAddress10_1_2_3} << quint32{0xFFFFFFFF} << quint32{0xFFFFFFFF} << quint16{0xFFFF}
        << quint8{255} << QStringLiteral("Reply From 255.255.255.255: Bytes=65535 Time=4294967295ms TTL=255");
    QTest::newRow("32 bytes echoed after 2699 ms")
        << quint32{kAddress10_1_2_3} << quint32{kAddress10_1_2_3} << quint32{2699} << quint16{32}
        << quint8{255} << QStringLiteral("Reply From 10.1.2.3: Bytes=32 Time=2699ms TTL=255");
}

void TestPingTick::reply() {
    QFETCH(quint32, resolved);
    QFETCH(quint32, from);
    QFETCH(quint32, roundTripMs);
    QFETCH(quint16, dataSize);
    QFETCH(quint8, ttl);
    QFETCH(QString, expected);

    FakeIcmp icmp;
    icmp.resolution = resolved;
    icmp.outcome = replyOutcome(from, roundTripMs, dataSize, ttl);
    QCOMPARE(ping::runTick(QStringLiteral("unit"), icmp), expected);
}

void TestPingTick::notAvailable_data() {
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("expected");

    QTest::newRow("Operation not permitted")
        << QStringLiteral("Operation not permitted")
        << QStringLiteral("Ping: ICMP Not Available (Operation not permitted)");
    QTest::newRow("Permission denied") << QStringLiteral("Permission denied")
                                       << QStringLiteral("Ping: ICMP Not Available (Permission denied)");
}

void TestPingTick::notAvailable() {
    QFETCH(QString, reason);
    QFETCH(QString, expected);

    FakeIcmp icmp;
    icmp.resolution = kAddress10_1_2_3;
    icmp.outcome.kind = platform::EchoOutcome::Kind::NotAvailable;
    icmp.outcome.reason = reason;
    QCOMPARE(ping::runTick(QStringLiteral("10.1.2.3"), icmp), expected);
}

LUMORA_TEST_MAIN_CORE(TestPingTick)
#include "tst_ping_tick.moc"
