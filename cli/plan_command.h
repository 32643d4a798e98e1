// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/arguments.h"
#include "cli/console.h"
#include "cli/unit_exchange.h"
#include "plan/plan.h"
#include "plan/runner.h"

#include <QObject>

namespace lumora::cli {

// The run command: a plan against one unit, its cases as text lines while
// they end, and TAP or JUnit once the teardown is done.
class PlanCommand : public QObject {
    Q_OBJECT
public:
    PlanCommand(plan::Plan plan, const Invocation& invocation, const Endpoint& unit, Console& console,
                QObject* parent = nullptr);

    // false, and nothing sent, when the JUnit file could not be written
    // where it was asked for: a station would learn it only at the end.
    [[nodiscard]] bool start();
    // Ctrl-C (SIGINT) or SIGTERM: the exit status is 128 plus `signal`.
    void interrupt(int signal);

Q_SIGNALS:
    void finished(int exitStatus);

private:
    void report(plan::PlanRunner::Ending ending);

    const Invocation& invocation_;
    Console& console_;
    plan::PlanRunner runner_;
    int signal_ = 0;
};

} // namespace lumora::cli
