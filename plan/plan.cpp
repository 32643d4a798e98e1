// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/plan.h"

#include "platform/regular_file.h"
#include "settings/conversions.h"
#include "settings/host_port.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <limits>
#include <string>

using namespace Qt::StringLiterals;

namespace lumora::plan {

namespace {

constexpr qint64 kMaxPlanBytes = qint64{1024} * 1024;
constexpr double kMsPerSecond = 1000.0;
constexpr std::uint32_t kMostUint32 = std::numeric_limits<std::uint32_t>::max();
constexpr int kMostMs = settings::kMaxIntervalMs;

// Thrown from deep in a plan to the one place that turns it into a PlanError.
struct Fault {
    Mark mark;
    QString why;
};

Mark markOf(const YAML::Node& node, Mark fallback = {1, 1}) {
    const YAML::Mark mark = node.Mark();
    return mark.line < 0 ? fallback : Mark{mark.line + 1, mark.column + 1};
}

QString text(const YAML::Node& node) {
    return QString::fromStdString(node.Scalar());
}

QString quoted(const QString& text) {
    return u'"' + text + u'"';
}

[[noreturn]] void fail(const YAML::Node& node, const QString& why) {
    throw Fault{markOf(node), why};
}

struct Entry {
    QString key;
    YAML::Node keyNode;
    YAML::Node value;
};

// The node at an entry's value, or at its key when the value is empty: an
// empty value has no place of its own.
const YAML::Node& at(const Entry& entry) {
    return entry.value.Mark().line < 0 || entry.value.IsNull() ? entry.keyNode : entry.value;
}

// A map's entries in the plan's order, each key once and, given `known`, from it.
std::vector<Entry> mapEntries(const YAML::Node& map, const QStringList& known) {
    std::vector<Entry> result;
    QSet<QString> seen;
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (!it->first.IsScalar())
            fail(it->first, u"a key must be text"_s);
        const QString key = text(it->first);
        if (!known.isEmpty() && !known.contains(key))
            fail(it->first, u"unknown key "_s + quoted(key));
        if (seen.contains(key))
            fail(it->first, u"key "_s + quoted(key) + u" given twice"_s);
        seen.insert(key);
        result.push_back({key, it->first, it->second});
    }
    return result;
}

std::vector<Entry> entries(const YAML::Node& map, const QString& what, const QStringList& known) {
    if (!map.IsMap())
        fail(map, what + u" must be a map"_s);
    return mapEntries(map, known);
}

std::vector<Entry> entries(const Entry& entry, const QString& what, const QStringList& known = {}) {
    if (!entry.value.IsMap())
        fail(at(entry), what + u" must be a map"_s);
    return mapEntries(entry.value, known);
}

bool isDigits(const QString& text) {
    static const QRegularExpression digits(u"^[0-9]+$"_s);
    return digits.match(text).hasMatch();
}

// A whole number from `least` to `most`.
std::optional<std::uint32_t> whole(const YAML::Node& node, std::uint32_t least, std::uint32_t most) {
    if (!node.IsScalar() || !isDigits(text(node)))
        return std::nullopt;
    bool ok = false;
    const qulonglong value = text(node).toULongLong(&ok);
    if (!ok || value < least || value > most)
        return std::nullopt;
    return std::uint32_t(value);
}

// Seconds written in decimal as thousandths, within [least, most].
std::optional<qint64> milliseconds(const YAML::Node& node, qint64 least, qint64 most) {
    static const QRegularExpression decimal(u"^([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$"_s);
    if (!node.IsScalar() || !decimal.match(text(node)).hasMatch())
        return std::nullopt;
    const double ms = std::nearbyint(QLocale::c().toDouble(text(node)) * kMsPerSecond);
    if (!std::isfinite(ms) || ms < double(least) || ms > double(most))
        return std::nullopt;
    return qint64(ms);
}

int secondsMs(const Entry& entry, int least, const QString& range) {
    const std::optional<qint64> ms = milliseconds(entry.value, least, kMostMs);
    if (!ms)
        fail(at(entry), entry.key + u" must be seconds from "_s + range);
    return int(*ms);
}

QString twoDigit(int number) {
    return QString::number(number).rightJustified(2, u'0');
}

// A channel key "NN" from `first` to `last`, as "input", "output", ...
int channel(const Entry& entry, const QString& what, int first, int last) {
    static const QRegularExpression twoDigits(u"^[0-9]{2}$"_s);
    const int number = entry.key.toInt();
    if (!twoDigits.match(entry.key).hasMatch() || number < first || number > last)
        fail(entry.keyNode, what + u' ' + quoted(entry.key) + u" is not a channel from "_s + twoDigit(first) +
                                u" to "_s + twoDigit(last));
    return number;
}

int channelValue(const Entry& entry, const QString& what, std::uint32_t most, const QString& values) {
    const std::optional<std::uint32_t> value = whole(entry.value, 0, most);
    if (!value)
        fail(at(entry), what + u' ' + entry.key + u" must be "_s + values);
    return int(*value);
}

CounterCheck counterCheck(const Entry& counter) {
    const QString what = u"counter "_s + counter.key;
    CounterCheck check;
    const auto range = entries(counter, what, {u"delta"_s, u"min"_s, u"max"_s});
    for (const Entry& entry : range) {
        const std::optional<std::uint32_t> value = whole(entry.value, 0, kMostUint32);
        if (!value)
            fail(at(entry), what + u' ' + entry.key + u" must be a whole number from 0 to 4294967295"_s);
        (entry.key == u"delta" ? check.delta : entry.key == u"min" ? check.min : check.max) = value;
        if (check.delta && (check.min || check.max))
            fail(entry.keyNode, what + u": delta excludes min and max"_s);
    }
    if (range.empty())
        fail(counter.value, what + u" takes delta, or min and max"_s);
    if (check.min && check.max && *check.min > *check.max)
        fail(counter.value, what + u": min above max"_s);
    return check;
}

GapCheck gapCheck(const Entry& gap) {
    const QString what = u"gap "_s + gap.key;
    GapCheck check;
    const auto range = entries(gap, what, {u"min"_s, u"max"_s});
    for (const Entry& entry : range) {
        const std::optional<qint64> ms = milliseconds(entry.value, 0, kMostUint32);
        if (!ms)
            fail(at(entry), what + u' ' + entry.key + u" must be seconds from 0 to 4294967.295"_s);
        (entry.key == u"min" ? check.minMs : check.maxMs) = std::uint32_t(*ms);
    }
    if (range.empty())
        fail(gap.value, what + u" takes min, max or both"_s);
    if (check.minMs && check.maxMs && *check.minMs > *check.maxMs)
        fail(gap.value, what + u": min above max"_s);
    return check;
}

Expectation expectation(const Entry& node) {
    Expectation expect;
    const QStringList known{u"inputs"_s, u"outputs"_s, u"counters"_s, u"gaps"_s, u"within"_s, u"for"_s};
    for (const Entry& entry : entries(node, u"expect"_s, known)) {
        if (entry.key == u"within") {
            expect.withinMs = secondsMs(entry, 1, u"0.001 to 86400"_s);
        } else if (entry.key == u"for") {
            expect.forMs = secondsMs(entry, 0, u"0 to 86400"_s);
        } else if (entry.key == u"inputs") {
            for (const Entry& input : entries(entry, entry.key))
                expect.inputs[channel(input, u"input"_s, 0, 11)] = channelValue(input, u"input"_s, 2, u"0, 1 or 2"_s);
        } else if (entry.key == u"outputs") {
            for (const Entry& output : entries(entry, entry.key))
                expect.outputs[channel(output, u"output"_s, 1, 4)] = channelValue(output, u"output"_s, 1, u"0 or 1"_s);
        } else if (entry.key == u"counters") {
            for (const Entry& counter : entries(entry, entry.key))
                expect.counters[channel(counter, u"counter"_s, 1, 12)] = counterCheck(counter);
        } else {
            for (const Entry& gap : entries(entry, entry.key))
                expect.gaps[channel(gap, u"gap"_s, 1, 12)] = gapCheck(gap);
        }
    }
    return expect;
}

void wiring(const Entry& entry, Step& step) {
    for (const Entry& output : entries(entry, entry.key)) {
        if (output.key == u"within") {
            step.wiringWithinMs = secondsMs(output, 1, u"0.001 to 86400"_s);
            continue;
        }
        const int number = channel(output, u"output"_s, 1, 4);
        if (!output.value.IsSequence())
            fail(at(output), u"output "_s + output.key + u" must be a list of inputs"_s);
        std::vector<int> inputs;
        for (const YAML::Node& input : output.value) {
            if (!input.IsScalar())
                fail(input, u"output "_s + output.key + u" must be a list of inputs"_s);
            inputs.push_back(channel({text(input), input, input}, u"input"_s, 0, 11));
        }
        step.wiring.emplace_back(number, std::move(inputs));
    }
    if (step.wiring.empty())
        fail(at(entry), u"wiring names no output"_s);
}

Step parseStep(const YAML::Node& node, int number) {
    Step step;
    step.name = u"step "_s + QString::number(number);
    step.mark = markOf(node);
    const QStringList known{u"name"_s, u"outputs"_s, u"reset"_s, u"wait"_s, u"wiring"_s, u"expect"_s};
    QString action;
    YAML::Node expectKey;
    for (const Entry& entry : entries(node, u"a step"_s, known)) {
        if (entry.key == u"name") {
            if (!entry.value.IsScalar() || entry.value.Scalar().empty())
                fail(at(entry), u"name must be text"_s);
            step.name = text(entry.value);
            continue;
        }
        if (entry.key == u"expect") {
            step.expect = expectation(entry);
            expectKey = entry.keyNode;
            continue;
        }
        if (!action.isEmpty())
            fail(entry.keyNode, u"two actions in one step: "_s + action + u" and "_s + entry.key);
        action = entry.key;
        if (entry.key == u"outputs") {
            step.action = Step::Action::Outputs;
            const auto bad = [&] { fail(at(entry), u"outputs must be a list of four values, each 0 or 1"_s); };
            if (!entry.value.IsSequence() || entry.value.size() != step.outputs.size())
                bad();
            for (std::size_t i = 0; i < step.outputs.size(); ++i) {
                const std::optional<std::uint32_t> value = whole(entry.value[i], 0, 1);
                if (!value)
                    bad();
                step.outputs[i] = int(*value);
            }
        } else if (entry.key == u"reset") {
            step.action = Step::Action::Reset;
            if (!entry.value.IsScalar() || entry.value.Scalar() != "counters")
                fail(at(entry), u"reset takes \"counters\""_s);
        } else if (entry.key == u"wait") {
            step.action = Step::Action::Wait;
            step.waitMs = secondsMs(entry, 1, u"0.001 to 86400"_s);
        } else {
            step.action = Step::Action::Wiring;
            wiring(entry, step);
        }
    }
    if (step.action == Step::Action::Wiring && step.expect)
        fail(expectKey, u"wiring takes no expect"_s);
    if (step.action == Step::Action::None && !step.expect)
        fail(node, u"a step with neither an action nor expect"_s);
    return step;
}

std::vector<Step> steps(const Entry& entry) {
    if (!entry.value.IsSequence())
        fail(at(entry), entry.key + u" must be a list of steps"_s);
    std::vector<Step> list;
    for (const YAML::Node& node : entry.value)
        list.push_back(parseStep(node, int(list.size()) + 1));
    return list;
}

Plan parseRoot(const YAML::Node& root, const QString& file) {
    Plan plan;
    plan.file = file;
    plan.name = QFileInfo(file).completeBaseName();
    if (!root.IsDefined() || root.IsNull())
        throw Fault{{1, 1}, u"a plan without steps"_s};
    const QStringList known{u"name"_s, u"unit"_s, u"poll"_s, u"setup"_s, u"steps"_s, u"teardown"_s};
    const YAML::Node* stepsKey = nullptr;
    const auto all = entries(root, u"a plan"_s, known);
    for (const Entry& entry : all) {
        if (entry.key == u"name") {
            if (!entry.value.IsScalar() || entry.value.Scalar().empty())
                fail(at(entry), u"name must be text"_s);
            plan.name = text(entry.value);
        } else if (entry.key == u"unit") {
            QString why;
            const std::optional<settings::HostPort> unit =
                entry.value.IsScalar() ? settings::hostPortFromText(text(entry.value), why) : std::nullopt;
            if (!unit)
                fail(at(entry), u"unit must be HOST:PORT"_s + (why.isEmpty() ? QString() : u": "_s + why));
            plan.host = unit->host;
            plan.port = unit->port;
        } else if (entry.key == u"poll") {
            plan.pollMs = int(milliseconds(entry.value, 1, 1000).value_or(0));
            if (plan.pollMs == 0)
                fail(at(entry), u"poll must be seconds from 0.001 to 1"_s);
        } else {
            (entry.key == u"setup" ? plan.setup : entry.key == u"steps" ? plan.steps : plan.teardown) = steps(entry);
            if (entry.key == u"steps")
                stepsKey = &entry.keyNode;
        }
    }
    if (plan.steps.empty())
        throw Fault{stepsKey ? markOf(*stepsKey) : Mark{1, 1}, u"a plan without steps"_s};
    return plan;
}

} // namespace

QString PlanError::text() const {
    return QStringLiteral("%1:%2:%3: %4").arg(file).arg(mark.line).arg(mark.column).arg(why);
}

std::optional<Plan> parsePlan(const QByteArray& text, const QString& file, PlanError& error) {
    error = PlanError{file, {1, 1}, QString()};
    try {
        return parseRoot(YAML::Load(text.toStdString()), file);
    } catch (const YAML::Exception& e) {
        error.mark = e.mark.line < 0 ? Mark{1, 1} : Mark{e.mark.line + 1, e.mark.column + 1};
        error.why = QString::fromStdString(e.msg);
    } catch (const Fault& fault) {
        error.mark = fault.mark;
        error.why = fault.why;
    }
    return std::nullopt;
}

std::optional<Plan> readPlan(const QString& file, PlanError& error) {
    QString why;
    const std::optional<QByteArray> bytes = platform::readRegularFile(file, kMaxPlanBytes, why);
    if (!bytes) {
        error = PlanError{file, {1, 1}, u"cannot read: "_s + why};
        return std::nullopt;
    }
    return parsePlan(*bytes, file, error);
}

} // namespace lumora::plan
