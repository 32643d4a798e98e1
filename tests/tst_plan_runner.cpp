// SPDX-License-Identifier: GPL-3.0-or-later
// Plans run against the wired emulator, and against units on loopback that
// count past 2^32 or go away mid-plan.

#include "loopbackpeer.h"
#include "plan/runner.h"
#include "testsupport.h"
#include "unitemulator.h"

#include <QRegularExpression>
#include <QtTest>

using namespace Qt::StringLiterals;
using lumora::plan::CaseResult;
using lumora::plan::PlanRunner;
using testsupport::columns;

namespace {

constexpr int kRunMs = 20000;

// "PASS a // FAIL b: input 05 expected 1, got 0 // SKIP c": what a station sees,
// without the times, which vary.
QString verdicts(const lumora::plan::RunReport& report) {
    static const std::array<QString, 4> words{u"PASS"_s, u"FAIL"_s, u"ERROR"_s, u"SKIP"_s};
    QStringList said;
    for (const CaseResult& result : report.cases) {
        QString line = words.at(static_cast<std::size_t>(result.verdict)) + u' ' + result.name;
        if (!result.message.isEmpty())
            line += u": "_s + result.message;
        said << line;
    }
    return said.join(u" // "_s);
}

struct Finished {
    QString verdicts;
    std::optional<PlanRunner::Ending> ending;
};

Finished runPlan(const QByteArray& yaml, quint16 port, bool stopOnFailure = false) {
    lumora::plan::PlanError error;
    const std::optional<lumora::plan::Plan> plan = lumora::plan::parsePlan(yaml, u"t.yaml"_s, error);
    if (!plan)
        return {error.text(), std::nullopt};
    PlanRunner runner(*plan, u"127.0.0.1"_s, port, 2000, stopOnFailure);
    Finished finished;
    QObject::connect(&runner, &PlanRunner::finished, [&](PlanRunner::Ending ending) { finished.ending = ending; });
    runner.start();
    if (QTest::qWaitFor([&] { return finished.ending.has_value(); }, kRunMs))
        finished.verdicts = verdicts(runner.report());
    return finished;
}

QByteArray replyWithCounter01(std::uint32_t value) {
    QByteArray reply(112, '\0');
    for (int k = 0; k < 4; ++k)
        reply[12 + k] = static_cast<char>((value >> (8 * k)) & 0xFF);
    return reply;
}

// Answers each status request with the next of `replies` (the last one
// again when they run out), and closes on the output frame `closeOn`.
struct ScriptedUnit : testsupport::LoopbackPeer {
    QList<QByteArray> replies{QByteArray(112, '\0')};
    QByteArray closeOn;
    int answered = 0;
    qsizetype readUpTo = 0;

    ScriptedUnit() {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* link = links.constLast();
            connect(link, &QTcpSocket::readyRead, this, [this, link] { take(link); });
        });
    }
    void take(QTcpSocket* link) {
        for (; readUpTo < received.size(); ++readUpTo) {
            const char command = received.at(readUpTo);
            if (command == 'R') {
                link->write(replies.at(std::min<qsizetype>(answered++, replies.size() - 1)));
            } else if (command == 'T' && !closeOn.isEmpty() && received.mid(readUpTo, 5) == closeOn) {
                closeOn.clear();
                link->disconnectFromHost();
            }
        }
    }
};

} // namespace

class tst_PlanRunner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The wiring, the bounce and the pulses the emulator plays, judged.
    void wiredEmulator_data() {
        columns<QString, QByteArray, QString>("flags", "plan", "verdicts");
        const QByteArray wiring = "steps:\n"
                                  "  - name: wiring\n"
                                  "    wiring: {\"01\": [\"00\"], \"02\": [\"01\", \"05\"], \"03\": [], within: 0.3}\n"
                                  "  - name: read back\n"
                                  "    outputs: [0, 0, 0, 1]\n"
                                  "    expect: {outputs: {\"04\": 1, \"01\": 0}, inputs: {\"00\": 0}}\n"
                                  "teardown:\n"
                                  "  - outputs: [0, 0, 0, 0]\n";
        QTest::newRow("wired as planned") << u"--wire 01=00,02=01+05"_s << wiring
                                          << u"PASS wiring DO01 // PASS wiring DO02 // PASS wiring DO03 // PASS read back"_s;
        QTest::newRow("one wire missing")
            << u"--wire 01=00,02=01"_s << wiring
            << u"PASS wiring DO01 // FAIL wiring DO02: input 05 expected 1, got 0 // PASS wiring DO03 // PASS read back"_s;
        QTest::newRow("one wire crossed")
            << u"--wire 01=00,02=01+05,03=07"_s << wiring
            << u"PASS wiring DO01 // PASS wiring DO02 // FAIL wiring DO03: input 07 expected 0, got 1 // PASS read back"_s;
        const QByteArray once = "steps:\n"
                                "  - name: one rise\n"
                                "    outputs: [1, 0, 0, 0]\n"
                                "    expect: {inputs: {\"00\": 1}, counters: {\"01\": {delta: 1}}, for: 0.05}\n";
        QTest::newRow("clean contact") << u"--wire 01=00"_s << once << u"PASS one rise"_s;
        QTest::newRow("bouncing contact")
            << u"--wire 01=00 --bounce 3"_s << once << u"FAIL one rise: (input 00|counter 01) expected .*"_s;
        const QByteArray pulses = "poll: 0.001\n"
                                  "steps:\n"
                                  "  - name: half a second\n"
                                  "    wait: 0.5\n"
                                  "    expect:\n"
                                  "      counters: {\"04\": {min: 45, max: 56}}\n"
                                  "      gaps: {\"04\": {min: 0.008, max: 0.012}}\n";
        QTest::newRow("100 Hz counted") << u"--pulse 03=100"_s << pulses << u"PASS half a second"_s;
        QTest::newRow("40 Hz is too slow")
            << u"--pulse 03=40"_s << pulses
            << u"FAIL half a second: counter 04 expected change 45 to 56, got change \\d+; gap 04 expected "
               "0.008 s to 0.012 s, got 0.025 s"_s;
    }
    void wiredEmulator() {
        QFETCH(QString, flags);
        QFETCH(QByteArray, plan);
        QFETCH(QString, verdicts);
        testsupport::UnitEmulator unit;
        QVERIFY2(unit.start(flags.split(u' ')), qPrintable(unit.errorString()));
        const Finished finished = runPlan(plan, unit.port);
        QVERIFY2(QRegularExpression(u"^(?:"_s + verdicts + u")$"_s).match(finished.verdicts).hasMatch(),
                 qPrintable(finished.verdicts));
        QCOMPARE(finished.ending, verdicts.contains(u"FAIL"_s) ? PlanRunner::Ending::Failed : PlanRunner::Ending::Passed);
    }

    // Counters that wrap, a unit that goes away, a setup that fails, and a
    // station that stops at the first failure: the teardown's frame reaches
    // the unit every time.
    void scriptedUnit_data() {
        columns<QList<QByteArray>, QByteArray, bool, QString>("replies", "plan", "stopOnFailure", "verdicts");
        const QList<QByteArray> wrap{replyWithCounter01(0xFFFFFFF0), replyWithCounter01(5)};
        const QByteArray teardown = "teardown:\n  - outputs: [0, 0, 0, 0]\n";
        QTest::newRow("a change across 2^32")
            << wrap << "steps:\n  - name: wrap\n    expect: {counters: {\"01\": {delta: 21}}}\n" + teardown << false
            << u"PASS wrap"_s;
        QTest::newRow("a range across 2^32")
            << wrap << "steps:\n  - name: wrap\n    expect: {counters: {\"01\": {min: 10, max: 20}}, within: 0.1}\n" + teardown
            << false << u"FAIL wrap: counter 01 expected change 10 to 20, got change 21"_s;
        const QByteArray twoSteps = "steps:\n"
                                    "  - name: a\n"
                                    "    outputs: [1, 1, 0, 0]\n"
                                    "    expect: {inputs: {\"03\": 1}, within: 0.1}\n"
                                    "  - name: b\n"
                                    "    outputs: [0, 1, 0, 0]\n";
        QTest::newRow("the unit closes mid-plan")
            << QList<QByteArray>{} << twoSteps + teardown << false
            << u"ERROR a: connection to 127.0.0.1:\\d+ lost: .* // SKIP b"_s;
        QByteArray on(112, '\0');
        on[3] = 1;
        QTest::newRow("a drop-out while it must hold")
            << QList<QByteArray>{on, on, QByteArray(112, '\0')}
            << QByteArray("steps:\n  - name: held\n    expect: {inputs: {\"03\": 1}, for: 0.5}\n" + teardown) << false
            << u"FAIL held: input 03 expected 1, got 0 \\(after holding for [\\d.]+ ms\\)"_s;
        QTest::newRow("stop on failure")
            << QList<QByteArray>{} << twoSteps + teardown << true
            << u"FAIL a: input 03 expected 1, got 0 // SKIP b"_s;
        QTest::newRow("setup fails")
            << QList<QByteArray>{}
            << "setup:\n  - name: powered\n    expect: {inputs: {\"11\": 1}, within: 0.1}\n" + twoSteps + teardown
            << false << u"ERROR setup: powered: input 11 expected 1, got 0 // SKIP a // SKIP b"_s;
    }
    void scriptedUnit() {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QByteArray, plan);
        QFETCH(bool, stopOnFailure);
        QFETCH(QString, verdicts);
        ScriptedUnit unit;
        if (!replies.isEmpty())
            unit.replies = replies;
        if (QString::fromLatin1(QTest::currentDataTag()).contains(u"closes"_s))
            unit.closeOn = QByteArray::fromHex("5401010000");
        QVERIFY(unit.listen());
        const Finished finished = runPlan(plan, unit.port(), stopOnFailure);
        QVERIFY2(QRegularExpression(u"^(?:"_s + verdicts + u")$"_s).match(finished.verdicts).hasMatch(),
                 qPrintable(finished.verdicts));
        QVERIFY(unit.received.endsWith(QByteArray::fromHex("5400000000")));
    }
};

LUMORA_SUITE_CLASS(tst_PlanRunner);
#include "tst_plan_runner.moc"
