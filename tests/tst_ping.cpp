// SPDX-License-Identifier: GPL-3.0-or-later
#include "ping/ping_tick.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using lumora::platform::EchoOutcome;
using lumora::platform::Ipv4;
using testsupport::columns;
using Echo = std::array<qint64, 3>; // destination, time to live, wait in ms

Q_DECLARE_METATYPE(EchoOutcome)

namespace {

// Stands in for the system's resolver and ICMP socket.
struct FakeIcmp final : lumora::platform::IcmpService {
    std::optional<Ipv4> resolveFirstIpv4(const QByteArray& hostName) override {
        askedNames.append(hostName);
        return firstAddress;
    }
    EchoOutcome echo(Ipv4 destination, int ttl, int timeoutMs) override {
        echoes.append({destination, ttl, timeoutMs});
        return outcome;
    }
    std::optional<Ipv4> firstAddress = std::nullopt;
    EchoOutcome outcome = {};
    QList<QByteArray> askedNames = {};
    QList<Echo> echoes = {};
};

EchoOutcome reply(Ipv4 from, std::uint32_t ms, std::uint16_t bytes, std::uint8_t ttl) {
    return {EchoOutcome::Kind::Reply, {from, ms, bytes, ttl}, {}};
}

constexpr qint64 kUnresolved = -1;

} // namespace

class tst_Ping : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runTick_data() {
        columns<QString, QByteArray, qint64, EchoOutcome, QString>("text", "askedName", "firstAddress",
                                                                   "outcome", "line");
        const EchoOutcome none{EchoOutcome::Kind::NoAnswer, {}, {}};
        const QString name70 = QString(64, u'a') + u"bcdefg"_s;
        QTest::newRow("unknown host, blanks kept") << u"  bad host  "_s << "bad host"_ba << kUnresolved
                                                   << none << u"Ping: Unknown Host   bad host  "_s;
        QTest::newRow("unknown host, empty")
            << QString() << QByteArray() << kUnresolved << none << u"Ping: Unknown Host "_s;
        QTest::newRow("70 characters between blanks: cut to 64 after trimming")
            << u"   "_s + name70 + u"  "_s << QByteArray(64, 'a') << kUnresolved << none
            << u"Ping: Unknown Host    "_s + name70 + u"  "_s;
        QTest::newRow("no answer, name's first address 172.16.0.9")
            << u" unit-7150r "_s << "unit-7150r"_ba << qint64{0xAC100009} << none
            << u"No answer from 172.16.0.9"_s;
        QTest::newRow("reply from another address")
            << u"unit"_s << "unit"_ba << qint64{0x0A010203} << reply(0x0A090807, 12, 0, 64)
            << u"Reply From 10.9.8.7: Bytes=0 Time=12ms TTL=64"_s;
        QTest::newRow("reply, largest values")
            << u"unit"_s << "unit"_ba << qint64{0x0A010203} << reply(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF, 255)
            << u"Reply From 255.255.255.255: Bytes=65535 Time=4294967295ms TTL=255"_s;
        QTest::newRow("no ICMP socket")
            << u"10.1.2.3"_s << "10.1.2.3"_ba << qint64{0x0A010203}
            << EchoOutcome{EchoOutcome::Kind::NotAvailable, {}, u"Operation not permitted"_s}
            << u"Ping: ICMP Not Available (Operation not permitted)"_s;
    }

    // One request with time to live 255 and a 2700 ms wait, to the first address.
    void runTick() {
        QFETCH(QString, text);
        QFETCH(QByteArray, askedName);
        QFETCH(qint64, firstAddress);
        QFETCH(EchoOutcome, outcome);
        QFETCH(QString, line);
        FakeIcmp icmp;
        if (firstAddress != kUnresolved)
            icmp.firstAddress = Ipv4(firstAddress);
        icmp.outcome = outcome;
        QCOMPARE(lumora::ping::runTick(text, icmp), line);
        QCOMPARE(icmp.askedNames, QList<QByteArray>{askedName});
        const QList<Echo> expectedEchoes{{firstAddress, 255, 2700}};
        QCOMPARE(icmp.echoes, firstAddress == kUnresolved ? QList<Echo>() : expectedEchoes);
    }
};

LUMORA_TEST_MAIN_CORE(tst_Ping)
#include "tst_ping.moc"
