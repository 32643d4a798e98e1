// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/exposition.h"
#include "testsupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using namespace Qt::StringLiterals;
using lumora::exporter::Exposition;
using lumora::exporter::Unit;
using lumora::exporter::UnitState;

Q_DECLARE_METATYPE(UnitState)

class tst_Exporter_exposition : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneUnit_data();
    void oneUnit();
    void familiesOnceUnitsInOrder();
    void changeBetweenUpdates_data();
    void changeBetweenUpdates();
    void promtoolAccepts();
};

namespace {

// A reply as the unit sends it, field by field; counters and time gaps least
// significant byte first.
const QByteArray kReply = QByteArray::fromHex("00 01 02 01 00 02 01 00 02 01 A1 1A" // inputs 0..11
                                              "01000000 00000001 FFFFFFFF 04030201 00010000 00000100"
                                              "3C000000 46000000 50000000 5A000000 64000000 6E000000"
                                              "D2040000 00000000 E8030000 01000000 FFFFFFFF 05000000"
                                              "06000000 07000000 08000000 09000000 0A000000 0B000000"
                                              "01 00 02 01"); // outputs 1..4

UnitState answered(const QByteArray& reply = kReply) {
    UnitState state;
    state.up = true;
    state.reply = reply;
    state.lastReplyMs = 1796659681123;
    state.replies = 42;
    state.failures = {3, 2, 0, 1, 0};
    state.durations.counts = {1, 0, 2, 0, 0, 0, 0, 1, 0, 0, 1};
    state.durations.count = 5;
    state.durations.sumSeconds = 2.1337890625;
    return state;
}

// NAME{unit="bench-1",channel="NN"} VALUE for channels first, first + 1, ...
QByteArrayList channelLines(const char* name, int first, const QByteArrayList& values) {
    QByteArrayList lines;
    for (const QByteArray& value : values)
        lines << QByteArray(name) + "{unit=\"bench-1\",channel=\"" + QByteArray::number(first++).rightJustified(2, '0')
                     + "\"} " + value;
    return lines;
}

const QByteArrayList kValueLines =
    channelLines("lumora_input", 0, {"0", "1", "2", "1", "0", "2", "1", "0", "2", "1", "0", "1"})
    + channelLines("lumora_output", 1, {"1", "0", "2", "1"})
    + channelLines("lumora_input_pulses_total", 1,
                   {"1", "16777216", "4294967295", "16909060", "256", "65536", "60", "70", "80", "90", "100", "110"})
    + channelLines("lumora_time_gap_seconds", 1,
                   {"1.234", "0", "1", "0.001", "4294967.295", "0.005", "0.006", "0.007", "0.008", "0.009", "0.01",
                    "0.011"});

const QByteArrayList kHistogramLines{
    R"(lumora_poll_duration_seconds_count{unit="bench-1"} 5)",
    R"(lumora_poll_duration_seconds_sum{unit="bench-1"} 2.1337890625)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="0.001"} 1)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="0.0025"} 1)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="0.005"} 3)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="0.01"} 3)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="0.025"} 3)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="0.05"} 3)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="0.1"} 3)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="0.25"} 4)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="0.5"} 4)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="1"} 4)",
    R"(lumora_poll_duration_seconds_bucket{unit="bench-1",le="+Inf"} 5)",
};

QByteArrayList failureLines(int connect, int timeout, int length, int closed, int refused) {
    QByteArrayList lines;
    const std::pair<const char*, int> counts[] = {
        {"connect", connect}, {"timeout", timeout}, {"length", length}, {"closed", closed}, {"refused_value", refused}};
    for (const auto& [reason, count] : counts)
        lines << R"(lumora_poll_failures_total{unit="bench-1",reason=")" + QByteArray(reason) + "\"} "
                     + QByteArray::number(count);
    return lines;
}

// The comment lines, or the sample lines with each value as Prometheus reads
// it: the library writes 16 digits, so 9/1000.0 comes out as
// 0.008999999999999999, which is read back as the same float as 0.009.
QByteArrayList split(const QByteArray& text, bool comments) {
    QByteArrayList lines;
    for (QByteArray line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#') != comments)
            continue;
        bool isNumber = false;
        const qsizetype blank = line.lastIndexOf(' ');
        const double value = line.mid(blank + 1).toDouble(&isNumber);
        if (!comments && isNumber)
            line = line.left(blank + 1) + QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
        lines << line;
    }
    return lines;
}

// A sample line's family: its name without a histogram's suffix.
QByteArray familyOf(const QByteArray& line) {
    QByteArray name = line.left(line.indexOf('{'));
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
        if (name.startsWith("lumora_poll_duration_seconds") && name.endsWith(suffix))
            name.chop(qstrlen(suffix));
    }
    return name;
}

} // namespace

void tst_Exporter_exposition::oneUnit_data() {
    testsupport::columns<UnitState, QByteArrayList>("state", "lines");
    const QByteArrayList up{R"(lumora_unit_up{unit="bench-1"} 1)"};
    const QByteArrayList down{R"(lumora_unit_up{unit="bench-1"} 0)"};
    const QByteArrayList replies{R"(lumora_replies_total{unit="bench-1"} 42)"};
    const QByteArrayList failures = failureLines(3, 2, 0, 1, 0);
    const QByteArrayList lastReply{R"(lumora_last_reply_timestamp_seconds{unit="bench-1"} 1796659681.123)"};
    QTest::newRow("up, every value") << answered() << up + kValueLines + replies + failures + lastReply
                                             + kHistogramLines;

    QByteArray refused = kReply;
    refused[4] = 0x03;
    refused[108 + 2] = 0x10;
    QByteArrayList shown = kValueLines;
    shown.removeOne(R"(lumora_input{unit="bench-1",channel="04"} 0)");
    shown.removeOne(R"(lumora_output{unit="bench-1",channel="03"} 2)");
    QTest::newRow("refused input and output left out")
        << answered(refused) << up + shown + replies + failures + lastReply + kHistogramLines;

    UnitState lost = answered();
    lost.up = false;
    QTest::newRow("down keeps its counts, shows no values")
        << lost << down + replies + failures + lastReply + kHistogramLines;

    UnitState never;
    never.failures = {7, 0, 0, 0, 0};
    QByteArrayList noDurations;
    for (const QByteArray& line : kHistogramLines.mid(2))
        noDurations << line.left(line.lastIndexOf(' ')) + " 0";
    QTest::newRow("no reply yet") << never
                                  << down + QByteArrayList{R"(lumora_replies_total{unit="bench-1"} 0)"}
                                         + failureLines(7, 0, 0, 0, 0)
                                         + QByteArrayList{R"(lumora_poll_duration_seconds_count{unit="bench-1"} 0)",
                                                          R"(lumora_poll_duration_seconds_sum{unit="bench-1"} 0)"}
                                         + noDurations;
}

void tst_Exporter_exposition::oneUnit() {
    QFETCH(UnitState, state);
    QFETCH(QByteArrayList, lines);
    QCOMPARE(kReply.size(), 112);
    Exposition exposition({Unit{u"bench-1"_s, u"127.0.0.1"_s, 4000}});
    exposition.update(0, state);
    QCOMPARE(split(exposition.text(), false), split(lines.join('\n'), false));
    // HELP and TYPE only for a family with series.
    QSet<QByteArray> families;
    for (const QByteArray& line : lines)
        families << familyOf(line);
    QCOMPARE(split(exposition.text(), true).size(), 2 * families.size());
}

// Each family opens with its HELP and TYPE lines, once, and holds every
// unit's series in the order the units were given, whatever order they
// changed in.
void tst_Exporter_exposition::familiesOnceUnitsInOrder() {
    const QStringList names{u"rack-b"_s, u"rack-a"_s, u"[::1]:4001"_s};
    QList<Unit> units;
    for (const QString& name : names)
        units << Unit{name, u"::1"_s, 4001};
    Exposition exposition(units);
    UnitState down = answered();
    down.up = false;
    exposition.update(2, answered());
    exposition.update(1, down);
    exposition.update(0, answered());

    const QByteArrayList comments = split(exposition.text(), true);
    QByteArrayList types;
    for (qsizetype at = 1; at < comments.size(); at += 2) {
        QVERIFY2(comments[at - 1].startsWith("# HELP " + comments[at].split(' ').value(2) + ' '), comments[at - 1]);
        types << comments[at];
    }
    QCOMPARE(types, (QByteArrayList{
                        "# TYPE lumora_unit_up gauge",
                        "# TYPE lumora_input gauge",
                        "# TYPE lumora_output gauge",
                        "# TYPE lumora_input_pulses_total counter",
                        "# TYPE lumora_time_gap_seconds gauge",
                        "# TYPE lumora_replies_total counter",
                        "# TYPE lumora_poll_failures_total counter",
                        "# TYPE lumora_last_reply_timestamp_seconds gauge",
                        "# TYPE lumora_poll_duration_seconds histogram",
                    }));

    // Per family, the units in the order their series come (each unit's once).
    QByteArray family;
    QMap<QByteArray, QByteArrayList> order;
    for (const QByteArray& line : exposition.text().split('\n')) {
        if (line.startsWith("# TYPE "))
            family = line.split(' ').value(2);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QCOMPARE(familyOf(line), family);
        const QByteArray unit = line.mid(line.indexOf("unit=\"") + 6).split('"').value(0);
        if (order[family].value(order[family].size() - 1) != unit)
            order[family] << unit;
    }
    const QByteArrayList all{"rack-b", "rack-a", "[::1]:4001"};
    const QByteArrayList values{"lumora_input", "lumora_output", "lumora_input_pulses_total", "lumora_time_gap_seconds"};
    QCOMPARE(order.size(), types.size());
    for (const QByteArray& name : order.keys())
        QCOMPARE(order[name], (values.contains(name) ? QByteArrayList{"rack-b", "[::1]:4001"} : all));
}

// A unit's lines after a change are those of the new state alone: nothing
// kept from the state before.
void tst_Exporter_exposition::changeBetweenUpdates_data() {
    testsupport::columns<UnitState, UnitState>("before", "after");
    const auto replyWith = [](qsizetype offset, char byte) {
        UnitState state = answered();
        state.reply[offset] = byte;
        return state;
    };
    const std::pair<const char*, qsizetype> bytes[] = {
        {"first input", 0},   {"last input", 11},        {"first counter byte", 12}, {"last counter byte", 59},
        {"first time gap", 60}, {"last time gap byte", 107}, {"first output", 108},    {"last output", 111}};
    for (const auto& [what, offset] : bytes)
        QTest::addRow("%s", what) << answered() << replyWith(offset, 0x02);
    QTest::newRow("input now refused") << answered() << replyWith(3, 0x03);
    QTest::newRow("input refused no more") << replyWith(3, 0x03) << answered();
    UnitState down = answered();
    down.up = false;
    QTest::newRow("down") << answered() << down;
    QTest::newRow("up again") << down << answered();
    UnitState next = answered();
    ++next.replies;
    QTest::newRow("replies") << answered() << next;
    next = answered();
    ++next.failures[1];
    QTest::newRow("failures") << answered() << next;
    next = answered();
    next.lastReplyMs += 1000;
    QTest::newRow("last reply") << answered() << next;
    next = answered();
    next.durations.add(0.003);
    QTest::newRow("one more duration") << answered() << next;
}

void tst_Exporter_exposition::changeBetweenUpdates() {
    QFETCH(UnitState, before);
    QFETCH(UnitState, after);
    const QList<Unit> units{Unit{u"bench-1"_s, u"h"_s, 1}, Unit{u"bench-2"_s, u"h"_s, 2}};
    Exposition changed(units);
    changed.update(0, before);
    changed.update(1, before);
    const QByteArray old = changed.text();
    changed.update(0, after);
    Exposition fresh(units);
    fresh.update(0, after);
    fresh.update(1, before);
    QVERIFY(fresh.text() != old);
    QCOMPARE(split(changed.text(), false), split(fresh.text(), false));
}

void tst_Exporter_exposition::promtoolAccepts() {
    const QString promtool = QStandardPaths::findExecutable(u"promtool"_s);
    if (promtool.isEmpty())
        QSKIP("promtool is missing: apt-get install prometheus");
    const QList<Unit> units{Unit{u"a"_s, u"h"_s, 1}, Unit{u"[::1]:4001"_s, u"::1"_s, 4001}, Unit{u"c.d"_s, u"h"_s, 2},
                            Unit{u"never"_s, u"h"_s, 3}};
    Exposition exposition(units);
    QByteArray refused = kReply;
    refused[0] = 0x10;
    UnitState down = answered();
    down.up = false;
    exposition.update(0, answered());
    exposition.update(1, answered(refused));
    exposition.update(2, down);
    QProcess check;
    check.start(promtool, {u"check"_s, u"metrics"_s});
    check.write(exposition.text());
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(30000));
    QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0,
             check.readAllStandardOutput() + check.readAllStandardError());
}

LUMORA_SUITE_CLASS(tst_Exporter_exposition);
#include "tst_exporter_exposition.moc"
