// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/exposition.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using lumora::exporter::Exposition;
using lumora::exporter::Unit;
using lumora::exporter::UnitState;

Q_DECLARE_METATYPE(UnitState)

namespace {

// A reply as the unit sends it, field by field; counters and time gaps least
// significant byte first.
const QByteArray kReply = QByteArray::fromHex("00 01 02 01 00 02 01 00 02 01 A1 1A" // inputs 0..11
                                              "01000000 00000001 FFFFFFFF 04030201 00010000 00000100"
                                              "3C000000 46000000 50000000 5A000000 64000000 6E000000"
                                              "D2040000 00000000 E8030000 01000000 FFFFFFFF 05000000"
                                              "06000000 07000000 08000000 09000000 0A000000 0B000000"
                                              "01 00 02 01"); // outputs 1..4

UnitState answered(const QByteArray& reply = kReply, bool up = true) {
    UnitState state;
    state.up = up;
    state.reply = reply;
    state.lastReplyMs = 1796659681123;
    state.replies = 42;
    state.failures = {3, 2, 0, 1, 0};
    state.durations.counts = {1, 0, 2, 0, 0, 0, 0, 1, 0, 0, 1};
    state.durations.count = 5;
    state.durations.sumSeconds = 1.0 / 3; // 16 digits to be read back as itself
    return state;
}

template <typename Change> UnitState changed(Change change) {
    UnitState state = answered();
    change(state);
    return state;
}

// NAME{unit="bench-1",LABEL="KEY"} VALUE for each key and value in turn; without a label, NAME{unit="bench-1"} VALUE.
QByteArrayList series(const QByteArray& name, const QByteArray& label, const QByteArrayList& keys,
                      const QByteArrayList& values) {
    QByteArrayList lines;
    for (qsizetype at = 0; at < values.size(); ++at)
        lines << name + R"({unit="bench-1")" +
                     (label.isEmpty() ? "" : ',' + label + "=\"" + keys.value(at) + '"') + "} " + values[at];
    return lines;
}

const QByteArrayList kReasons{"connect", "timeout", "length", "closed", "refused_value"};
const QByteArrayList kChannels{"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11", "12"};

QByteArrayList durationLines(const QByteArray& count, const QByteArray& sum,
                             const QByteArrayList& cumulative) {
    const QByteArrayList bounds{"0.001", "0.0025", "0.005", "0.01", "0.025", "0.05",
                                "0.1",   "0.25",   "0.5",   "1",    "+Inf"};
    return series("lumora_poll_duration_seconds_count", {}, {}, {count}) +
           series("lumora_poll_duration_seconds_sum", {}, {}, {sum}) +
           series("lumora_poll_duration_seconds_bucket", "le", bounds, cumulative);
}

// The comment lines, or the sample lines with each value as Prometheus reads it: the library writes 16 digits,
// so 9/1000.0 comes out as 0.008999999999999999, read back as the same float as 0.009.
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

} // namespace

class tst_Exporter_exposition : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneUnit_data() {
        testsupport::columns<UnitState, QByteArrayList>("state", "lines");
        const QByteArrayList inputs =
            series("lumora_input", "channel", QByteArrayList{"00"} + kChannels.mid(0, 11),
                   {"0", "1", "2", "1", "0", "2", "1", "0", "2", "1", "0", "1"});
        const QByteArrayList outputs = series("lumora_output", "channel", kChannels, {"1", "0", "2", "1"});
        const QByteArrayList values = series("lumora_input_pulses_total", "channel", kChannels,
                                             {"1", "16777216", "4294967295", "16909060", "256", "65536", "60",
                                              "70", "80", "90", "100", "110"}) +
                                      series("lumora_time_gap_seconds", "channel", kChannels,
                                             {"1.234", "0", "1", "0.001", "4294967.295", "0.005", "0.006",
                                              "0.007", "0.008", "0.009", "0.01", "0.011"});
        const QByteArrayList kept =
            series("lumora_replies_total", {}, {}, {"42"}) +
            series("lumora_poll_failures_total", "reason", kReasons, {"3", "2", "0", "1", "0"}) +
            series("lumora_last_reply_timestamp_seconds", {}, {}, {"1796659681.123"}) +
            durationLines("5", "0.3333333333333333", {"1", "1", "3", "3", "3", "3", "3", "4", "4", "4", "5"});
        const QByteArrayList up = series("lumora_unit_up", {}, {}, {"1"});
        const QByteArrayList down = series("lumora_unit_up", {}, {}, {"0"});
        QTest::newRow("up, every value") << answered() << up + inputs + outputs + values + kept;

        QByteArray refused = kReply;
        refused[4] = 0x03;
        refused[108 + 2] = 0x10;
        QByteArrayList shownInputs = inputs;
        QByteArrayList shownOutputs = outputs;
        shownInputs.removeAt(4);  // channel "04"
        shownOutputs.removeAt(2); // channel "03"
        QTest::newRow("refused input and output left out")
            << answered(refused) << up + shownInputs + shownOutputs + values + kept;
        QTest::newRow("down keeps its counts, shows no values") << answered(kReply, false) << down + kept;

        UnitState never;
        never.failures = {7, 0, 0, 0, 0};
        QTest::newRow("no reply yet") << never
                                      << down + series("lumora_replies_total", {}, {}, {"0"}) +
                                             series("lumora_poll_failures_total", "reason", kReasons,
                                                    {"7", "0", "0", "0", "0"}) +
                                             durationLines("0", "0", QByteArrayList(11, "0"));
    }

    void oneUnit() {
        QFETCH(UnitState, state);
        QFETCH(QByteArrayList, lines);
        Exposition exposition({Unit{u"bench-1"_s, u"127.0.0.1"_s, 4000}});
        exposition.update(0, state);
        QCOMPARE(split(exposition.text(), false), split(lines.join('\n'), false));
        // HELP and TYPE only for a family with series.
        QSet<QByteArray> families;
        for (const QByteArray& line : lines)
            families
                << line.left(line.indexOf('{')).replace("_bucket", "").replace("_sum", "").replace("_count", "");
        QCOMPARE(split(exposition.text(), true).size(), 2 * families.size());
    }

    // Each family opens with its HELP and TYPE lines, once, and holds every
    // unit's series in the order the units were given, whatever order they
    // changed in.
    void familiesOnceUnitsInOrder() {
        Exposition exposition(
            {Unit{u"rack-b"_s, u"h"_s, 1}, Unit{u"rack-a"_s, u"h"_s, 2}, Unit{u"[::1]:4001"_s, u"::1"_s, 4001}});
        exposition.update(2, answered());
        exposition.update(1, answered(kReply, false));
        exposition.update(0, answered());

        // Each family as "NAME TYPE: UNIT UNIT ...", its units in the order of their series.
        QByteArrayList families;
        QByteArray help;
        for (const QByteArray& line : exposition.text().split('\n')) {
            if (line.startsWith("# HELP ")) {
                help = line;
            } else if (line.startsWith("# TYPE ")) {
                QVERIFY2(help.startsWith("# HELP " + line.split(' ').value(2) + ' '), line);
                help.clear();
                families << line.mid(7) + ':';
            } else if (!line.isEmpty()) {
                QVERIFY2(!families.isEmpty() && line.startsWith(families.last().split(' ').value(0)), line);
                const QByteArray unit = ' ' + line.mid(line.indexOf("unit=\"") + 6).split('"').value(0);
                if (!families.last().endsWith(unit))
                    families.last() += unit;
            }
        }
        const QByteArray all = " rack-b rack-a [::1]:4001";
        const QByteArray up = " rack-b [::1]:4001";
        QCOMPARE(families,
                 (QByteArrayList{"lumora_unit_up gauge:" + all, "lumora_input gauge:" + up,
                                 "lumora_output gauge:" + up, "lumora_input_pulses_total counter:" + up,
                                 "lumora_time_gap_seconds gauge:" + up, "lumora_replies_total counter:" + all,
                                 "lumora_poll_failures_total counter:" + all,
                                 "lumora_last_reply_timestamp_seconds gauge:" + all,
                                 "lumora_poll_duration_seconds histogram:" + all}));
    }

    // A unit's lines after a change are those of the new state alone: nothing
    // kept from the state before.
    void changeBetweenUpdates_data() {
        testsupport::columns<UnitState, UnitState>("before", "after");
        const auto byte = [](qsizetype offset, char value) {
            return changed([=](UnitState& state) { state.reply[offset] = value; });
        };
        // The first and last byte of inputs, counters, time gaps and outputs.
        for (const qsizetype offset : {0, 11, 12, 59, 60, 107, 108, 111})
            QTest::addRow("reply byte %d", int(offset)) << answered() << byte(offset, 0x02);
        QTest::newRow("input now refused") << answered() << byte(3, 0x03);
        QTest::newRow("input refused no more") << byte(3, 0x03) << answered();
        QTest::newRow("down") << answered() << answered(kReply, false);
        QTest::newRow("up again") << answered(kReply, false) << answered();
        QTest::newRow("replies") << answered() << changed([](UnitState& state) { ++state.replies; });
        QTest::newRow("failures") << answered() << changed([](UnitState& state) { ++state.failures[1]; });
        QTest::newRow("last reply") << answered() << changed([](UnitState& state) { state.lastReplyMs += 1000; });
        QTest::newRow("durations") << answered() << changed([](UnitState& state) { state.durations.add(0.003); });
    }

    void changeBetweenUpdates() {
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
};

LUMORA_SUITE_CLASS(tst_Exporter_exposition);
#include "tst_exporter_exposition.moc"
