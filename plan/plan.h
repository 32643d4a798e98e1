// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace lumora::plan {

// A place in the plan file, 1-based, as an editor shows it.
struct Mark {
    int line = 0;
    int column = 0;
};

// The change of a counter since the step's action, modulo 2^32: exactly
// `delta`, or within [min, max] where either end may be open.
struct CounterCheck {
    std::optional<std::uint32_t> delta;
    std::optional<std::uint32_t> min;
    std::optional<std::uint32_t> max;
};

// A time gap in thousandths of a second, as the reply carries it.
struct GapCheck {
    std::optional<std::uint32_t> minMs;
    std::optional<std::uint32_t> maxMs;
};

// What a reply must show. Keys are the numbers the window captions: inputs
// 0 to 11, outputs 1 to 4, counters and gaps 1 to 12 (counter and gap NN+1
// belong to input NN).
struct Expectation {
    std::map<int, int> inputs;  // 0, 1 or 2
    std::map<int, int> outputs; // 0 or 1, as read back
    std::map<int, CounterCheck> counters;
    std::map<int, GapCheck> gaps;
    // It must hold in some reply no later than this after the action...
    int withinMs = 1000;
    // ...and, once it holds, in every reply for this long.
    int forMs = 0;
};

struct Step {
    enum class Action { None, Outputs, Reset, Wait, Wiring };

    QString name; // "step N" when the plan gives none
    Mark mark;    // where the step begins
    Action action = Action::None;
    std::array<int, 4> outputs{}; // Outputs: D1 to D4
    int waitMs = 0;               // Wait
    std::optional<Expectation> expect;
    // Wiring: each output (1 to 4) with the inputs (0 to 11) it must drive,
    // in the plan's order; one case each, named "<name> DO0N".
    std::vector<std::pair<int, std::vector<int>>> wiring;
    int wiringWithinMs = 1000;
};

struct Plan {
    QString file;
    QString name; // the file's base name when the plan gives none
    // From `unit`; --address and --port win over them.
    std::optional<QString> host;
    std::optional<std::uint16_t> port;
    // Between status requests while an expectation is awaited: 1 to 1000.
    int pollMs = 10;
    std::vector<Step> setup;
    std::vector<Step> steps;
    std::vector<Step> teardown;
};

struct PlanError {
    QString file;
    Mark mark{1, 1}; // the file's start when the whole file is at fault
    QString why;
    // "FILE:LINE:COLUMN: why", as editors and CI servers point at it.
    [[nodiscard]] QString text() const;
};

// The plan in `text`, or why not. `file` names it in errors and gives the
// default suite name.
[[nodiscard]] std::optional<Plan> parsePlan(const QByteArray& text, const QString& file, PlanError& error);
// The same from a file: a regular file of at most 1 MiB.
[[nodiscard]] std::optional<Plan> readPlan(const QString& file, PlanError& error);

} // namespace lumora::plan
