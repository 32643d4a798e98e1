// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"
#include "timeline/search.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

namespace lumora::timeline {

// A small condition over the lanes, as Find takes it.
class Condition {
public:
    // "DI03 & !DO01", "CNT04 > 1000", "(DI00 | DI01) & GAP02 >= 1.5": & | ! and parentheses; a DI/DO
    // lane alone holds when High (so !DI03 holds at a 2 or a refused value); CNT and GAP take < <= > >= == !=
    // against a number (GAP in seconds, as the window shows it). nullopt with the reason (and where) in
    // `why`.
    [[nodiscard]] static std::optional<Condition> parse(QStringView text, QString& why);
    [[nodiscard]] bool holds(const Sample& sample) const;
    [[nodiscard]] LaneSet lanes() const { return lanes_; }

private:
    enum class Kind : std::uint8_t { Level, Counter, Gap, Not, And, Or };
    enum class Compare : std::uint8_t { Less, LessOrEqual, Greater, GreaterOrEqual, Equal, NotEqual };
    struct Node {
        Kind kind = Kind::Level;
        Compare compare = Compare::Equal;
        int index = 0; // the lane, counter or gap; Not, And, Or: the first operand's node
        int second = 0;
        double value = 0;
    };
    class Parser;

    [[nodiscard]] static bool decide(const Node& node, const std::vector<char>& decided,
                                     const Sample& sample);

    std::vector<Node> nodes_; // operands before the node that takes them; the last is the whole
    LaneSet lanes_ = 0;
};

struct Stretch {
    qsizetype first = -1; // store index of the reply it starts at (or the held one before the span)
    qint64 fromMs = 0;    // clipped to the span
    qint64 toMs = 0;      // the reply it stops holding at, or the span's end
};

// Where the condition holds in [fromMs, toMs), levels held from one reply to the next; at most
// `limit` stretches, `more` set when there were more.
[[nodiscard]] std::vector<Stretch> findStretches(const ReplyStore& store, const Condition& condition,
                                                 qint64 fromMs, qint64 toMs, qsizetype limit, bool& more);

} // namespace lumora::timeline
