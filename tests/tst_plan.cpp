// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/plan.h"
#include "plan/report.h"
#include "testsupport.h"

#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using testsupport::columns;
using lumora::plan::CaseResult;

namespace {

// The fields of a plan a run depends on, one line per step.
QString described(const lumora::plan::Plan& plan) {
    QStringList lines{plan.name + u' ' + plan.host.value_or(u"-"_s) + u' ' +
                      QString::number(plan.port.value_or(0)) + u" poll "_s + QString::number(plan.pollMs)};
    const auto range = [](const auto& from, const auto& to) {
        return (from ? QString::number(*from) : u"-"_s) + u".."_s + (to ? QString::number(*to) : u"-"_s);
    };
    for (const auto* list : {&plan.setup, &plan.steps, &plan.teardown}) {
        for (const lumora::plan::Step& step : *list) {
            QString line = step.name + u" @"_s + QString::number(step.mark.line) + u" action "_s +
                           QString::number(int(step.action)) + u" outputs "_s;
            for (const int d : step.outputs)
                line += QString::number(d);
            line += u" wait "_s + QString::number(step.waitMs);
            for (const auto& [output, inputs] : step.wiring) {
                line += u" DO"_s + QString::number(output) + u':';
                for (const int input : inputs)
                    line += QString::number(input) + u',';
            }
            if (!step.wiring.empty())
                line += u" in "_s + QString::number(step.wiringWithinMs);
            if (const auto& e = step.expect) {
                line += u" expect "_s + QString::number(e->withinMs) + u'/' + QString::number(e->forMs);
                for (const auto& [n, v] : e->inputs)
                    line += u" in"_s + QString::number(n) + u'=' + QString::number(v);
                for (const auto& [n, v] : e->outputs)
                    line += u" out"_s + QString::number(n) + u'=' + QString::number(v);
                for (const auto& [n, c] : e->counters)
                    line += u" cnt"_s + QString::number(n) + u'=' + (c.delta ? QString::number(*c.delta) : u"?"_s) +
                            u':' + range(c.min, c.max);
                for (const auto& [n, g] : e->gaps)
                    line += u" gap"_s + QString::number(n) + u'=' + range(g.minMs, g.maxMs);
            }
            lines << line;
        }
    }
    return lines.join(u'\n');
}

int run(const QString& program, const QStringList& arguments, QByteArray* out = nullptr) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return -1;
    if (out)
        *out = process.readAllStandardOutput() + process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

class tst_Plan : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every plan error points where an editor and a CI server go: the
    // offending key or value, or the file's start when the whole file is at
    // fault. FILE stands for the plan's path.
    void planErrors_data() {
        columns<QByteArray, QString>("text", "expected");
        const std::pair<const char*, const char*> rows[] = {
            {"steps: [wait: 1\n", "FILE:2:1: end of sequence flow not found"},
            {"name: x\nstpes: []\n", "FILE:2:1: unknown key \"stpes\""},
            {"steps:\n  - wait: 1\n    expct: {}\n", "FILE:3:5: unknown key \"expct\""},
            {"steps:\n  - expect: {withn: 1}\n", "FILE:2:14: unknown key \"withn\""},
            {"steps:\n  - expect:\n      inputs: {12: 1}\n", "FILE:3:16: input \"12\" is not a channel from 00 to 11"},
            {"steps:\n  - expect: {outputs: {\"1\": 1}}\n", "FILE:2:24: output \"1\" is not a channel from 01 to 04"},
            {"steps:\n  - expect: {inputs: {\"02\": 3}}\n", "FILE:2:29: input 02 must be 0, 1 or 2"},
            {"steps:\n  - expect: {counters: {\"03\": {delta: 1, min: 0}}}\n",
             "FILE:2:42: counter 03: delta excludes min and max"},
            {"steps:\n  - expect: {counters: {\"03\": {max: 4294967296}}}\n",
             "FILE:2:37: counter 03 max must be a whole number from 0 to 4294967295"},
            {"steps:\n  - expect: {gaps: {\"13\": {min: 1}}}\n", "FILE:2:21: gap \"13\" is not a channel from 01 to 12"},
            {"steps:\n  - outputs: [1, 0, 0, 1]\n    reset: counters\n",
             "FILE:3:5: two actions in one step: outputs and reset"},
            {"steps:\n  - outputs: [1, 0, 2, 1]\n", "FILE:2:14: outputs must be a list of four values, each 0 or 1"},
            {"steps:\n  - wiring: {\"01\": [\"00\"]}\n    expect: {inputs: {\"00\": 1}}\n",
             "FILE:3:5: wiring takes no expect"},
            {"steps:\n  - wiring: {\"01\": [\"00\", \"12\"]}\n", "FILE:2:27: input \"12\" is not a channel from 00 to 11"},
            {"steps:\n  - wait: 0\n", "FILE:2:11: wait must be seconds from 0.001 to 86400"},
            {"poll: 2\nsteps:\n  - wait: 1\n", "FILE:1:7: poll must be seconds from 0.001 to 1"},
            {"unit: ::1:4000\nsteps:\n  - wait: 1\n",
             "FILE:1:7: unit must be HOST:PORT: an IPv6 address goes in brackets, as [::1]:4000"},
            {"steps: 5\n", "FILE:1:8: steps must be a list of steps"},
            {"name: x\n", "FILE:1:1: a plan without steps"},
            {"", "FILE:1:1: a plan without steps"},
        };
        int row = 0;
        for (const auto& [text, expected] : rows)
            QTest::addRow("%d: %s", ++row, expected + 5) << QByteArray(text) << QString::fromUtf8(expected);
        // Read from a missing file and a FIFO (which must not hang).
        QTest::newRow("missing") << QByteArray("missing") << u"FILE:1:1: cannot read: No such file or directory"_s;
        QTest::newRow("FIFO") << QByteArray("fifo") << u"FILE:1:1: cannot read: not a regular file"_s;
    }

    void planErrors() {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"p.yaml"_s);
        if (text == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        if (text != "fifo" && text != "missing")
            QVERIFY(testsupport::writeFile(path, text));
        lumora::plan::PlanError error;
        QVERIFY(!lumora::plan::readPlan(path, error));
        QCOMPARE(error.text(), QString(expected).replace(u"FILE"_s, path));
    }

    // Defaults, seconds as thousandths and the plan's own order survive.
    void goodPlans_data() {
        columns<QByteArray, QString>("text", "expected");
        QTest::newRow("defaults") << QByteArray("steps:\n  - reset: counters\n  - expect: {inputs: {00: 2}}\n")
                                  << u"p - 0 poll 10\nstep 1 @2 action 2 outputs 0000 wait 0\n"
                                     u"step 2 @3 action 0 outputs 0000 wait 0 expect 1000/0 in0=2"_s;
        QTest::newRow("every field")
            << QByteArray("name: bench\nunit: \"[::1]:4000\"\npoll: 0.05\nsetup:\n  - outputs: [1, 0, 0, 1]\n"
                          "steps:\n  - name: lamp\n    wait: 0.25\n    expect:\n      outputs: {\"04\": 1}\n"
                          "      counters: {\"01\": {delta: 3}, \"12\": {min: 4294967295}}\n"
                          "      gaps: {\"02\": {min: 0.01, max: 1.001}}\n      within: 0.29\n      for: 0.1\n"
                          "teardown:\n  - wiring: {\"03\": [\"11\", \"00\"], \"01\": [], within: 0.5}\n")
            << u"bench ::1 4000 poll 50\nstep 1 @5 action 1 outputs 1001 wait 0\n"
               u"lamp @7 action 3 outputs 0000 wait 250 expect 290/100 out4=1 cnt1=3:-..- cnt12=?:4294967295..- "
               u"gap2=10..1001\nstep 1 @16 action 4 outputs 0000 wait 0 DO3:11,0, DO1: in 500"_s;
    }

    void goodPlans() {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        lumora::plan::PlanError error;
        const auto plan = lumora::plan::parsePlan(text, u"/plans/p.yaml"_s, error);
        QVERIFY2(plan, qPrintable(error.text()));
        QCOMPARE(described(*plan), expected);
    }

    // The three reports of one run, each read by what reads it on a CI server.
    void reports() {
        lumora::plan::RunReport report{u"bench"_s, u"bench.yaml"_s, u"127.0.0.1:4000"_s, u"1.2.0"_s, u"station"_s,
                                       QDateTime(QDate(2026, 3, 1), QTime(8, 30), QTimeZone::utc()), 4.5, {}};
        report.cases = {
            {u"lamp on"_s, CaseResult::Verdict::Passed, 0.012, {}, {}, {}},
            {u"door <&\"'>"_s, CaseResult::Verdict::Failed, 1.0, u"input 02 expected 1, got 0 <&\"'>"_s, u"1"_s, u"0"_s},
            {u"pump"_s, CaseResult::Verdict::Errored, 3.0, u"\"unit\" silent: no reply"_s, {}, {}},
            {u"teardown"_s, CaseResult::Verdict::Skipped, 0, {}, {}, {}},
        };
        QStringList lines;
        for (const CaseResult& result : report.cases)
            lines << lumora::plan::caseLine(result);
        lines << lumora::plan::summaryLine(report);
        QCOMPARE(lines, (QStringList{u"PASS lamp on 12 ms"_s,
                                     u"FAIL door <&\"'> 1000 ms: input 02 expected 1, got 0 <&\"'>"_s,
                                     u"ERROR pump 3000 ms: \"unit\" silent: no reply"_s, u"SKIP teardown"_s,
                                     u"1 passed, 2 failed"_s}));

        QTemporaryDir dir;
        const QString xml = dir.filePath(u"report.xml"_s);
        QString why;
        QVERIFY2(lumora::plan::writeJunit(xml, report, why), qPrintable(why));
        QByteArray out;
        QCOMPARE(run(u"xmllint"_s, {u"--noout"_s, u"--schema"_s, QStringLiteral(LUMORA_SOURCE_DIR "/dist/junit.xsd"), xml}, &out), 0);
        const QString reader = u"import sys\nfrom junitparser import JUnitXml\n"
                               "for suite in JUnitXml.fromfile(sys.argv[1]):\n"
                               "    print(suite.name, suite.tests, suite.failures, suite.errors, suite.skipped, "
                               "suite.time, suite.timestamp)\n"
                               "    print(*(p.name + '=' + p.value for p in suite.properties()))\n"
                               "    for case in suite:\n"
                               "        print(case.classname, case.name, case.time, "
                               "*(type(r).__name__ + ':' + str(r.message) for r in case.result))\n"_s;
        QCOMPARE(run(u"/usr/bin/python3"_s, {u"-c"_s, reader, xml}, &out), 0);
        QCOMPARE(QString::fromUtf8(out), u"bench 4 1 1 1 4.5 2026-03-01T08:30:00Z\n"
                                         "unit=127.0.0.1:4000 plan=bench.yaml version=1.2.0\n"
                                         "bench lamp on 0.012\n"
                                         "bench door <&\"'> 1.0 Failure:input 02 expected 1, got 0 <&\"'>\n"
                                         "bench pump 3.0 Error:\"unit\" silent: no reply\n"
                                         "bench teardown 0.0 Skipped:None\n"_s);

        // prove fails the run for a failing case, passes it once only passed
        // and skipped cases remain; its parser reads each case and block.
        const QString tap = dir.filePath(u"report.tap"_s);
        const QString tapReader =
            u"use TAP::Parser; open my $f, '<', $ARGV[0] or die; local $/;"
            " my $p = TAP::Parser->new({tap => scalar <$f>}); while (my $r = $p->next) {"
            " print join('|', $r->is_ok ? 'ok' : 'not ok', $r->description, $r->directive), \"\\n\" if $r->is_test;"
            " print join('|', map { $_ . '=' . $r->data->{$_} } sort keys %{$r->data}), \"\\n\" if $r->is_yaml }"_s;
        for (const bool allPass : {false, true}) {
            if (allPass)
                report.cases = {report.cases.front(), report.cases.back()};
            QVERIFY(testsupport::writeFile(tap, lumora::plan::tapDocument(report)));
            QCOMPARE(run(u"prove"_s, {u"--exec"_s, u"cat"_s, tap}, &out) == 0, allPass);
            QCOMPARE(run(u"perl"_s, {u"-e"_s, tapReader, tap}, &out), 0);
            QCOMPARE(QString::fromUtf8(out),
                     allPass ? u"ok|- lamp on|\nok|- teardown|SKIP\n"_s
                             : u"ok|- lamp on|\nnot ok|- door <&\"'>|\n"
                               "expected=1|got=0|latency_ms=1000|message=input 02 expected 1, got 0 <&\"'>\n"
                               "not ok|- pump|\nlatency_ms=3000|message=\"unit\" silent: no reply\n"
                               "ok|- teardown|SKIP\n"_s);
        }
    }
};

LUMORA_SUITE_CLASS(tst_Plan);
LUMORA_SUITE_MAIN_CORE()
#include "tst_plan.moc"
