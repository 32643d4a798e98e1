// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "plan/judge.h"
#include "plan/plan.h"
#include "plan/report.h"
#include "platform/unit_session.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <optional>
#include <vector>

namespace lumora::plan {

// Runs a plan against one unit on one session: setup, the steps as cases,
// then the teardown whatever happened before, so a station never leaves a
// unit with its outputs driven.
class PlanRunner : public QObject {
    Q_OBJECT
public:
    enum class Ending {
        Passed,      // every case passed
        Failed,      // a case, the setup or the teardown failed or errored
        Unreachable, // no connection before the first step: nothing was sent
        Interrupted, // stopped by interrupt(), after the teardown
    };

    PlanRunner(Plan plan, QString host, std::uint16_t port, int timeoutMs, bool stopOnFailure,
               QObject* parent = nullptr);

    void start();
    // Ctrl-C or SIGTERM: the case under way and those after it are skipped,
    // and the teardown runs.
    void interrupt();

    [[nodiscard]] const RunReport& report() const { return report_; }
    // "127.0.0.1:4000", "[::1]:4000"
    [[nodiscard]] QString unitText() const;

Q_SIGNALS:
    // Each case as it ends, and the setup or teardown when it failed.
    void caseEnded(const lumora::plan::CaseResult& result);
    void finished(lumora::plan::PlanRunner::Ending ending);

private:
    enum class Part { Setup, Case, Teardown };
    // One thing to do: a step, or one output of a wiring step.
    struct Work {
        Part part = Part::Case;
        QString name;
        QString stepName;
        Step::Action action = Step::Action::None;
        QByteArray frame; // Outputs and Reset
        int waitMs = 0;
        std::optional<Expectation> expect;
        // The all-off frame after a wiring: no case of its own.
        bool quiet = false;
    };
    enum class Phase { Idle, Connecting, Baseline, Acting, Expecting, Done };

    void addWorks(Part part, const std::vector<Step>& steps);
    void next();
    void begin();
    void act();
    void expect();
    void poll();
    void onConnected();
    void onConnectFailed(const QString& reason);
    void onReplied(const QByteArray& reply);
    void onReplyFailed(platform::UnitSession::ReplyFailure failure, qsizetype bytes);
    void onFrameSent();
    void onLost(const QString& reason);
    void onWithinPassed();
    void pass();
    void fail(const Judgement& judgement);
    void error(const QString& why);
    void settle(CaseResult::Verdict verdict, const QString& message, const QString& expected = {},
                const QString& got = {});
    // Every case from `from` up to the teardown, as not reached.
    void skipCasesLeft(std::size_t from);
    void finish();
    [[nodiscard]] double secondsSinceAction() const;

    Plan plan_;
    const int timeoutMs_;
    const bool stopOnFailure_;
    QString host_;
    std::uint16_t port_;
    platform::UnitSession session_;
    std::vector<Work> works_;
    std::size_t at_ = 0;
    Phase phase_ = Phase::Idle;
    RunReport report_;
    bool reached_ = false;
    bool interrupted_ = false;
    bool lost_ = false;
    // The teardown's failures go into one case.
    std::optional<std::size_t> teardownCase_;

    QElapsedTimer clock_;
    QTimer wait_;
    QTimer within_;
    QTimer pollTick_;
    Baseline baseline_{};
    qint64 actedNs_ = 0;
    // Only replies to requests sent after the action count.
    bool askedSinceAction_ = false;
    std::optional<qint64> holdingSinceNs_;
    std::optional<Judgement> lastJudgement_;
};

} // namespace lumora::plan
