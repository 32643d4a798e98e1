// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/runner.h"

#include "protocol/command_frame.h"
#include "protocol/status_reply.h"
#include "settings/host_port.h"

#include <QHostInfo>

namespace lumora::plan {

namespace {

constexpr qint64 kNsPerMs = 1000000;

QByteArray outputsFrame(const std::array<int, 4>& outputs) {
    return protocol::buildFrame(protocol::Command::OutputSetting, outputs);
}

} // namespace

PlanRunner::PlanRunner(Plan plan, QString host, std::uint16_t port, int timeoutMs, bool stopOnFailure,
                       QObject* parent)
    : QObject(parent)
    , plan_(std::move(plan))
    , timeoutMs_(timeoutMs)
    , stopOnFailure_(stopOnFailure)
    , host_(std::move(host))
    , port_(port)
    , session_(host_, port_, timeoutMs, platform::UnitSession::Reconnect{platform::UnitSession::Reconnect::Mode::Caller}) {
    addWorks(Part::Setup, plan_.setup);
    addWorks(Part::Case, plan_.steps);
    addWorks(Part::Teardown, plan_.teardown);
    for (QTimer* timer : {&wait_, &within_, &pollTick_}) {
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(timer != &pollTick_);
    }
    connect(&wait_, &QTimer::timeout, this, [this] {
        actedNs_ = clock_.nsecsElapsed();
        expect();
    });
    connect(&within_, &QTimer::timeout, this, &PlanRunner::onWithinPassed);
    connect(&pollTick_, &QTimer::timeout, this, &PlanRunner::poll);
    connect(&session_, &platform::UnitSession::connected, this, &PlanRunner::onConnected);
    connect(&session_, &platform::UnitSession::replied, this, &PlanRunner::onReplied);
    connect(&session_, &platform::UnitSession::replyFailed, this, &PlanRunner::onReplyFailed);
    connect(&session_, &platform::UnitSession::frameSent, this, &PlanRunner::onFrameSent);
    connect(&session_, &platform::UnitSession::errorOccurred, this,
            [this](platform::UnitSession::Error failure) {
                if (failure == platform::UnitSession::Error::ConnectError)
                    onConnectFailed(session_.errorString());
                else
                    error(QStringLiteral("cannot send to %1: %2").arg(unitText(), session_.errorString()));
            });
    connect(&session_, &platform::UnitSession::closed, this, &PlanRunner::onLost);
}

QString PlanRunner::unitText() const {
    return settings::hostPortText(host_, port_);
}

void PlanRunner::addWorks(Part part, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        if (step.action != Step::Action::Wiring) {
            Work work{part, step.name, step.name, step.action, {}, step.waitMs, step.expect, false};
            if (step.action == Step::Action::Outputs)
                work.frame = outputsFrame(step.outputs);
            else if (step.action == Step::Action::Reset)
                work.frame = protocol::buildFrame(protocol::Command::CounterReset, {});
            works_.push_back(std::move(work));
            continue;
        }
        // Each output alone, so a short between two wires shows as an input
        // that should have stayed off.
        for (const auto& [output, inputs] : step.wiring) {
            std::array<int, 4> levels{};
            levels[static_cast<std::size_t>(output - 1)] = 1;
            Expectation expectation;
            expectation.withinMs = step.wiringWithinMs;
            for (int input = 0; input < protocol::kInputCount; ++input)
                expectation.inputs[input] = 0;
            for (int input : inputs)
                expectation.inputs[input] = 1;
            works_.push_back({part, QStringLiteral("%1 DO%2").arg(step.name, protocol::channelText(output)), step.name,
                              Step::Action::Outputs, outputsFrame(levels), 0, expectation, false});
        }
        works_.push_back({part, step.name + QStringLiteral(" off"), step.name, Step::Action::Outputs,
                          outputsFrame({}), 0, std::nullopt, true});
    }
}

void PlanRunner::start() {
    clock_.start();
    report_.suite = plan_.name;
    report_.planFile = plan_.file;
    report_.unit = unitText();
    report_.hostname = QHostInfo::localHostName();
    report_.started = QDateTime::currentDateTimeUtc();
    phase_ = Phase::Connecting;
    session_.open();
}

void PlanRunner::interrupt() {
    if (interrupted_ || at_ >= works_.size())
        return;
    interrupted_ = true;
    if (!reached_) {
        session_.close();
        skipCasesLeft(0);
        finish();
        return;
    }
    if (at_ < works_.size() && works_[at_].part != Part::Teardown) {
        if (phase_ != Phase::Done)
            settle(CaseResult::Verdict::Skipped, QStringLiteral("interrupted"));
        else
            skipCasesLeft(at_ + 1);
    }
}

void PlanRunner::onConnected() {
    if (phase_ != Phase::Connecting)
        return;
    reached_ = true;
    begin();
}

void PlanRunner::onConnectFailed(const QString& reason) {
    if (phase_ != Phase::Connecting)
        return;
    const QString why = QStringLiteral("cannot connect to %1: %2").arg(unitText(), reason);
    if (!reached_) {
        CaseResult result{QStringLiteral("setup"), CaseResult::Verdict::Errored, 0, why, {}, {}};
        report_.cases.push_back(result);
        Q_EMIT caseEnded(result);
        skipCasesLeft(0);
        finish();
        return;
    }
    // Back for the teardown and gone again: its other steps would only wait
    // for the same timeout each.
    settle(CaseResult::Verdict::Errored, why);
    at_ = works_.size() - 1;
}

void PlanRunner::next() {
    ++at_;
    if (at_ >= works_.size()) {
        finish();
        return;
    }
    begin();
}

void PlanRunner::begin() {
    const Work& work = works_[at_];
    if (lost_ && work.part != Part::Teardown) {
        // Lost between two steps.
        phase_ = Phase::Acting;
        actedNs_ = clock_.nsecsElapsed();
        error(QStringLiteral("connection to %1 lost").arg(unitText()));
        return;
    }
    if (lost_) {
        // The teardown is tried on a new connection, to leave the outputs
        // safe if the unit is back.
        lost_ = false;
        phase_ = Phase::Connecting;
        session_.open();
        return;
    }
    holdingSinceNs_.reset();
    lastJudgement_.reset();
    askedSinceAction_ = false;
    actedNs_ = clock_.nsecsElapsed();
    if (work.expect && !work.expect->counters.empty() && work.action != Step::Action::Reset) {
        // A fresh reply, so pulses before the step do not count in it.
        phase_ = Phase::Baseline;
        if (!session_.awaitingReply() && !session_.requestStatus())
            error(QStringLiteral("cannot send to %1: %2").arg(unitText(), session_.errorString()));
        return;
    }
    act();
}

void PlanRunner::act() {
    const Work& work = works_[at_];
    phase_ = Phase::Acting;
    switch (work.action) {
    case Step::Action::Outputs:
    case Step::Action::Reset:
    case Step::Action::Wiring:
        if (!session_.sendFrame(work.frame))
            error(QStringLiteral("cannot send to %1: %2").arg(unitText(), session_.errorString()));
        return;
    case Step::Action::Wait:
        wait_.start(work.waitMs);
        return;
    case Step::Action::None:
        actedNs_ = clock_.nsecsElapsed();
        expect();
        return;
    }
}

void PlanRunner::onFrameSent() {
    if (phase_ != Phase::Acting)
        return;
    actedNs_ = clock_.nsecsElapsed();
    if (works_[at_].action == Step::Action::Reset)
        baseline_.fill(0);
    expect();
}

void PlanRunner::expect() {
    const Work& work = works_[at_];
    phase_ = Phase::Expecting;
    if (!work.expect) {
        holdingSinceNs_ = actedNs_;
        pass();
        return;
    }
    within_.start(work.expect->withinMs);
    pollTick_.start(plan_.pollMs);
    poll();
}

void PlanRunner::poll() {
    if (phase_ == Phase::Expecting && !session_.awaitingReply() && session_.requestStatus())
        askedSinceAction_ = true;
}

void PlanRunner::onReplied(const QByteArray& reply) {
    if (phase_ == Phase::Baseline) {
        baseline_ = baselineOf(reply);
        act();
        return;
    }
    if (phase_ != Phase::Expecting || !askedSinceAction_)
        return;
    const qint64 now = clock_.nsecsElapsed();
    const Expectation& expectation = *works_[at_].expect;
    Judgement judgement = judge(expectation, reply, baseline_);
    if (judgement.holds()) {
        if (!holdingSinceNs_)
            holdingSinceNs_ = now;
        if (now - *holdingSinceNs_ >= qint64{expectation.forMs} * kNsPerMs)
            pass();
        return;
    }
    if (holdingSinceNs_) {
        judgement.message += QStringLiteral(" (after holding for %1 ms)")
                                 .arg(QString::number(double(now - *holdingSinceNs_) / kNsPerMs, 'f', 1));
        fail(judgement);
        return;
    }
    lastJudgement_ = std::move(judgement);
}

void PlanRunner::onWithinPassed() {
    // Once it holds, the `for` time decides, not `within`.
    if (phase_ != Phase::Expecting || holdingSinceNs_)
        return;
    if (lastJudgement_)
        fail(*lastJudgement_);
    else
        error(QStringLiteral("no reply from %1 within %2").arg(unitText(), platform::secondsText(works_[at_].expect->withinMs)));
}

void PlanRunner::onReplyFailed(platform::UnitSession::ReplyFailure failure, qsizetype bytes) {
    if (phase_ != Phase::Baseline && phase_ != Phase::Expecting)
        return;
    const QString within = platform::secondsText(timeoutMs_);
    switch (failure) {
    case platform::UnitSession::ReplyFailure::TimedOut:
        error(QStringLiteral("no reply from %1 within %2").arg(unitText(), within));
        return;
    case platform::UnitSession::ReplyFailure::Overlong:
    case platform::UnitSession::ReplyFailure::Short:
        error(QStringLiteral("reply of %1 bytes from %2 within %3, expected %4")
                  .arg(bytes)
                  .arg(unitText(), within)
                  .arg(protocol::kStatusReplySize));
        return;
    case platform::UnitSession::ReplyFailure::CutShort:
        // closed() tells it.
        return;
    }
}

void PlanRunner::onLost(const QString& reason) {
    lost_ = true;
    error(QStringLiteral("connection to %1 lost: %2").arg(unitText(), reason));
}

void PlanRunner::pass() {
    settle(CaseResult::Verdict::Passed, {});
}

void PlanRunner::fail(const Judgement& judgement) {
    settle(CaseResult::Verdict::Failed, judgement.message, judgement.expected, judgement.got);
}

void PlanRunner::error(const QString& why) {
    settle(CaseResult::Verdict::Errored, why);
}

double PlanRunner::secondsSinceAction() const {
    return double(clock_.nsecsElapsed() - actedNs_) / 1e9;
}

void PlanRunner::settle(CaseResult::Verdict verdict, const QString& message, const QString& expected,
                        const QString& got) {
    // A refused send and the close it brings both end the same step.
    if (phase_ == Phase::Done || phase_ == Phase::Idle || (phase_ == Phase::Connecting && !reached_))
        return;
    phase_ = Phase::Done;
    wait_.stop();
    within_.stop();
    pollTick_.stop();
    const Work& work = works_[at_];
    const bool bad = verdict == CaseResult::Verdict::Failed || verdict == CaseResult::Verdict::Errored;
    double seconds = secondsSinceAction();
    if (verdict == CaseResult::Verdict::Passed)
        seconds = double(*holdingSinceNs_ - actedNs_) / 1e9;
    else if (verdict == CaseResult::Verdict::Skipped)
        seconds = 0;

    if (work.part == Part::Case && !work.quiet) {
        CaseResult result{work.name, verdict, seconds, message, expected, got};
        report_.cases.push_back(result);
        Q_EMIT caseEnded(result);
    } else if (bad && work.part == Part::Teardown) {
        const QString line = work.stepName + QStringLiteral(": ") + message;
        if (teardownCase_) {
            report_.cases[*teardownCase_].message += QStringLiteral("; ") + line;
        } else {
            teardownCase_ = report_.cases.size();
            report_.cases.push_back({QStringLiteral("teardown"), CaseResult::Verdict::Errored, seconds, line, expected, got});
        }
    } else if (bad) {
        // The setup, or the all-off frame after a wiring.
        CaseResult result{work.part == Part::Setup ? QStringLiteral("setup") : work.name,
                          CaseResult::Verdict::Errored, seconds, work.stepName + QStringLiteral(": ") + message,
                          expected, got};
        report_.cases.push_back(result);
        Q_EMIT caseEnded(result);
    }
    if (work.part != Part::Teardown &&
        (interrupted_ || lost_ || (work.part == Part::Setup && bad) || (stopOnFailure_ && bad)))
        skipCasesLeft(at_ + 1);
    QMetaObject::invokeMethod(this, &PlanRunner::next, Qt::QueuedConnection);
}

void PlanRunner::skipCasesLeft(std::size_t from) {
    std::size_t teardown = from;
    for (; teardown < works_.size() && works_[teardown].part != Part::Teardown; ++teardown) {
        const Work& work = works_[teardown];
        if (work.part != Part::Case || work.quiet)
            continue;
        CaseResult result{work.name, CaseResult::Verdict::Skipped, 0, {}, {}, {}};
        report_.cases.push_back(result);
        Q_EMIT caseEnded(result);
    }
    // next() moves on to the teardown's first step.
    at_ = teardown == 0 ? 0 : teardown - 1;
}

void PlanRunner::finish() {
    phase_ = Phase::Done;
    at_ = works_.size();
    session_.close();
    report_.seconds = double(clock_.nsecsElapsed()) / 1e9;
    if (teardownCase_)
        Q_EMIT caseEnded(report_.cases[*teardownCase_]);
    Ending ending = Ending::Passed;
    for (const CaseResult& result : report_.cases) {
        if (result.verdict == CaseResult::Verdict::Failed || result.verdict == CaseResult::Verdict::Errored)
            ending = Ending::Failed;
    }
    if (!reached_ && !interrupted_)
        ending = Ending::Unreachable;
    else if (interrupted_)
        ending = Ending::Interrupted;
    Q_EMIT finished(ending);
}

} // namespace lumora::plan
