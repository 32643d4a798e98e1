// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/recv_block.h"
#include "log/utc_moment.h"
#include "testsupport.h"
#include "timeline/condition.h"
#include "timeline/day_files.h"
#include "timeline/lanes.h"
#include "timeline/measure.h"
#include "timeline/range_export.h"
#include "timeline/reply_store.h"
#include "timeline/search.h"
#include "timeline/vcd_writer.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <limits>
#include <map>
#include <sys/stat.h>
#include <thread>

using namespace Qt::StringLiterals;
using testsupport::columns;
using testsupport::writeFile;

namespace {

struct Fields {
    QList<int> inputs;
    QList<quint32> counters;
    QList<quint32> gaps;
    QList<int> outputs;
};

// Laid out as the unit sends it: counters and gaps least significant byte first.
QByteArray reply(const Fields& fields) {
    QByteArray bytes(112, '\0');
    const auto put = [&](int at, quint32 value) {
        for (int k = 0; k < 4; ++k)
            bytes[at + k] = char((value >> (8 * k)) & 0xFF);
    };
    for (int k = 0; k < fields.inputs.size(); ++k)
        bytes[k] = char(fields.inputs[k]);
    for (int k = 0; k < fields.counters.size(); ++k)
        put(12 + 4 * k, fields.counters[k]);
    for (int k = 0; k < fields.gaps.size(); ++k)
        put(60 + 4 * k, fields.gaps[k]);
    for (int k = 0; k < fields.outputs.size(); ++k)
        bytes[108 + k] = char(fields.outputs[k]);
    return bytes;
}

// 2026-12-07 10:00:00.000 UTC
constexpr qint64 kTen = 1'796'637'600'000;

QByteArray definitions(quint64 lanes = lumora::timeline::kEveryLane) {
    QByteArray text = "$timescale 1 us $end\n$scope module lumora $end\n";
    const QByteArray ids = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";
    for (int k = 0; k < 40; ++k) {
        if ((lanes >> k & 1U) == 0)
            continue;
        const QByteArray type = k < 16 ? "wire 1" : k < 28 ? "wire 32" : "real 64";
        const QByteArray name = k < 12   ? "DI" + QByteArray::number(k).rightJustified(2, '0')
                                : k < 16 ? "DO0" + QByteArray::number(k - 11)
                                : k < 28 ? "CNT" + QByteArray::number(k - 15).rightJustified(2, '0')
                                         : "GAP" + QByteArray::number(k - 27).rightJustified(2, '0');
        text += "$var " + type + ' ' + ids[k] + ' ' + name + " $end\n";
    }
    return text + "$upscope $end\n$enddefinitions $end\n";
}

using lumora::timeline::Level;
using lumora::timeline::ReplyStore;
using lumora::timeline::Sample;
using lumora::timeline::Summary;

constexpr qsizetype kChunk = ReplyStore::kChunkReplies;
constexpr std::uint8_t kSeenLow = 1;
constexpr std::uint8_t kSeenHigh = 2;
constexpr std::uint8_t kSeenThird = 4;
constexpr std::uint8_t kSeenRefused = 8;

// The emulator's kind of data: inputs toggling a few times a second,
// counters counting their rising edges, gaps the time between the last two.
struct EmulatorLike {
    QRandomGenerator random{7};
    std::array<int, 12> periodMs{};
    std::array<qint64, 12> nextMs{};
    std::array<qint64, 12> lastRiseMs{};
    Sample now;

    EmulatorLike() {
        for (int k = 0; k < 12; ++k) {
            periodMs[k] = 60 + random.bounded(1680);
            nextMs[k] = periodMs[k];
        }
    }
    Sample next(qint64 ms) {
        now.ms = ms;
        for (int k = 0; k < 12; ++k) {
            if (ms < nextMs[k])
                continue;
            const bool rising = now.lane(k) == Level::Low;
            now.setLane(k, rising ? Level::High : Level::Low);
            if (rising) {
                ++now.counters[k];
                now.gaps[k] = quint32(ms - lastRiseMs[k]);
                lastRiseMs[k] = ms;
            }
            nextMs[k] = ms + periodMs[k] * (85 + random.bounded(31)) / 100;
        }
        return now;
    }
};

// A busy bench: inputs at up to half the poll rate, counters counting fast
// pulses, gaps ticking up and wrapping; then what upsets a steady pace: a
// counter reset, one past its top, a rate that changes, a gap jumping for a
// reply (at a chunk's last among others), pulses counted unevenly.
Sample busySample(QRandomGenerator& random, qsizetype i, qint64 ms) {
    Sample s;
    s.ms = ms;
    for (int k = 0; k < 16; ++k)
        s.setLane(k, Level((i >> (k < 12 ? k : k - 9)) & 1));
    for (int k = 0; k < 12; ++k) {
        s.counters[k] = quint32(i * (k + 1));
        s.gaps[k] = quint32((i * 7 + qsizetype{k} * 8000) % 100'000);
    }
    s.counters[3] = quint32(i % (kChunk + 64));
    s.counters[5] = quint32(0xFFFFFFF0U + i);
    s.counters[7] = quint32(i < kChunk + 1000 ? i : i * 1000);
    s.counters[11] = quint32(i * 3 + random.bounded(3));
    if (i % 997 == 0 || i % kChunk == kChunk - 1)
        s.gaps[9] = 0xFFFFFFFFU;
    return s;
}
enum DataKind { EmulatorKind, EverythingNew, Busy };

Sample randomSample(QRandomGenerator& random, qint64 ms) {
    Sample s;
    s.ms = ms;
    s.lanes = random.generate();
    for (auto& c : s.counters)
        c = random.generate();
    for (auto& g : s.gaps)
        g = random.generate();
    return s;
}

// What a pixel column should hold, found the plain way: every reply looked
// at, in store order.
struct Expected {
    Summary summary;
    qsizetype first = -1;
    qsizetype last = -1;
};

Expected bruteForce(const std::vector<Sample>& held, qint64 fromMs, qint64 toMs, qsizetype from = 0,
                    qsizetype to = std::numeric_limits<qsizetype>::max()) {
    Expected e;
    for (qsizetype i = from; i < std::min(to, qsizetype(held.size())); ++i) {
        const Sample& s = held[i];
        if (s.ms < fromMs || s.ms >= toMs)
            continue;
        if (e.first < 0) {
            e.first = i;
            e.summary.counterMin = s.counters;
            e.summary.counterMax = s.counters;
            e.summary.gapMin = s.gaps;
            e.summary.gapMax = s.gaps;
        }
        e.last = i;
        ++e.summary.count;
        for (int k = 0; k < 16; ++k)
            e.summary.levelsSeen[k] |= 1 << int(s.lane(k));
        for (int k = 0; k < 12; ++k) {
            e.summary.counterMin[k] = std::min(e.summary.counterMin[k], s.counters[k]);
            e.summary.counterMax[k] = std::max(e.summary.counterMax[k], s.counters[k]);
            e.summary.gapMin[k] = std::min(e.summary.gapMin[k], s.gaps[k]);
            e.summary.gapMax[k] = std::max(e.summary.gapMax[k], s.gaps[k]);
            if (i > 0 && s.counters[k] < held[i - 1].counters[k])
                e.summary.counterDrops |= 1U << k;
            if (i > 0 && s.gaps[k] < held[i - 1].gaps[k])
                e.summary.gapDrops |= 1U << k;
        }
    }
    return e;
}

bool sameSummary(const Summary& a, const Summary& b) {
    return a.count == b.count && a.levelsSeen == b.levelsSeen && a.counterMin == b.counterMin &&
           a.counterMax == b.counterMax && a.gapMin == b.gapMin && a.gapMax == b.gapMax &&
           a.counterDrops == b.counterDrops && a.gapDrops == b.gapDrops;
}

// ---- Daily files read into a timeline ----

// A block as the window files it, its reply's byte 0 and counter 1 set to `value`.
QByteArray dayBlock(const char* stamp, quint32 value = 0, const char* end = "\r\n") {
    return testsupport::dailyBlock(stamp, reply({{int(value & 1)}, {value}, {}, {}}), end);
}

// A folder of its own for each case.
QDir dayFolder() {
    static int cases = 0;
    QDir dir(testsupport::scratch().filePath(u"days%1"_s.arg(++cases)));
    dir.mkpath(u"."_s);
    return dir;
}

QStringList messages(const lumora::timeline::DayFiles& days) {
    QStringList texts;
    for (const lumora::timeline::FileProblem& p : days.problems())
        texts.append(p.message());
    return texts;
}

QStringList utcTimes(const lumora::timeline::ReplyStore& store) {
    QStringList times;
    for (qsizetype i = 0; i < store.size(); ++i)
        times.append(
            lumora::log::formatUtcMoment(QDateTime::fromMSecsSinceEpoch(store.msAt(i), QTimeZone::utc())));
    return times;
}

// A lane set from names, "any" for every lane.
lumora::timeline::LaneSet laneSet(const QString& names) {
    lumora::timeline::LaneSet set = names == u"any"_s ? lumora::timeline::kEveryLane : 0;
    for (const QString& name : names.split(u' ', Qt::SkipEmptyParts))
        set |= lumora::timeline::anyLaneByName(name)
                   ? lumora::timeline::LaneSet{1} << *lumora::timeline::anyLaneByName(name)
                   : 0;
    return set;
}

// Sets lane (0..39) to value: a level for DI/DO, else the counter or gap.
void setAnyLane(Sample& s, int lane, quint32 value) {
    if (lane < 16)
        s.setLane(lane, Level(value));
    else
        (lane < 28 ? s.counters : s.gaps)[std::size_t((lane - 16) % 12)] = value;
}

} // namespace

class tst_Timeline : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Lane DI03 at 1 ms a reply: low, low, high, high, third, a refused 5,
    // high, low; read back as four columns of two replies each.
    void levels_data() {
        columns<qsizetype, qsizetype>("before", "after");
        QTest::newRow("as they came") << qsizetype{0} << qsizetype{0};
        QTest::newRow("packed, across groups") << qsizetype{60} << kChunk;
        QTest::newRow("packed, across a chunk's edge") << kChunk - 3 << kChunk;
        QTest::newRow("the packed chunk's end and the open one") << kChunk - 3 << qsizetype{0};
    }
    void levels() {
        QFETCH(qsizetype, before);
        QFETCH(qsizetype, after);
        ReplyStore store;
        qint64 ms = kTen;
        for (qsizetype i = 0; i < before; ++i)
            store.append(lumora::timeline::sampleOf(ms++, reply({})));
        const qint64 start = ms;
        for (const int state : {0, 0, 1, 1, 2, 5, 1, 0})
            store.append(lumora::timeline::sampleOf(ms++, reply({{0, 0, 0, state}, {}, {}, {0, 0, 0, 1}})));
        for (qsizetype i = 0; i < after; ++i)
            store.append(lumora::timeline::sampleOf(ms++, reply({})));

        const std::vector<lumora::timeline::Column> columns =
            lumora::timeline::columns(store, start, start + 8, 4);
        QCOMPARE(columns.size(), 4U);
        const std::array<std::uint8_t, 4> di03{kSeenLow, kSeenHigh, kSeenThird | kSeenRefused,
                                               kSeenHigh | kSeenLow};
        for (qsizetype x = 0; x < 4; ++x) {
            QCOMPARE(columns[x].summary.count, 2);
            QCOMPARE(columns[x].first, before + 2 * x);
            QCOMPARE(columns[x].last, before + 2 * x + 1);
            QCOMPARE(columns[x].summary.levelsSeen[3], di03[x]);
            QCOMPARE(columns[x].summary.levelsSeen[2], kSeenLow);
            QCOMPARE(columns[x].summary.levelsSeen[15], kSeenHigh); // DO04
        }
        QCOMPARE(store.at(store.indexAt(start + 5)).lane(3), Level::Refused);
        QCOMPARE(store.at(store.indexAt(start + 4)).lane(3), Level::Third);
        QCOMPARE(store.indexAt(start - before - 1), -1);
        QCOMPARE(store.indexAt(ms + 10), store.size() - 1);
    }

    // Thirteen replies 10 ms apart, DI00 low, high, high, low, high,
    // refused, high, low, low, high, high, high, low: rises at 10, 40, 90;
    // falls at 30, 70, 120; the run from 40 ends at the refused value, so
    // only 10..30 and 90..120 are widths. CNT01 counts the rise at 10, stands
    // still at the rises at 40 and 90 (one stretch), then counts 3 and 2 with
    // no edge (one stretch of 5 missed); CNT02 wraps by 3, then counts 3 as
    // DI01 rises at 20 (one stretch of 6 counted, 1 edge); CNT03 is reset and
    // counts 2. Measured as a whole and from 35 to 95, wherever the replies
    // fall among groups and chunks.
    void measures_data() {
        columns<qsizetype>("before");
        QTest::newRow("as they came") << qsizetype{0};
        QTest::newRow("across a group's edge") << qsizetype{60};
        QTest::newRow("across a chunk's edge") << kChunk - 5;
    }
    void measures() {
        using lumora::timeline::Finding;
        using lumora::timeline::Measure;
        QFETCH(qsizetype, before);
        const QByteArray di00 = "LHHLHRHLLHHHL";
        std::vector<Sample> day;
        for (int i = 0; i < 13; ++i) {
            Sample s;
            s.ms = kTen + qint64{10} * i;
            s.setLane(0, di00[i] == 'H' ? Level::High : di00[i] == 'L' ? Level::Low : Level::Refused);
            s.setLane(1, i < 2 ? Level::Low : Level::High);
            s.counters[0] = i == 0 ? 100 : i < 10 ? 101 : i < 11 ? 104 : 106;
            s.counters[1] = i == 0 ? 0xFFFFFFFEU : i < 2 ? 1 : 4;
            s.counters[2] = i < 6 ? 500 : 2;
            s.gaps[0] = quint32(10 * i);
            day.push_back(s);
        }
        ReplyStore store;
        for (qsizetype i = before; i > 0; --i)
            store.append({kTen - i, day.front().lanes, day.front().counters, day.front().gaps});
        for (const Sample& s : day)
            store.append(s);
        // Then two and a half chunks of levels at random, now and then a 2,
        // and counters at their own paces, one about to wrap.
        Sample next = day.back();
        for (qsizetype i = 0; i < 5 * kChunk / 2; ++i) {
            next.ms = kTen + 200 + i;
            next.lanes = (quint32(i * 2654435761U) >> 3 & 0x55555555U) | (i % 97 == 0 ? 0xAAAAAAAAU : 0);
            for (std::size_t k = 0; k < 12; ++k)
                next.counters[k] = quint32(i * qsizetype(k + 1) / 7) + (k == 1 ? 0xFFFFF000U : 0);
            store.append(next);
        }

        const Measure whole = lumora::timeline::measure(store, kTen, kTen + 130);
        const auto& in = whole.lanes[0];
        QCOMPARE(whole.replies, 13);
        QCOMPARE(std::vector<qint64>({in.rising, in.falling, in.highMs, in.otherMs}),
                 std::vector<qint64>({3, 3, 70, 10}));
        QCOMPARE(std::vector<qint64>({in.firstRiseMs - kTen, in.lastRiseMs - kTen, in.periodMinMs,
                                      in.periodMaxMs, in.widthMinMs, in.widthMaxMs}),
                 std::vector<qint64>({10, 90, 30, 50, 20, 30}));
        const auto& cnt = whole.counters;
        QCOMPARE(std::vector<qint64>({cnt[0].pulses, cnt[0].missed, cnt[1].pulses, cnt[1].wraps,
                                      cnt[1].resets, cnt[2].pulses, cnt[2].wraps, cnt[2].resets}),
                 std::vector<qint64>({6, 5, 6, 1, 0, 2, 0, 1}));
        QCOMPARE(std::vector<qint64>({whole.gaps[0].min, whole.gaps[0].max, whole.gaps[0].sum}),
                 std::vector<qint64>({0, 120, 780}));
        const auto missed = Finding::Kind::MissedPulses;
        const auto stuck = Finding::Kind::CounterStuck;
        QCOMPARE(whole.findings, std::vector<Finding>({{missed, 1, kTen, kTen + 20, 6, 1},
                                                       {stuck, 0, kTen + 30, kTen + 90, 0, 2},
                                                       {missed, 2, kTen + 50, kTen + 60, 2, 0},
                                                       {missed, 0, kTen + 90, kTen + 110, 5, 0}}));

        // Held from DI00's low at 30; the run from 90 is still high at 95.
        const Measure part = lumora::timeline::measure(store, kTen + 35, kTen + 95);
        const auto& cut = part.lanes[0];
        QCOMPARE(std::vector<qint64>({part.replies, cut.rising, cut.falling, cut.highMs, cut.otherMs,
                                      cut.periodMinMs, cut.periodMaxMs, cut.widthMaxMs}),
                 std::vector<qint64>({6, 2, 1, 25, 10, 50, 50, 0}));
        QCOMPARE(part.findings, std::vector<Finding>({{stuck, 0, kTen + 35, kTen + 90, 0, 2},
                                                      {missed, 2, kTen + 50, kTen + 60, 2, 0}}));

        // Runs merge into the run of all, whichever two meet first.
        const auto run = [&](int from, int to) {
            Measure m;
            for (int i = from; i < to; ++i)
                m.merge(Measure::of(day[std::size_t(i)]));
            return m;
        };
        for (int a = 1; a < 13; ++a) {
            for (int b = a + 1; b <= 13; ++b) {
                Measure later = run(a, b);
                later.merge(run(b, 13));
                Measure joined = run(0, a);
                joined.merge(later);
                QCOMPARE(joined, run(0, 13));
            }
        }
        Measure appended;
        for (const Sample& s : day)
            appended.append(s);
        QCOMPARE(appended, run(0, 13));

        // Time steps back after 200, falling there: high 100..200 and
        // 80..90, rises at 100 and 80, and only 80..90 is a length.
        Measure back;
        for (const auto& [ms, level] : {std::pair{0, Level::Low}, {100, Level::High}, {200, Level::High},
                                        {50, Level::Low}, {80, Level::High}, {90, Level::Low}}) {
            Sample s;
            s.ms = kTen + ms;
            s.setLane(0, level);
            back.append(s);
        }
        const auto& b = back.lanes[0];
        QCOMPARE(std::vector<qint64>({b.rising, b.periods, b.widthMinMs, b.widthMaxMs, b.highMs}),
                 std::vector<qint64>({2, 0, 10, 10, 110}));

        // Whole chunks from the runs the store folded, as reply by reply.
        const qint64 from = kTen + 1200;
        const qint64 to = kTen + 1700 + 2 * kChunk;
        Sample held = store.at(store.indexAt(from - 1));
        held.ms = from;
        Measure expected = Measure::of(held, false);
        for (qsizetype i = store.indexAt(from - 1) + 1; i <= store.indexAt(to - 1); ++i)
            expected.merge(Measure::of(store.at(i)));
        expected.holdUntil(to);
        QVERIFY(expected.findings.size() > 100);
        lumora::timeline::MeasureCache cache;
        QCOMPARE(cache.measure(store, from, to), expected);

        // A bounded store that dropped a chunk measures what it still holds.
        ReplyStore bounded(2 * kChunk + 200);
        for (qsizetype i = 0; i < 4 * kChunk + 100; ++i) {
            Sample s;
            s.ms = kTen + i;
            s.setLane(0, i / 100 % 2 == 1 ? Level::High : Level::Low);
            s.counters[0] = quint32((i + 100) / 200);
            bounded.append(s);
        }
        Measure kept;
        for (qsizetype i = 0; i < bounded.size(); ++i)
            kept.append(bounded.at(i));
        const qint64 end = bounded.msAt(bounded.size() - 1) + 1;
        kept.holdUntil(end);
        QCOMPARE(lumora::timeline::measure(bounded, bounded.msAt(0), end), kept);
    }

    // One lane of a steady day takes another value from reply `at` on.
    void lanesThatChange_data() {
        columns<int, qsizetype>("lane", "at");
        QTest::newRow("none changes") << -1 << qsizetype{0};
        QTest::newRow("DI05 at a chunk's edge") << 5 << kChunk;
        QTest::newRow("DO04 refused at the last reply") << 15 << kChunk + 99;
        QTest::newRow("CNT03 at a chunk's edge") << 18 << kChunk;
        QTest::newRow("GAP12 after the first reply") << 39 << qsizetype{1};
    }
    void lanesThatChange() {
        QFETCH(int, lane);
        QFETCH(qsizetype, at);
        ReplyStore store;
        for (qsizetype i = 0; i < kChunk + 100; ++i) {
            Sample s;
            s.ms = kTen + i;
            s.counters.fill(7);
            s.gaps.fill(7);
            if (lane >= 0 && i >= at) {
                if (lane < 16)
                    s.setLane(lane, Level::Refused);
                else
                    (lane < 28 ? s.counters[lane - 16] : s.gaps[lane - 28]) = 8;
            }
            store.append(s);
        }
        const quint64 changing = lane < 0 ? 0 : quint64{1} << lane;
        QCOMPARE(lumora::timeline::lanesThatChange(store, {0, store.size()}), changing);
        QCOMPARE(lumora::timeline::lanesThatChange(store, {at, store.size()}), 0U);
    }

    // Counter or gap 6 goes down once, at reply `at`, and nowhere else; time
    // steps back there too.
    void drops_data() {
        columns<qsizetype, bool, quint32, quint32, qsizetype, bool>("at", "gap", "high", "low", "keep",
                                                                    "seen");
        const qsizetype all = ReplyStore::kUnbounded;
        QTest::newRow("counter reset, as they came") << qsizetype{10} << false << 7U << 0U << all << true;
        QTest::newRow("counter wraps at a group's edge")
            << qsizetype{64} << false << 0xFFFFFFFFU << 2U << all << true;
        QTest::newRow("gap down at a block's edge") << qsizetype{512} << true << 1500U << 900U << all << true;
        QTest::newRow("counter reset at a chunk's edge") << kChunk << false << 5U << 0U << all << true;
        QTest::newRow("gap down inside a packed group")
            << kChunk + 100 << true << 70000U << 3U << all << true;
        QTest::newRow("on the oldest reply held: what it went down from has dropped off")
            << 2 * kChunk << false << 9U << 1U << 2 * kChunk + 1 << false;
    }
    void drops() {
        QFETCH(qsizetype, at);
        QFETCH(bool, gap);
        QFETCH(quint32, high);
        QFETCH(quint32, low);
        QFETCH(qsizetype, keep);
        QFETCH(bool, seen);
        ReplyStore store(keep);
        const qsizetype total = at + 2 * kChunk + 1;
        for (qsizetype i = 0; i < total; ++i) {
            Sample s;
            // Time steps back at the same reply.
            s.ms = kTen + i - (i < at ? 0 : 10);
            // The others count up, across every edge.
            s.counters.fill(quint32(i));
            s.gaps.fill(quint32(i));
            (gap ? s.gaps : s.counters)[6] = i < at ? high : low;
            store.append(s);
        }
        const qsizetype dropped = store.appendedCount() - store.size();
        const qsizetype held = at - dropped;
        const quint32 expected = seen ? 1U << 6 : 0U;
        QCOMPARE(store.stepsBack(), seen ? std::vector<qsizetype>{held} : std::vector<qsizetype>{});
        // Both kinds, the one that went down in the low bits.
        const auto drops = [&](qsizetype from, qsizetype to) {
            const Summary s = store.summarize({from, to});
            return gap ? s.gapDrops | s.counterDrops << 16 : s.counterDrops | s.gapDrops << 16;
        };
        QCOMPARE(drops(0, store.size()), expected);
        QCOMPARE(drops(held, held + 1), expected);
        QCOMPARE(drops(held + 1, store.size()), 0U);
        if (held > 0)
            QCOMPARE(drops(0, held), 0U);
        // Seven pixel columns: the one holding the drop says so, with the
        // low value as its minimum.
        const auto columns =
            lumora::timeline::columns(store, store.msAt(0), store.msAt(store.size() - 1) + 1, 7);
        for (const auto& column : columns) {
            const bool holds = column.first <= held && held <= column.last;
            QCOMPARE(gap ? column.summary.gapDrops : column.summary.counterDrops, holds ? expected : 0U);
            if (holds)
                QCOMPARE((gap ? column.summary.gapMin : column.summary.counterMin)[6], low);
        }
    }

    // At least the newest 100,000 replies held, the older gone, within the
    // memory the client may spend on them.
    void bound_data() {
        columns<int, qint64>("kind", "maxBytes");
        QTest::newRow("every value changing every reply: 16 MB")
            << int(EverythingNew) << qint64{16} * 1024 * 1024;
        QTest::newRow("the emulator's kind: 40 bytes a reply") << int(EmulatorKind) << qint64{40} * 100'000;
        QTest::newRow("a busy bench: 16 bytes a reply") << int(Busy) << qint64{16} * 100'000;
    }
    void bound() {
        QFETCH(int, kind);
        QFETCH(qint64, maxBytes);
        constexpr qsizetype kKeep = 100'000;
        constexpr qsizetype kAppended = 250'000;
        ReplyStore store(kKeep);
        std::vector<Sample> all;
        all.reserve(kAppended);
        QRandomGenerator random(11);
        EmulatorLike emulator;
        for (qsizetype i = 0; i < kAppended; ++i) {
            // Worst of all: time jumps back and forth within a day.
            all.push_back(kind == EverythingNew ? randomSample(random, kTen + random.bounded(86'400'000))
                          : kind == Busy        ? busySample(random, i, kTen + i)
                                                : emulator.next(kTen + i + i / 50));
            store.append(all.back());
        }
        QCOMPARE(store.appendedCount(), kAppended);
        QVERIFY(store.size() >= kKeep);
        QVERIFY(store.size() < kKeep + kChunk);
        const qsizetype dropped = kAppended - store.size();
        for (qsizetype i = 0; i < store.size(); ++i)
            QVERIFY2(store.at(i) == all[dropped + i], qPrintable(QString::number(i)));
        QCOMPARE(store.msAt(store.size() - 1), all.back().ms);
        qInfo("%zu bytes for %lld replies, %.1f a reply", store.memoryBytes(), qlonglong(store.size()),
              double(store.memoryBytes()) / double(store.size()));
        QVERIFY(qint64(store.memoryBytes()) <= maxBytes);
    }

    // columns(), rangesIn(), indexAt() and stepsBack() against the same
    // found by looking at every reply.
    void columnsMatchBruteForce_data() {
        // shortestStep: ms; 0: replies in the same millisecond
        columns<qsizetype, int, int, int>("replies", "stepBackEvery", "kind", "shortestStep");
        QTest::newRow("emulator's kind, 1 ms, three chunks and more")
            << 3 * kChunk + 1000 << 0 << int(EmulatorKind) << 1;
        QTest::newRow("emulator's kind, time stepping back")
            << 2 * kChunk + 500 << 700 << int(EmulatorKind) << 1;
        QTest::newRow("every value new, time stepping back")
            << 2 * kChunk + 77 << 3000 << int(EverythingNew) << 1;
        QTest::newRow("a busy bench, three chunks and more") << 3 * kChunk + 300 << 0 << int(Busy) << 1;
        QTest::newRow("a few, as they came") << qsizetype{200} << 50 << int(EverythingNew) << 1;
        QTest::newRow("time standing still, and stepping back")
            << kChunk + 900 << 600 << int(EverythingNew) << 0;
    }
    void columnsMatchBruteForce() {
        QFETCH(qsizetype, replies);
        QFETCH(int, stepBackEvery);
        QFETCH(int, kind);
        QFETCH(int, shortestStep);
        QRandomGenerator random(5);
        EmulatorLike emulator;
        ReplyStore store;
        std::vector<Sample> held;
        qint64 ms = kTen;
        for (qsizetype i = 0; i < replies; ++i) {
            ms += random.bounded(shortestStep, 3);
            if (stepBackEvery > 0 && i % stepBackEvery == stepBackEvery - 1)
                ms -= random.bounded(1, 2000);
            held.push_back(kind == EverythingNew ? randomSample(random, ms)
                           : kind == Busy        ? busySample(random, i, ms)
                                                 : emulator.next(ms));
            held.back().ms = ms;
            store.append(held.back());
        }
        std::vector<qsizetype> steps;
        for (qsizetype i = 1; i < replies; ++i) {
            if (held[i].ms < held[i - 1].ms)
                steps.push_back(i);
        }
        QCOMPARE(store.stepsBack(), steps);

        qint64 first = std::numeric_limits<qint64>::max();
        qint64 last = std::numeric_limits<qint64>::min();
        for (const Sample& s : held) {
            first = std::min(first, s.ms);
            last = std::max(last, s.ms);
        }
        struct Window {
            qint64 from;
            qint64 to;
            int width;
        };
        const qint64 middle = (first + last) / 2;
        for (const Window& w : {Window{first, last + 1, 1600}, Window{first - 500, last + 700, 333},
                                Window{middle - 1234, middle + 999, 37}, Window{middle, middle + 3, 10}}) {
            const auto columns = lumora::timeline::columns(store, w.from, w.to, w.width);
            QCOMPARE(qsizetype(columns.size()), qsizetype(w.width));
            const double span = double(w.to - w.from) / w.width;
            for (int x = 0; x < w.width; ++x) {
                const qint64 start = w.from + qint64(span * x);
                const qint64 end = x + 1 == w.width ? w.to : w.from + qint64(span * (x + 1));
                const Expected e = bruteForce(held, start, end);
                QVERIFY2(sameSummary(columns[x].summary, e.summary) && columns[x].first == e.first &&
                             columns[x].last == e.last,
                         qPrintable(QStringLiteral("column %1 of %2").arg(x).arg(w.width)));
            }

            // The ranges: the replies inside, split where time steps back.
            std::vector<lumora::timeline::IndexRange> ranges;
            for (qsizetype i = 0; i < replies; ++i) {
                if (held[i].ms < w.from || held[i].ms >= w.to)
                    continue;
                if (ranges.empty() || ranges.back().to != i || held[i].ms < held[i - 1].ms)
                    ranges.push_back({i, i + 1});
                else
                    ranges.back().to = i + 1;
            }
            QCOMPARE(store.rangesIn(w.from, w.to), ranges);
        }
        // Ranges that start or end beside the edges of groups, blocks and chunks.
        const qint64 always = std::numeric_limits<qint64>::min();
        const qint64 never = std::numeric_limits<qint64>::max();
        for (const qsizetype edge : {qsizetype{0}, qsizetype{64}, qsizetype{512}, kChunk, 2 * kChunk}) {
            for (const qsizetype from : {edge - 1, edge, edge + 1}) {
                for (const qsizetype to : {from + 63, from + 64, from + 511, from + 512, from + kChunk - 1,
                                           from + kChunk, from + kChunk + 1, edge + kChunk - 1}) {
                    if (from < 0 || to > replies || to <= from)
                        continue;
                    QVERIFY2(sameSummary(store.summarize({from, to}),
                                         bruteForce(held, always, never, from, to).summary),
                             qPrintable(QStringLiteral("[%1, %2)").arg(from).arg(to)));
                }
            }
        }
        for (int probe = 0; probe < 200; ++probe) {
            const qint64 at = first - 2 + random.bounded(last - first + 4);
            qsizetype expected = -1;
            for (qsizetype i = 0; i < replies; ++i) {
                if (held[i].ms <= at)
                    expected = i;
            }
            QCOMPARE(store.indexAt(at), expected);
        }
    }

    // Two chunks and 700 replies, all alike but for changes that last: DO04
    // at a group's first reply, CNT05 at a block's, GAP12 at a chunk's, DI00
    // at a chunk's last, CNT05 in the open chunk, DI00 back at the very last.
    void edgeSearch_data() {
        columns<bool, QString, qsizetype, qsizetype>("next", "lanes", "index", "expected");
        const qsizetype walk[] = {-1, 64, 512, 4096, 8191, 8704, 8891, 8892};
        for (int k = 0; k + 1 < 8; ++k) {
            QTest::addRow("next after %lld", qlonglong(walk[k]))
                << true << u"any"_s << walk[k] << (walk[k + 1] < 8892 ? walk[k + 1] : -1);
            QTest::addRow("previous before %lld", qlonglong(walk[k + 1]))
                << false << u"any"_s << walk[k + 1] << walk[k];
        }
        QTest::newRow("next on one lane") << true << u"dI00"_s << qsizetype{0} << qsizetype{8191};
        QTest::newRow("next on two lanes") << true << u"CNT05 DO01"_s << qsizetype{600} << qsizetype{8704};
        QTest::newRow("next, never changes") << true << u"DO01 GAP01"_s << qsizetype{-5} << qsizetype{-1};
        QTest::newRow("previous on one lane") << false << u"GAP12"_s << qsizetype{9000} << qsizetype{4096};
        QTest::newRow("previous, far back") << false << u"DO04"_s << qsizetype{8891} << qsizetype{64};
        QTest::newRow("previous, never changes") << false << u"CNT01"_s << qsizetype{8892} << qsizetype{-1};
    }
    void edgeSearch() {
        QFETCH(bool, next);
        QFETCH(QString, lanes);
        QFETCH(qsizetype, index);
        QFETCH(qsizetype, expected);
        ReplyStore store;
        Sample s;
        for (qsizetype i = 0; i < 8892; ++i) {
            s.ms = kTen + i;
            const std::map<qsizetype, std::pair<int, quint32>> changes{{64, {15, 1}},      {512, {20, 7}},
                                                                       {4096, {39, 1500}}, {8191, {0, 1}},
                                                                       {8704, {20, 8}},    {8891, {0, 0}}};
            if (const auto it = changes.find(i); it != changes.end())
                setAnyLane(s, it->second.first, it->second.second);
            store.append(s);
        }
        const auto found = next ? lumora::timeline::nextChange(store, index, laneSet(lanes))
                                : lumora::timeline::previousChange(store, index, laneSet(lanes));
        QCOMPARE(found, expected);
    }

    // Changes now and then on a few lanes, some of them to the value held
    // two changes before: searches and the lanes that change against a look
    // at every reply; so are the stretches where a condition on them holds.
    void edgeSearchMatchesBruteForce() {
        QRandomGenerator random(11);
        const int lanes[] = {0, 5, 13, 18, 22, 34};
        std::vector<Sample> held(std::size_t(2 * kChunk + 1500));
        ReplyStore store;
        for (std::size_t i = 0; i < held.size(); ++i) {
            held[i] = i > 0 ? held[i - 1] : Sample{};
            held[i].ms = kTen + qint64(i);
            if (random.bounded(150) == 0)
                setAnyLane(held[i], lanes[random.bounded(6)], random.bounded(4));
            store.append(held[i]);
        }
        const auto n = qsizetype(held.size());
        for (int probe = 0; probe < 400; ++probe) {
            const qsizetype index = random.bounded(-2, int(n) + 2);
            const auto set = probe % 5 == 0 ? lumora::timeline::kEveryLane
                                            : lumora::timeline::LaneSet{1} << lanes[random.bounded(6)];
            const auto differs = [&](qsizetype j) {
                return !lumora::timeline::sameOn(held[j], held[j - 1], set);
            };
            qsizetype next = std::max<qsizetype>(index + 1, 1);
            while (next < n && !differs(next))
                ++next;
            qsizetype previous = std::min(index, n) - 1;
            while (previous >= 1 && !differs(previous))
                --previous;
            QCOMPARE(lumora::timeline::nextChange(store, index, set), next < n ? next : -1);
            QCOMPARE(lumora::timeline::previousChange(store, index, set), previous >= 1 ? previous : -1);
            const qsizetype from = std::clamp<qsizetype>(index, 0, n - 1);
            const qsizetype to = std::min(n, from + 1 + random.bounded(3 * kChunk));
            lumora::timeline::LaneSet changing = 0;
            for (int lane = 0; lane < lumora::timeline::kAllLaneCount; ++lane) {
                for (qsizetype j = from + 1; j < to; ++j) {
                    if (!lumora::timeline::sameOn(held[j], held[j - 1], lumora::timeline::LaneSet{1} << lane))
                        changing |= lumora::timeline::LaneSet{1} << lane;
                }
            }
            QCOMPARE(lumora::timeline::lanesThatChange(store, {from, to}), changing);
        }
        QString why;
        const auto condition =
            lumora::timeline::Condition::parse(u"DI00 & !DO02 | CNT03 == 1 | GAP07 > 0.002"_s, why);
        QStringList expected;
        for (qsizetype i = 0, start = -1; i <= n; ++i) {
            const bool holds = i < n && condition->holds(held[i]);
            if (holds && start < 0)
                start = i;
            if (!holds && start >= 0)
                expected.append(u"%1-%2"_s.arg(std::exchange(start, -1)).arg(i));
        }
        bool more = false;
        QStringList found;
        for (const auto& s : lumora::timeline::findStretches(store, *condition, kTen, kTen + n, n, more))
            found.append(u"%1-%2"_s.arg(s.fromMs - kTen).arg(s.toMs - kTen));
        QCOMPARE(found, expected);
    }

    // Against one reply: DI03 High, DO01 Low, DI00 at 2, DI01 refused,
    // CNT04 1000, GAP02 1.5 s.
    void conditionParse_data() {
        columns<QString, QString, bool>("text", "why", "holds");
        for (const auto& [text, holds] :
             std::initializer_list<std::pair<QString, bool>>{{u"DI03 & !DO01"_s, true},
                                                             {u"di03&do01"_s, false},
                                                             {u"!DI00 & !DI01"_s, true},
                                                             {u"DI00 | DI01"_s, false},
                                                             {u"DI03 | DO01 & DI00"_s, true},
                                                             {u"!(DI03 & DO01)"_s, true},
                                                             {u"CNT04 > 1000"_s, false},
                                                             {u"cnt04>=1000"_s, true},
                                                             {u"CNT04 == 1000"_s, true},
                                                             {u"CNT04 != 1000"_s, false},
                                                             {u"CNT04 < 1001"_s, true},
                                                             {u"CNT04 <= 999"_s, false},
                                                             {u"(DI00 | DI03) & GAP02 >= 1.5"_s, true},
                                                             {u"GAP02 > 1.5"_s, false},
                                                             {u"GAP02 < 1.5"_s, false}})
            QTest::newRow(qPrintable(text)) << text << QString() << holds;
        for (const auto& [text, why] : std::initializer_list<std::pair<QString, QString>>{
                 {u"DX03 & DO01"_s, u"unknown lane \"DX03\" at 1"_s},
                 {u"(DI00 | DI01"_s, u"expected \")\" at 13"_s},
                 {u""_s, u"expected a lane, \"!\" or \"(\" at 1"_s},
                 {u"DI00 &"_s, u"expected a lane, \"!\" or \"(\" at 7"_s},
                 {u"cnt04"_s, u"expected <, <=, >, >=, == or != after \"CNT04\" at 6"_s},
                 {u"GAP02 = 1"_s, u"expected <, <=, >, >=, == or != after \"GAP02\" at 7"_s},
                 {u"CNT04 > x"_s, u"expected a number at 9"_s},
                 {u"GAP02 >= 1.5.1"_s, u"expected a number at 10"_s},
                 {u"DI00 DI01"_s, u"expected \"&\" or \"|\" at 6"_s},
                 {u"DI00 > 1"_s, u"expected \"&\" or \"|\" at 6"_s},
                 {QString(70, u'(') + u"DI00"_s, u"too deeply nested at 65"_s}})
            QTest::newRow(qPrintable(why)) << text << why << false;
    }
    void conditionParse() {
        QFETCH(QString, text);
        QFETCH(QString, why);
        QFETCH(bool, holds);
        Sample s;
        s.setLane(3, Level::High);
        s.setLane(0, Level::Third);
        s.setLane(1, Level::Refused);
        s.counters[3] = 1000;
        s.gaps[1] = 1500;
        QString reason;
        const auto condition = lumora::timeline::Condition::parse(text, reason);
        QCOMPARE(reason, why);
        QCOMPARE(condition.has_value(), why.isEmpty());
        QCOMPARE(condition && condition->holds(s), holds);
    }

    // A day of 5000 replies 2 ms apart: DI03 High at 100..699 (DO01 too at
    // 600..649), at 4090..4099 but for a 2 at 4095, and from 4900 on; GAP02
    // 1.5 s at 2048..2559. Stretches as "first:from-to", ms after 10:00.
    void findStretches_data() {
        columns<QString, qint64, qint64, qsizetype, QString, bool>("condition", "from", "to", "limit",
                                                                   "expected", "more");
        const QString all = u"100:200-1200 650:1300-1400 4090:8180-8190 4096:8192-8200 4900:9800-10000"_s;
        QTest::newRow("the whole day") << u"DI03 & !DO01"_s << 0LL << 10000LL << qsizetype{9} << all << false;
        QTest::newRow("as many as the limit")
            << u"DI03 & !DO01"_s << 0LL << 10000LL << qsizetype{5} << all << false;
        QTest::newRow("more than the limit")
            << u"DI03 & !DO01"_s << 0LL << 10000LL << qsizetype{2} << u"100:200-1200 650:1300-1400"_s << true;
        QTest::newRow("clipped, the held reply first")
            << u"DI03 & !DO01"_s << 301LL << 8185LL << qsizetype{9}
            << u"150:301-1200 650:1300-1400 4090:8180-8185"_s << false;
        QTest::newRow("from a reply, nothing held")
            << u"DI03 & !DO01"_s << 1200LL << 1400LL << qsizetype{9} << u"650:1300-1400"_s << false;
        QTest::newRow("after the last reply")
            << u"DI03"_s << 10500LL << 11000LL << qsizetype{9} << u"4999:10500-11000"_s << false;
        QTest::newRow("a gap") << u"GAP02 >= 1.5"_s << 0LL << 10000LL << qsizetype{9} << u"2048:4096-5120"_s
                               << false;
        QTest::newRow("never") << u"DO02 | CNT01 > 0"_s << 0LL << 10000LL << qsizetype{9} << QString()
                               << false;
    }
    void findStretches() {
        QFETCH(QString, condition);
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(qsizetype, limit);
        QFETCH(QString, expected);
        QFETCH(bool, more);
        ReplyStore store;
        for (qsizetype i = 0; i < 5000; ++i) {
            Sample s;
            s.ms = kTen + 2 * i;
            const bool high = (i >= 100 && i < 700) || (i >= 4090 && i < 4100) || i >= 4900;
            s.setLane(3, i == 4095 ? Level::Third : high ? Level::High : Level::Low);
            s.setLane(12, i >= 600 && i < 650 ? Level::High : Level::Low);
            s.gaps[1] = i >= 2048 && i < 2560 ? 1500 : 0;
            store.append(s);
        }
        QString why;
        bool foundMore = false;
        QStringList found;
        for (const auto& s :
             lumora::timeline::findStretches(store, *lumora::timeline::Condition::parse(condition, why),
                                             kTen + from, kTen + to, limit, foundMore))
            found.append(u"%1:%2-%3"_s.arg(s.first).arg(s.fromMs - kTen).arg(s.toMs - kTen));
        QCOMPARE(found.join(u' '), expected);
        QCOMPARE(foundMore, more);
    }

    // The replies of [10:00:00.500, 10:00:02.000): the second, third and
    // fourth as they came, the third earlier than the second; the fourth
    // changes a gap by less than the shown figure does.
    void exportRange_data() {
        columns<bool, qint64, qint64, quint64, QByteArray>("vcd", "from", "to", "lanes", "expected");
        constexpr quint64 kEvery = lumora::timeline::kEveryLane;
        // DI00, DO04, CNT01 and GAP12.
        constexpr quint64 kFour = 1U | 1U << 15 | 1U << 16 | quint64{1} << 39;
        const QByteArray header = "time,DI00,DI01,DI02,DI03,DI04,DI05,DI06,DI07,DI08,DI09,DI10,DI11,"
                                  "CNT01,CNT02,CNT03,CNT04,CNT05,CNT06,CNT07,CNT08,CNT09,CNT10,CNT11,CNT12,"
                                  "GAP01,GAP02,GAP03,GAP04,GAP05,GAP06,GAP07,GAP08,GAP09,GAP10,GAP11,GAP12,"
                                  "DO01,DO02,DO03,DO04\n";
        QTest::newRow("csv") << false << kTen + 500 << kTen + 2000 << kEvery
                             << header +
                                    "2026-12-07 10:00:01.000,1,0,,0,0,0,0,0,0,0,0,0,5,0,0,0,0,0,0,0,0,0,0,0,"
                                    "1.01,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,2,0,0,0\n"
                                    "2026-12-07 10:00:00.500,0,0,,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
                                    "4294967295,1.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,1.23,"
                                    "2,0,0,1\n"
                                    "2026-12-07 10:00:01.500,0,0,,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
                                    "4294967295,1.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,0.00,1.23,"
                                    "2,0,0,1\n";
        QTest::newRow("csv, nothing in range") << false << kTen + 2001 << kTen + 3000 << kEvery << header;
        QTest::newRow("csv, four lanes") << false << kTen + 500 << kTen + 2000 << kFour
                                         << "time,DI00,CNT01,GAP12,DO04\n2026-12-07 10:00:01.000,1,5,0.00,0\n"
                                            "2026-12-07 10:00:00.500,0,0,1.23,1\n"
                                            "2026-12-07 10:00:01.500,0,0,1.23,1\n"_ba;
        QByteArray dump = "#0\n$dumpvars\n1A\n0B\nzC\n";
        for (const char id : QByteArray("DEFGHIJKL"))
            dump += "0"_ba + id + '\n';
        // CNT01 at 101, the other counters 0; GAP01 at 1.01 s, the other gaps 0.
        dump += "xM\n0N\n0O\n0P\nb101 Q\n";
        for (const char id : QByteArray("RSTUVWXYZab"))
            dump += "b0 "_ba + id + '\n';
        dump += "r1.01 c\n";
        for (const char id : QByteArray("defghijklmn"))
            dump += "r0.00 "_ba + id + '\n';
        dump += "$end\n";
        QTest::newRow("vcd") << true << kTen + 500 << kTen + 2000 << kEvery
                             << "$date 2026-12-07 10:00:01.000 UTC $end\n" + definitions() + dump +
                                    "$comment time steps back: 2026-12-07 10:00:00.500 UTC comes after "
                                    "2026-12-07 10:00:01.000 UTC; written at #0 $end\n"
                                    "0A\n1P\nb0 Q\nb11111111111111111111111111111111 b\nr1.00 c\nr1.23 n\n";
        QTest::newRow("vcd, nothing in range")
            << true << kTen + 2001 << kTen + 3000 << kEvery << definitions();
        // The third reply changes GAP02 alone: nothing written, not even its time.
        QTest::newRow("vcd, four lanes")
            << true << kTen + 500 << kTen + 2000 << kFour
            << "$date 2026-12-07 10:00:01.000 UTC $end\n" + definitions(kFour) +
                   "#0\n$dumpvars\n1A\n0P\nb101 Q\nr0.00 n\n$end\n$comment time steps back: 2026-12-07 "
                   "10:00:00.500 UTC comes after 2026-12-07 10:00:01.000 UTC; written at #0 $end\n"
                   "0A\n1P\nb0 Q\nr1.23 n\n";
    }
    void exportRange() {
        QFETCH(bool, vcd);
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(quint64, lanes);
        QFETCH(QByteArray, expected);
        ReplyStore store;
        Sample s;
        s.ms = kTen;
        store.append(s);
        s.ms = kTen + 1000;
        s.setLane(0, Level::High);
        s.setLane(2, Level::Refused);
        s.setLane(12, Level::Third);
        s.counters[0] = 5;
        s.gaps[0] = 1005;
        store.append(s);
        s.ms = kTen + 500;
        s.setLane(0, Level::Low);
        s.setLane(15, Level::High);
        s.counters[0] = 0;
        s.counters[11] = 0xFFFFFFFF;
        s.gaps[0] = 1004;
        s.gaps[11] = 1234;
        store.append(s);
        s.ms = kTen + 1500;
        s.gaps[1] = 1;
        store.append(s);
        s.ms = kTen + 2000;
        s.counters[4] = 4;
        store.append(s);
        QBuffer out;
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(vcd ? lumora::timeline::writeVcd(out, store, from, to, lanes)
                    : lumora::timeline::writeCsv(out, store, from, to, lanes));
        QCOMPARE(out.data(), expected);
    }

    void writeFailureIsReported() {
        QBuffer closed;
        lumora::timeline::VcdWriter writer(closed);
        writer.add(QDateTime::fromMSecsSinceEpoch(kTen, QTimeZone::utc()), reply({}));
        QVERIFY(!writer.finish());
        QCOMPARE(writer.errorString(), closed.errorString());
    }

    // ---- Daily files read into a timeline ----

    void badFile_data() {
        // bytes: or "DIR", "FIFO", "MEM" (unreadable), "NONE" (missing); problem: "%1" the path, a trailing *
        // any system reason
        columns<QString, QByteArray, QByteArray, QString, int>("name", "bytes", "zone", "problem", "replies");
        const QByteArray a = dayBlock("10:00:00.000");
        QTest::newRow("not a log file by its name")
            << u"notes.txt"_s << a << "UTC"_ba
            << u"%1: not a daily log file (the name is not YYYYMMDD.txt), skipped"_s << 1;
        QTest::newRow("not a log file inside")
            << u"20261207.txt"_s << "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"_ba
            << "UTC"_ba << u"%1:1: not a RECV block, nor are the lines up to the next header, skipped"_s << 1;
        QTest::newRow("a folder") << u"20261207.txt"_s << "DIR"_ba
                                  << "UTC"_ba << u"%1: a folder, not a daily log file, skipped"_s << 1;
        QTest::newRow("a FIFO") << u"20261207.txt"_s << "FIFO"_ba
                                << "UTC"_ba << u"%1: not a daily log file (not a regular file), skipped"_s
                                << 1;
        QTest::newRow("missing") << u"20261207.txt"_s << "NONE"_ba
                                 << "UTC"_ba << u"%1: cannot open it: *"_s << 1;
        QTest::newRow("unreadable") << u"20261207.txt"_s << "MEM"_ba
                                    << "UTC"_ba << u"%1: cannot read it to the end: *"_s << 1;
        QTest::newRow("junk between blocks")
            << u"20261207.txt"_s << a + "junk\r\n" + dayBlock("10:00:01.000") << "UTC"_ba
            << u"%1:7: not a RECV block, nor are the lines up to the next header, skipped"_s << 3;
        QTest::newRow("torn block") << u"20261207.txt"_s << a + dayBlock("10:00:01.000").first(120)
                                    << "UTC"_ba << u"%1:7: torn block: the file ends inside line 8, skipped"_s
                                    << 2;
        // The clocks go forward at 10:00 UTC that day: 23 hours from 08:00 to 07:00 UTC the next.
        QTest::newRow("a stamp that is no time of its day")
            << u"20260308.txt"_s << a + dayBlock("07:30:00.000") << "America/Los_Angeles"_ba
            << u"%1:7: the stamp is no time of 2026-03-08 in this time zone, skipped"_s << 2;
    }
    // Each bad file gives one problem naming it (and the line), and every whole block of it and of a good
    // file beside it is read.
    void badFile() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, zone);
        QFETCH(QString, problem);
        QFETCH(int, replies);
        const QTimeZone timeZone(zone);
        if (!timeZone.isValid())
            QSKIP("no zone data (package tzdata)");
        const QDir dir = dayFolder();
        const QString good = dir.filePath(u"20260101.txt"_s);
        QVERIFY(writeFile(good, dayBlock("12:00:00.000")));
        const QString path = dir.filePath(name);
        if (bytes == "DIR")
            QVERIFY(dir.mkpath(name));
        else if (bytes == "FIFO")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (bytes == "MEM")
            QVERIFY(QFile::link(u"/proc/self/mem"_s, path));
        else if (bytes != "NONE")
            QVERIFY(writeFile(path, bytes));
        lumora::timeline::ReplyStore store;
        lumora::timeline::DayFiles days(store, timeZone);
        days.load({path, good});
        const QStringList got = messages(days);
        QCOMPARE(got.size(), 1);
        const QString expected = problem.arg(path);
        if (expected.endsWith(u'*'))
            QVERIFY2(got.first().startsWith(expected.chopped(1)) && got.first().size() > expected.size(),
                     qPrintable(got.first()));
        else
            QCOMPARE(got.first(), expected);
        QCOMPARE(store.size(), replies);
    }
    void stepsBack_data() {
        columns<QList<QByteArray>, QList<qint64>, QString>("stamps", "lines", "note");
        QTest::newRow("once") << QList<QByteArray>{"10:00:00.000", "10:00:01.000", "09:00:00.000",
                                                   "09:00:00.000"}
                              << QList<qint64>{13} << u"; time steps back at 20261207.txt line 13"_s;
        QTest::newRow("twice") << QList<QByteArray>{"10:00:00.000", "09:59:59.999", "11:00:00.000",
                                                    "08:00:00.000"}
                               << QList<qint64>{7, 19}
                               << u"; time steps back at 20261207.txt line 7 and at 1 more place"_s;
        QTest::newRow("three times") << QList<QByteArray>{"10:00:00.000", "09:00:00.000", "08:00:00.000",
                                                          "07:00:00.000"}
                                     << QList<qint64>{7, 13, 19}
                                     << u"; time steps back at 20261207.txt line 7 and at 2 more places"_s;
    }
    // A time that goes back stays where it falls, and is told by file and line.
    void stepsBack() {
        QFETCH(QList<QByteArray>, stamps);
        QFETCH(QList<qint64>, lines);
        QFETCH(QString, note);
        const QDir dir = dayFolder();
        QByteArray text;
        for (const QByteArray& stamp : stamps)
            text += dayBlock(stamp.constData());
        QVERIFY(writeFile(dir.filePath(u"20261207.txt"_s), text));
        lumora::timeline::ReplyStore store;
        lumora::timeline::DayFiles days(store, QTimeZone::utc());
        days.load({dir.filePath(u"20261207.txt"_s)});
        QList<qint64> got;
        for (const lumora::timeline::TimeStepBack& step : days.stepsBack()) {
            QCOMPARE(step.file, dir.filePath(u"20261207.txt"_s));
            got.append(step.line);
        }
        QCOMPARE(got, lines);
        QStringList expected;
        for (const QByteArray& stamp : stamps)
            expected.append(u"2026-12-07 "_s + QString::fromLatin1(stamp));
        QCOMPARE(utcTimes(store), expected);
        QCOMPARE(lumora::timeline::stepsBackNote(days.stepsBack()), note);
    }
    // Blocks appended to the last file are picked up; one still being written waits until it is whole. What
    // comes after the last file by name (a folder here) neither stops that nor is taken back.
    void follow() {
        const QDir dir = dayFolder();
        const QString earlier = dir.filePath(u"20261206.txt"_s);
        const QString path = dir.filePath(u"20261207.txt"_s);
        const QString folder = dir.filePath(u"zz"_s);
        QVERIFY(dir.mkpath(folder));
        const QString folderProblem = folder + u": a folder, not a daily log file, skipped"_s;
        QVERIFY(writeFile(earlier, dayBlock("09:00:00.000")));
        const QByteArray third = dayBlock("10:00:01.000", 3);
        QVERIFY(writeFile(path, dayBlock("10:00:00.000", 1) + dayBlock("10:00:00.500", 2) + third.first(60)));
        lumora::timeline::ReplyStore store;
        lumora::timeline::DayFiles days(store, QTimeZone::utc());
        days.load({folder, path, earlier});
        QCOMPARE(store.size(), 3);
        const QString torn = path + u":13: torn block: the file ends inside line 14, skipped"_s;
        QCOMPARE(messages(days), (QStringList{folderProblem, torn}));
        QCOMPARE(days.follow(), 0);
        QCOMPARE(messages(days), (QStringList{folderProblem, torn}));
        QVERIFY(writeFile(path, third.mid(60) + third.first(100), QIODevice::Append));
        QCOMPARE(days.follow(), 1);
        QCOMPARE(
            messages(days),
            (QStringList{folderProblem, path + u":19: torn block: the file ends inside line 20, skipped"_s}));
        QCOMPARE(days.follow(), 0);
        QCOMPARE(messages(days).size(), 2);
        QVERIFY(writeFile(path, third.mid(100) + "junk\r\n", QIODevice::Append));
        QCOMPARE(days.follow(), 1);
        QCOMPARE(messages(days),
                 (QStringList{
                     folderProblem,
                     path + u":25: not a RECV block, nor are the lines up to the next header, skipped"_s}));
        QVERIFY(writeFile(path, "more junk\r\n" + dayBlock("10:00:02.000", 4, "\n"), QIODevice::Append));
        QCOMPARE(days.follow(), 1);
        QCOMPARE(messages(days).size(), 2);
        QCOMPARE(utcTimes(store).mid(3),
                 (QStringList{u"2026-12-07 10:00:01.000"_s, u"2026-12-07 10:00:01.000"_s,
                              u"2026-12-07 10:00:02.000"_s}));
        QCOMPARE(store.at(5).counters[0], 4U);
        QVERIFY(days.stepsBack().empty());

        // Cut back to its first two blocks, then grown: what was read stays, the cut is told once, and
        // what comes after the cut is read, its lines counted as the file now stands.
        QVERIFY(QFile::resize(path, dayBlock("10:00:00.000", 1).size() * 2));
        QVERIFY(writeFile(path, "junk\r\n" + dayBlock("10:00:03.000", 5), QIODevice::Append));
        const QString junkAt =
            path + u":%1: not a RECV block, nor are the lines up to the next header, skipped"_s;
        const QStringList afterCut{folderProblem, junkAt.arg(25),
                                   path + u": it is shorter than when it was read, skipped"_s,
                                   junkAt.arg(13)};
        QCOMPARE(days.follow(), 1);
        QCOMPARE(messages(days), afterCut);
        QCOMPARE(store.at(6).counters[0], 5U);
        QCOMPARE(days.follow(), 0);
        QCOMPARE(messages(days), afterCut);
        // Gone for a while, then back and grown: its whole-file problem is told once, then taken back.
        QVERIFY(QFile::rename(path, path + u".away"_s));
        QCOMPARE(days.follow(), 0);
        QCOMPARE(days.follow(), 0);
        QCOMPARE(messages(days),
                 afterCut + QStringList{path + u": cannot open it: No such file or directory, skipped"_s});
        QVERIFY(QFile::rename(path + u".away"_s, path));
        QVERIFY(writeFile(path, dayBlock("10:00:04.000", 6), QIODevice::Append));
        QCOMPARE(days.follow(), 1);
        QCOMPARE(messages(days), afterCut);
    }
    // A file read in parts on two threads, with damage in some of its parts, a time that goes back and, in
    // small parts, junk longer than a part: the same replies, problems and lines as the line-by-line reading
    // of the whole.
    void largeFileOnTwoThreads_data() {
        columns<qsizetype, qsizetype, qsizetype>("partBytes", "fileBytes", "junkBytes");
        QTest::newRow("32 MiB parts") << (qsizetype{32} << 20) << (qsizetype{120} << 20) << qsizetype{6};
        QTest::newRow("64 KiB parts, junk longer than a part")
            << (qsizetype{64} << 10) << (qsizetype{6} << 20) << (qsizetype{200} << 10);
    }
    void largeFileOnTwoThreads() {
        QFETCH(qsizetype, partBytes);
        QFETCH(qsizetype, fileBytes);
        QFETCH(qsizetype, junkBytes);
        const QDir dir = dayFolder();
        const QString path = dir.filePath(u"20261207.txt"_s);
        QByteArray junk(junkBytes, 'j');
        for (qsizetype at = 99; at < junk.size(); at += 100)
            junk[at] = '\n';
        junk.back() = '\n';
        QByteArray text;
        text.reserve(fileBytes + junkBytes + (qsizetype{1} << 20));
        const QByteArray templ = dayBlock("00:00:00.000");
        qint64 ms = 0;
        const auto near = [&](qsizetype at) { return text.size() > at && text.size() < at + 400; };
        while (text.size() < fileBytes) {
            QByteArray block = templ;
            const QByteArray stamp =
                QTime::fromMSecsSinceStartOfDay(int(ms)).toString(u"hh:mm:ss.zzz"_s).toLatin1();
            block.replace(1, 12, stamp);
            const QByteArray value =
                QByteArray::number(quint32(ms) & 0xFF, 16).rightJustified(2, '0').toUpper();
            block.replace(50 + 36, 2, value); // counter 1's low byte
            text += block;
            ms += near(fileBytes / 12 * 7) ? -5000 : 7;
            if (near(fileBytes / 8 * 3))
                text += junk;
            if (near(fileBytes / 4 * 3))
                text += block.first(200);
        }
        QVERIFY(writeFile(path, text));

        QStringList expectedProblems;
        QList<qint64> expectedSteps;
        std::vector<lumora::timeline::Sample> expected;
        lumora::log::RecvBlockReader reader{QByteArrayView(text)};
        reader.setWholeBlocksAtOnce(false);
        lumora::log::FileDayMoments moments(QDate(2026, 12, 7), QTimeZone::utc());
        for (auto f = reader.next(); f != lumora::log::RecvBlockReader::Found::End; f = reader.next()) {
            if (f == lumora::log::RecvBlockReader::Found::Skipped) {
                expectedProblems.append(
                    u"%1:%2: %3, skipped"_s.arg(path).arg(reader.line()).arg(reader.why()));
                continue;
            }
            const qint64 at = moments.next(reader.stamp())->toMSecsSinceEpoch();
            if (!expected.empty() && at < expected.back().ms)
                expectedSteps.append(reader.line());
            expected.push_back(lumora::timeline::sampleOf(at, reader.reply()));
        }
        QCOMPARE(expectedProblems.size(), 2);
        QCOMPARE(expectedSteps.size(), 1);

        lumora::timeline::ReplyStore store;
        lumora::timeline::DayFiles days(store, QTimeZone::utc());
        lumora::timeline::DayFiles::setPartBytes(partBytes);
        const auto restore =
            qScopeGuard([] { lumora::timeline::DayFiles::setPartBytes(qsizetype{4} << 20); });
        days.load({path});
        QCOMPARE(messages(days), expectedProblems);
        QList<qint64> steps;
        for (const lumora::timeline::TimeStepBack& step : days.stepsBack())
            steps.append(step.line);
        QCOMPARE(steps, expectedSteps);
        QCOMPARE(store.size(), qsizetype(expected.size()));
        for (qsizetype i = 0; i < store.size(); i += 97)
            QCOMPARE(store.at(i), expected[std::size_t(i)]);
        QCOMPARE(store.at(store.size() - 1), expected.back());
        QCOMPARE(days.follow(), 0);
        QVERIFY(writeFile(path, dayBlock("23:00:00.000"), QIODevice::Append));
        QCOMPARE(days.follow(), 1);
        QCOMPARE(store.size(), qsizetype(expected.size()) + 1);
    }
    // A file cut short and grown back over and over while it is read in parts (as the client takes back a
    // short write): what was read is kept, what was missed is told, and the reading process lives on.
    void cutShortWhileRead() {
        const QDir dir = dayFolder();
        const QString path = dir.filePath(u"20261207.txt"_s);
        QByteArray text;
        while (text.size() < (qsizetype{16} << 20))
            text += dayBlock("10:00:00.000");
        const qsizetype blocks = text.size() / dayBlock("10:00:00.000").size();
        lumora::timeline::DayFiles::setPartBytes(qsizetype{64} << 10);
        const auto restore =
            qScopeGuard([] { lumora::timeline::DayFiles::setPartBytes(qsizetype{4} << 20); });
        for (int round = 0; round < 3; ++round) {
            QVERIFY(writeFile(path, text));
            std::atomic<bool> done{false};
            std::thread cutter([&] {
                while (!done) {
                    (void)QFile::resize(path, text.size() / 4);
                    (void)QFile::resize(path, text.size());
                }
            });
            lumora::timeline::ReplyStore store;
            lumora::timeline::DayFiles days(store, QTimeZone::utc());
            days.load({path});
            done = true;
            cutter.join();
            QCOMPARE(days.files(), QStringList{path});
            QVERIFY(store.size() <= blocks);
            QVERIFY(store.size() == blocks || !days.problems().empty());
        }
    }
};

LUMORA_TEST_MAIN_CORE(tst_Timeline)
#include "tst_timeline.moc"
