// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/mqtt_front.h"
#include "mqtt/topics.h"
#include "protocol/status_reply.h"
#include "testsupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace lumora;

namespace {

// Units whose replies a case writes itself, and the frames asked of them.
class FakeBoard : public exporter::UnitBoard {
public:
    QList<exporter::Unit> units{{u"a"_s, u"127.0.0.1"_s, 1}, {u"b"_s, u"127.0.0.1"_s, 2}};
    std::array<exporter::UnitState, 2> states;
    QStringList writes; // "unit mask values"
    [[nodiscard]] qsizetype unitCount() const override { return units.size(); }
    [[nodiscard]] const exporter::Unit& unit(qsizetype i) const override { return units[i]; }
    [[nodiscard]] const exporter::UnitState& state(qsizetype i) const override { return states[std::size_t(i)]; }
    [[nodiscard]] OutputWrite setOutputs(qsizetype i, std::uint8_t mask, std::uint8_t values) override {
        if (!states[std::size_t(i)].up)
            return OutputWrite::UnitDown;
        writes << u"%1 %2 %3"_s.arg(i).arg(mask).arg(values);
        return OutputWrite::Sent;
    }
    void set(qsizetype i, int offset, char byte) {
        exporter::UnitState& s = states[std::size_t(i)];
        s.up = true;
        s.reply.resize(protocol::kStatusReplySize, '\0');
        s.reply[offset] = byte;
        Q_EMIT unitChanged(i);
    }
};

// Debian puts the broker in /usr/sbin, which a user's PATH may lack.
QString brokerPath() {
    return QStandardPaths::findExecutable(u"mosquitto"_s, {u"/usr/sbin"_s, u"/usr/bin"_s});
}

// A broker of our own on loopback, and what a subscriber to every topic saw ("topic payload" lines).
struct Broker {
    quint16 port = 0;
    QProcess broker, watcher;
    QStringList seen;
    void start() {
        if (port == 0) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort();
        }
        const QString conf = testsupport::scratch().filePath(u"mosquitto.conf"_s);
        QFile file(conf);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("listener " + QByteArray::number(port) + " 127.0.0.1\nallow_anonymous true\n");
        file.close();
        broker.start(brokerPath(), {u"-c"_s, conf});
        QVERIFY(broker.waitForStarted());
        QTRY_VERIFY(probeOpen());
        seen.clear();
        watcher.start(u"mosquitto_sub"_s, {u"-p"_s, QString::number(port), u"-t"_s, u"#"_s, u"-v"_s});
        QObject::connect(&watcher, &QProcess::readyReadStandardOutput, [this] {
            while (watcher.canReadLine())
                seen << QString::fromUtf8(watcher.readLine().trimmed());
        });
        QTest::qWait(300); // the subscription in place before anything is published
    }
    bool probeOpen() const {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        return s.waitForConnected(200);
    }
    void stop() {
        for (QProcess* p : {&watcher, &broker}) {
            p->kill();
            p->waitForFinished();
        }
    }
    ~Broker() { stop(); }
};

mqtt::MqttFront::Options options(quint16 port, bool writes = false) {
    mqtt::MqttFront::Options o;
    o.host = u"127.0.0.1"_s;
    o.port = port;
    o.writes = writes;
    return o;
}

} // namespace

class tst_Mqtt : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        if (brokerPath().isEmpty() ||
            QStandardPaths::findExecutable(u"mosquitto_sub"_s).isEmpty())
            QSKIP("mosquitto is not installed (tools/install-deps.sh installs it)");
    }

    void payloads_data() {
        testsupport::columns<int, char, QString, QString>("offset", "byte", "topic", "payload");
        QTest::newRow("input 00") << 0 << '\x02' << u"input/00"_s << u"2"_s;
        QTest::newRow("input 11") << 11 << '\x01' << u"input/11"_s << u"1"_s;
        QTest::newRow("input refused") << 11 << '\x03' << u"input/11"_s << QString();
        QTest::newRow("output 01") << protocol::kOutputOffset << '\x01' << u"output/01"_s << u"1"_s;
        QTest::newRow("output 04") << protocol::kOutputOffset + 3 << '\x02' << u"output/04"_s << u"2"_s;
        QTest::newRow("counter 01") << protocol::kCounterOffset << '\x07' << u"counter/01"_s << u"7"_s;
        QTest::newRow("counter 12 high") << protocol::kCounterOffset + 47 << '\xff' << u"counter/12"_s
                                         << u"4278190080"_s;
        QTest::newRow("gap 01 thousandths") << protocol::kTimeGapOffset << '\x05' << u"gap/01"_s << u"0.005"_s;
        QTest::newRow("gap 12 seconds") << protocol::kTimeGapOffset + 45 << '\x2f' << u"gap/12"_s << u"12.032"_s;
    }
    // Every topic of a unit from one reply with one byte set; the other topics of its kind stay 0.
    void payloads() {
        QFETCH(int, offset);
        QFETCH(char, byte);
        QFETCH(QString, topic);
        QFETCH(QString, payload);
        QByteArray reply(protocol::kStatusReplySize, '\0');
        reply[offset] = byte;
        const mqtt::UnitValues values = mqtt::unitValues(false, reply);
        QMap<QString, QString> shown;
        for (int slot = 0; slot < mqtt::kSlotsPerUnit; ++slot)
            if (values[std::size_t(slot)] != mqtt::kNoValue)
                shown.insert(QString::fromUtf8(mqtt::slotTopic(slot)),
                             QString::fromUtf8(mqtt::slotPayload(slot, values[std::size_t(slot)])));
        QCOMPARE(shown.value(u"status"_s), u"offline"_s);
        QCOMPARE(shown.size(), mqtt::kSlotsPerUnit - (payload.isEmpty() ? 1 : 0));
        QCOMPARE(shown.value(topic), payload);
        QCOMPARE(shown.value(u"gap/05"_s), u"0.000"_s);
    }

    // Everything at connect, then only what changed, and everything again once the broker is back.
    void publishing() {
        Broker broker;
        broker.start();
        FakeBoard board;
        board.set(0, 4, '\x01');
        mqtt::MqttFront front(board, options(broker.port));
        QVERIFY(front.start());
        QTRY_COMPARE(broker.seen.size(), 1 + 42); // P/status, a's 41, b's status alone (no reply yet)
        QVERIFY(broker.seen.contains(u"lumora/status online"_s));
        QVERIFY(broker.seen.contains(u"lumora/a/input/04 1"_s));
        QVERIFY(broker.seen.contains(u"lumora/b/status offline"_s));
        broker.seen.clear();
        board.set(0, 4, '\x01'); // a poll with nothing new
        board.set(0, 6, '\x02');
        QTRY_COMPARE(broker.seen, QStringList{u"lumora/a/input/06 2"_s});

        broker.stop();
        QTRY_VERIFY(!front.isConnected());
        board.set(1, protocol::kOutputOffset, '\x01');
        broker.start();
        QTRY_VERIFY_WITH_TIMEOUT(broker.seen.contains(u"lumora/b/output/01 1"_s), 10000);
        QTRY_COMPARE(broker.seen.size(), 1 + 41 + 41);
        QVERIFY(broker.seen.contains(u"lumora/a/input/06 2"_s));
        QVERIFY(front.metricsText().contains("lumora_mqtt_broker_connects_total 2\n"));
    }

    void sets_data() {
        testsupport::columns<bool, QString, QString, QString>("writes", "topic", "payload", "outcome");
        QTest::newRow("set") << true << u"lumora/a/output/02/set"_s << u"1"_s << u"0 2 2"_s;
        QTest::newRow("clear") << true << u"lumora/a/output/04/set"_s << u"0"_s << u"0 8 0"_s;
        QTest::newRow("not allowed") << false << u"lumora/a/output/02/set"_s << u"1"_s << u"not_allowed"_s;
        QTest::newRow("bad payload") << true << u"lumora/a/output/02/set"_s << u"1 "_s << u"bad_payload"_s;
        QTest::newRow("unknown unit") << true << u"lumora/c/output/02/set"_s << u"1"_s << u"unknown_unit"_s;
        QTest::newRow("output 05") << true << u"lumora/a/output/05/set"_s << u"1"_s << u"unknown_output"_s;
        QTest::newRow("unit down") << true << u"lumora/b/output/01/set"_s << u"1"_s << u"unit_down"_s;
        QTest::newRow("retained") << true << u"lumora/a/output/02/set"_s << u"1"_s << u"retained"_s;
    }
    void sets() {
        QFETCH(bool, writes);
        QFETCH(QString, topic);
        QFETCH(QString, payload);
        QFETCH(QString, outcome);
        Broker broker;
        broker.start();
        FakeBoard board;
        board.set(0, 0, '\x00');
        // A retained set is one the broker kept from before the front came: never a request.
        const bool retained = outcome == u"retained"_s;
        const auto publish = [&] {
            QProcess pub;
            QStringList arguments{u"-p"_s, QString::number(broker.port), u"-t"_s, topic, u"-m"_s, payload};
            pub.start(u"mosquitto_pub"_s, retained ? arguments << u"-r"_s : arguments);
            return pub.waitForFinished() && pub.exitCode() == 0;
        };
        QVERIFY(!retained || publish());
        mqtt::MqttFront front(board, options(broker.port, writes));
        QVERIFY(front.start());
        QTRY_VERIFY(front.isConnected());
        QTest::qWait(200);
        QVERIFY(retained || publish());
        if (outcome.contains(u' ')) {
            QTRY_COMPARE(board.writes, QStringList{outcome});
        } else {
            const QByteArray line = "lumora_mqtt_sets_ignored_total{reason=\"" + outcome.toUtf8() + "\"} 1\n";
            QTRY_VERIFY(front.metricsText().contains(line));
            QVERIFY(board.writes.isEmpty());
        }
    }
};

LUMORA_TEST_MAIN_CORE(tst_Mqtt)
#include "tst_mqtt.moc"
