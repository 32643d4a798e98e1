// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/judge.h"

#include "platform/unit_session.h"
#include "protocol/status_reply.h"

#include <QStringList>

namespace lumora::plan {

namespace {

// "change 5", "change 99 to 101", "change at least 99", "change at most 101"
QString changeText(const CounterCheck& check) {
    if (check.delta)
        return QStringLiteral("change %1").arg(*check.delta);
    if (check.min && check.max)
        return QStringLiteral("change %1 to %2").arg(*check.min).arg(*check.max);
    if (check.min)
        return QStringLiteral("change at least %1").arg(*check.min);
    return QStringLiteral("change at most %1").arg(check.max.value_or(0));
}

QString gapText(const GapCheck& check) {
    if (check.minMs && check.maxMs)
        return platform::exactSecondsText(*check.minMs) + QStringLiteral(" to ") + platform::exactSecondsText(*check.maxMs);
    if (check.minMs)
        return QStringLiteral("at least ") + platform::exactSecondsText(*check.minMs);
    return QStringLiteral("at most ") + platform::exactSecondsText(check.maxMs.value_or(0));
}

bool within(std::uint32_t value, std::optional<std::uint32_t> min, std::optional<std::uint32_t> max) {
    return (!min || value >= *min) && (!max || value <= *max);
}

struct Mismatches {
    QStringList messages;
    QStringList expected;
    QStringList got;

    void add(const QString& what, const QString& wanted, const QString& came) {
        messages << QStringLiteral("%1 expected %2, got %3").arg(what, wanted, came);
        expected << what + QStringLiteral(": ") + wanted;
        got << what + QStringLiteral(": ") + came;
    }
};

} // namespace

Baseline baselineOf(QByteArrayView reply) {
    Baseline baseline{};
    for (int k = 0; k < protocol::kInputCount; ++k)
        baseline[static_cast<std::size_t>(k)] = protocol::counterValue(reply, k);
    return baseline;
}

Judgement judge(const Expectation& expectation, QByteArrayView reply, const Baseline& baseline) {
    Mismatches found;
    for (const auto& [input, wanted] : expectation.inputs) {
        const int came = protocol::inputState(reply, input);
        if (came != wanted)
            found.add(QStringLiteral("input ") + protocol::channelText(input), QString::number(wanted),
                      QString::number(came));
    }
    for (const auto& [output, wanted] : expectation.outputs) {
        const int came = protocol::outputState(reply, output - 1);
        if (came != wanted)
            found.add(QStringLiteral("output ") + protocol::channelText(output), QString::number(wanted),
                      QString::number(came));
    }
    for (const auto& [counter, check] : expectation.counters) {
        // Unsigned, so a counter that wrapped past 2^32 still gives its change.
        const std::uint32_t change =
            protocol::counterValue(reply, counter - 1) - baseline[static_cast<std::size_t>(counter - 1)];
        const bool good = check.delta ? change == *check.delta : within(change, check.min, check.max);
        if (!good)
            found.add(QStringLiteral("counter ") + protocol::channelText(counter), changeText(check),
                      QStringLiteral("change %1").arg(change));
    }
    for (const auto& [gap, check] : expectation.gaps) {
        const std::uint32_t came = protocol::timeGapValue(reply, gap - 1);
        if (!within(came, check.minMs, check.maxMs))
            found.add(QStringLiteral("gap ") + protocol::channelText(gap), gapText(check), platform::exactSecondsText(came));
    }
    return {found.messages.join(QStringLiteral("; ")), found.expected.join(QStringLiteral(", ")),
            found.got.join(QStringLiteral(", "))};
}

} // namespace lumora::plan
