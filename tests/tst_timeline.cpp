// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"
#include "timeline/vcd_writer.h"

#include <QBuffer>
#include <QtTest>

using namespace Qt::StringLiterals;

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

QByteArray definitions() {
    QByteArray text = "$timescale 1 us $end\n$scope module lumora $end\n";
    const QByteArray ids = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";
    for (int k = 0; k < 40; ++k) {
        const QByteArray type = k < 16 ? "wire 1" : k < 28 ? "wire 32" : "real 64";
        const QByteArray name = k < 12   ? "DI" + QByteArray::number(k).rightJustified(2, '0')
                                : k < 16 ? "DO0" + QByteArray::number(k - 11)
                                : k < 28 ? "CNT" + QByteArray::number(k - 15).rightJustified(2, '0')
                                         : "GAP" + QByteArray::number(k - 27).rightJustified(2, '0');
        text += "$var " + type + ' ' + ids[k] + ' ' + name + " $end\n";
    }
    return text + "$upscope $end\n$enddefinitions $end\n";
}

} // namespace

class tst_Timeline : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void vcd_data() {
        QTest::addColumn<QList<qint64>>("moments");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("no reply") << QList<qint64>{} << QList<QByteArray>{} << definitions();
        const QByteArray first = reply({{1, 2, 5}, {5}, {1005}, {1}});
        // Input 0 falls, the refused input 2 comes back, counter 0 resets and
        // counter 1 stands at its top; gap 0 rounds to a new shown value.
        const QByteArray second = reply({{0, 2, 1}, {0, 0xFFFFFFFF}, {1004, 1001}, {1}});
        const QByteArray third = reply({{0, 2, 1}, {0, 0xFFFFFFFF}, {1004, 1001}, {2}});
        const QByteArray fourth =
            reply({{0, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {0, 0xFFFFFFFF}, {1004, 1001}, {2}});
        QByteArray dump =
            "#0\n$dumpvars\n1A\nxB\nzC\n0D\n0E\n0F\n0G\n0H\n0I\n0J\n0K\n0L\n1M\n0N\n0O\n0P\nb101 Q\n";
        for (const char id : QByteArray("RSTUVWXYZab"))
            dump += "b0 "_ba + id + '\n';
        dump += "r1.01 c\n";
        for (const char id : QByteArray("defghijklmn"))
            dump += "r0.00 "_ba + id + '\n';
        dump += "$end\n";
        QTest::newRow("changes only, x, z, reset, time stepping back, nothing new")
            << QList<qint64>{kTen, kTen + 1500, kTen + 1000, kTen + 2000, kTen + 3000}
            << QList<QByteArray>{first, second, third, fourth, fourth}
            << "$date 2026-12-07 10:00:00.000 UTC $end\n" + definitions() + dump +
                   "#1500000\n0A\n1C\nb0 Q\nb11111111111111111111111111111111 R\nr1.00 c\nr1.00 d\n"
                   "$comment time steps back: 2026-12-07 10:00:01.000 UTC comes after "
                   "2026-12-07 10:00:01.500 UTC; written at #1500000 $end\nxM\n#2000000\n1L\n";
    }
    void vcd() {
        QFETCH(QList<qint64>, moments);
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QByteArray, expected);
        QBuffer out;
        QVERIFY(out.open(QIODevice::WriteOnly));
        lumora::timeline::VcdWriter writer(out);
        for (qsizetype k = 0; k < moments.size(); ++k)
            writer.add(moments[k], replies[k]);
        QVERIFY(writer.finish());
        QCOMPARE(out.data(), expected);
    }

    void writeFailureIsReported() {
        QBuffer closed;
        lumora::timeline::VcdWriter writer(closed);
        writer.add(QDateTime::fromMSecsSinceEpoch(kTen, QTimeZone::utc()), reply({}));
        QVERIFY(!writer.finish());
        QCOMPARE(writer.errorString(), closed.errorString());
    }
};

LUMORA_TEST_MAIN_CORE(tst_Timeline)
#include "tst_timeline.moc"
