// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/plan_command.h"

#include "cli/exit_status.h"
#include "plan/report.h"

#include <QSaveFile>

namespace lumora::cli {

PlanCommand::PlanCommand(plan::Plan plan, const Invocation& invocation, const Endpoint& unit, Console& console,
                         QObject* parent)
    : QObject(parent)
    , invocation_(invocation)
    , console_(console)
    , runner_(std::move(plan), unit.host, unit.port, invocation.timeoutMs, invocation.stopOnFailure) {
    connect(&runner_, &plan::PlanRunner::caseEnded, this, [this](const plan::CaseResult& result) {
        if (!invocation_.tap)
            console_.out(plan::caseLine(result));
    });
    connect(&runner_, &plan::PlanRunner::finished, this, &PlanCommand::report);
}

bool PlanCommand::start() {
    if (!invocation_.junitFile.isEmpty()) {
        // Opened and given up: the file itself is left as it was.
        QSaveFile probe(invocation_.junitFile);
        if (!probe.open(QIODevice::WriteOnly)) {
            console_.fail(QStringLiteral("run: cannot write %1: %2").arg(invocation_.junitFile, probe.errorString()));
            return false;
        }
        probe.cancelWriting();
    }
    runner_.start();
    return true;
}

void PlanCommand::interrupt(int signal) {
    if (signal_ == 0)
        signal_ = signal;
    runner_.interrupt();
}

void PlanCommand::report(plan::PlanRunner::Ending ending) {
    plan::RunReport report = runner_.report();
    report.version = QStringLiteral(LUMORA_VERSION);
    if (invocation_.tap)
        console_.out(QString::fromUtf8(plan::tapDocument(report)).chopped(1));
    else
        console_.out(plan::summaryLine(report));

    int status = kDone;
    switch (ending) {
    case plan::PlanRunner::Ending::Passed:
        break;
    case plan::PlanRunner::Ending::Failed:
        status = kCaseFailed;
        break;
    case plan::PlanRunner::Ending::Unreachable:
        console_.fail(QStringLiteral("run: ") + report.cases.front().message);
        status = kNoConnection;
        break;
    case plan::PlanRunner::Ending::Interrupted:
        status = kStoppedBySignal + signal_;
        break;
    }
    QString why;
    if (!invocation_.junitFile.isEmpty() && !plan::writeJunit(invocation_.junitFile, report, why)) {
        console_.fail(QStringLiteral("run: cannot write %1: %2").arg(invocation_.junitFile, why));
        // A CI server must not take the missing file for a pass.
        if (status == kDone)
            status = kCaseFailed;
    }
    Q_EMIT finished(status);
}

} // namespace lumora::cli
