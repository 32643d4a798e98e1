// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "plan/plan.h"

#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>

namespace lumora::plan {

// The counters a step's changes are measured from: those of the last reply
// before its action, or zeros after a counter reset.
using Baseline = std::array<std::uint32_t, 12>;

[[nodiscard]] Baseline baselineOf(QByteArrayView reply);

// What a reply shows against an expectation: empty texts when it holds.
struct Judgement {
    QString message;  // "input 02 expected 1, got 0; counter 04 expected ..."
    QString expected; // "input 02: 1, counter 04: change 99 to 101"
    QString got;      // "input 02: 0, counter 04: change 57"

    [[nodiscard]] bool holds() const { return message.isEmpty(); }
};

// `reply` is a whole status reply.
[[nodiscard]] Judgement judge(const Expectation& expectation, QByteArrayView reply, const Baseline& baseline);

} // namespace lumora::plan
