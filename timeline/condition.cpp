// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/condition.h"

#include <QChar>

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace lumora::timeline {

// Recursive descent, "|" binding looser than "&", "&" looser than "!".
// Positions in messages count characters from 1.
class Condition::Parser {
public:
    explicit Parser(QStringView text)
        : text_(text) {}

    std::optional<Condition> parse(QString& why) {
        int root = either();
        if (root >= 0 && skipSpace() < text_.size())
            root = fail(u"expected \"&\" or \"|\""_s);
        if (root < 0) {
            why = why_;
            return std::nullopt;
        }
        return std::move(condition_);
    }

private:
    // Deeper than this, a condition is no longer small, and the stack is spared.
    static constexpr int kMaxDepth = 64;

    qsizetype skipSpace() {
        while (at_ < text_.size() && text_[at_].isSpace())
            ++at_;
        return at_;
    }

    bool take(QStringView token) {
        skipSpace();
        if (!text_.sliced(at_).startsWith(token))
            return false;
        at_ += token.size();
        return true;
    }

    int fail(const QString& what) {
        if (why_.isEmpty())
            why_ = u"%1 at %2"_s.arg(what).arg(at_ + 1);
        return -1;
    }

    int add(Node node) {
        condition_.nodes_.push_back(node);
        return int(condition_.nodes_.size()) - 1;
    }

    int either() {
        int left = both();
        while (left >= 0 && take(u"|")) {
            const int right = both();
            left = right < 0 ? -1 : add({Kind::Or, Compare::Equal, left, right, 0});
        }
        return left;
    }

    int both() {
        int left = one();
        while (left >= 0 && take(u"&")) {
            const int right = one();
            left = right < 0 ? -1 : add({Kind::And, Compare::Equal, left, right, 0});
        }
        return left;
    }

    int one() {
        if (++depth_ > kMaxDepth)
            return fail(u"too deeply nested"_s);
        const int node = operand();
        --depth_;
        return node;
    }

    int operand() {
        skipSpace();
        // "!=" belongs to a comparison, never here.
        if (take(u"!")) {
            const int inner = one();
            return inner < 0 ? -1 : add({Kind::Not, Compare::Equal, inner, 0, 0});
        }
        if (take(u"(")) {
            const int inner = either();
            if (inner >= 0 && !take(u")"))
                return fail(u"expected \")\""_s);
            return inner;
        }
        const qsizetype start = at_;
        while (at_ < text_.size() && text_[at_].isLetterOrNumber())
            ++at_;
        if (at_ == start)
            return fail(u"expected a lane, \"!\" or \"(\""_s);
        const QStringView name = text_.sliced(start, at_ - start);
        const std::optional<int> lane = anyLaneByName(name);
        if (!lane) {
            at_ = start;
            return fail(u"unknown lane \"%1\""_s.arg(name));
        }
        condition_.lanes_ |= LaneSet{1} << *lane;
        if (*lane < kLaneCount)
            return add({Kind::Level, Compare::Equal, *lane, 0, 0});
        const bool counter = *lane < kLaneCount + kChannelCount;
        Node node{counter ? Kind::Counter : Kind::Gap, Compare::Equal, (*lane - kLaneCount) % kChannelCount,
                  0, 0};
        // The two-character ones first, so that "<=" is not read as "<".
        static constexpr std::array<std::pair<QStringView, Compare>, 6> kCompares{
            {{u"<=", Compare::LessOrEqual},
             {u">=", Compare::GreaterOrEqual},
             {u"==", Compare::Equal},
             {u"!=", Compare::NotEqual},
             {u"<", Compare::Less},
             {u">", Compare::Greater}}};
        bool found = false;
        for (std::size_t k = 0; k < kCompares.size() && !found; ++k) {
            found = take(kCompares[k].first);
            node.compare = kCompares[k].second;
        }
        if (!found)
            return fail(u"expected <, <=, >, >=, == or != after \"%1\""_s.arg(anyLaneName(*lane)));
        skipSpace();
        const qsizetype number = at_;
        while (at_ < text_.size() && (text_[at_].isDigit() || text_[at_] == u'.'))
            ++at_;
        bool ok = false;
        node.value = text_.sliced(number, at_ - number).toDouble(&ok);
        if (!ok || at_ == number || !text_[number].isDigit()) {
            at_ = number;
            return fail(u"expected a number"_s);
        }
        return add(node);
    }

    QStringView text_;
    qsizetype at_ = 0;
    int depth_ = 0;
    QString why_;
    Condition condition_;
};

std::optional<Condition> Condition::parse(QStringView text, QString& why) {
    return Parser(text).parse(why);
}

bool Condition::holds(const Sample& sample) const {
    // Operands come before the node that takes them: one pass in order
    // decides them all, however long a chain of "&" the text makes.
    std::vector<char> decided(nodes_.size());
    for (std::size_t k = 0; k < nodes_.size(); ++k)
        decided[k] = char(decide(nodes_[k], decided, sample));
    return !decided.empty() && decided.back() != 0;
}

bool Condition::decide(const Node& n, const std::vector<char>& decided, const Sample& sample) {
    const auto operand = [&](int node) { return decided[std::size_t(node)] != 0; };
    double value = 0;
    switch (n.kind) {
    case Kind::Level:
        // Only High holds: a 2 or a refused value is no more high than low,
        // so "!DI03" holds at those as it does at Low.
        return sample.lane(n.index) == Level::High;
    case Kind::Not:
        return !operand(n.index);
    case Kind::And:
        return operand(n.index) && operand(n.second);
    case Kind::Or:
        return operand(n.index) || operand(n.second);
    case Kind::Counter:
        value = double(sample.counters[std::size_t(n.index)]);
        break;
    case Kind::Gap:
        // Kept in thousandths, compared in seconds as the window shows them.
        value = double(sample.gaps[std::size_t(n.index)]) / 1000.0;
        break;
    }
    switch (n.compare) {
    case Compare::Less:
        return value < n.value;
    case Compare::LessOrEqual:
        return value <= n.value;
    case Compare::Greater:
        return value > n.value;
    case Compare::GreaterOrEqual:
        return value >= n.value;
    case Compare::Equal:
        return value == n.value;
    case Compare::NotEqual:
        return value != n.value;
    }
    return false;
}

std::vector<Stretch> findStretches(const ReplyStore& store, const Condition& condition, qint64 fromMs,
                                   qint64 toMs, qsizetype limit, bool& more) {
    std::vector<Stretch> found;
    more = false;
    if (toMs <= fromMs)
        return found;
    const std::vector<IndexRange> ranges = store.rangesIn(fromMs, toMs);
    Stretch open;
    // The condition can only turn where one of its lanes changes: the
    // replies between are passed over by their summaries. False once the
    // limit is reached and another stretch would start.
    const auto visit = [&](qsizetype index, qint64 ms, bool holds) {
        if (open.first >= 0 && !holds) {
            open.toMs = ms;
            found.push_back(open);
            open = {};
        } else if (open.first < 0 && holds) {
            if (qsizetype(found.size()) >= limit) {
                more = true;
                return false;
            }
            open = {index, ms, toMs};
        }
        return true;
    };
    // What is shown as the span opens holds from its first moment, unless a
    // reply of the span comes at that very moment.
    const qsizetype shown = store.indexAt(fromMs - 1);
    if (shown >= 0 && (ranges.empty() || store.msAt(ranges.front().from) > fromMs) &&
        !visit(shown, fromMs, condition.holds(store.at(shown))))
        return found;
    for (const IndexRange& range : ranges) {
        for (qsizetype i = range.from; i < range.to;) {
            const Sample sample = store.at(i);
            if (!visit(i, sample.ms, condition.holds(sample)))
                return found;
            i = firstDiffering(store, {i + 1, range.to}, sample, condition.lanes());
        }
    }
    if (open.first >= 0)
        found.push_back(open);
    return found;
}

} // namespace lumora::timeline
