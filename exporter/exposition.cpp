// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/exposition.h"

#include "protocol/status_reply.h"

#include <prometheus/client_metric.h>
#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

namespace lumora::exporter {

namespace {

using prometheus::MetricFamily;
using prometheus::MetricType;

enum Family : int {
    UnitUp,
    Input,
    Output,
    Pulses,
    TimeGap,
    Replies,
    Failures,
    LastReply,
    Duration,
};

struct FamilyText {
    const char* name;
    const char* help;
    MetricType type;
};

constexpr std::array<FamilyText, Exposition::kFamilyCount> kFamilies{{
    {"lumora_unit_up", "1 while the last poll got a good status reply, else 0.", MetricType::Gauge},
    {"lumora_input", "Input state as the window shows it: 0 off, 1 on, 2 greyed.", MetricType::Gauge},
    {"lumora_output", "Output state as the window shows it: 0 off, 1 on, 2 greyed.", MetricType::Gauge},
    {"lumora_input_pulses_total",
     "Pulses the unit counted on the input. The unit's own reset or wrap shows as a counter reset.",
     MetricType::Counter},
    {"lumora_time_gap_seconds", "The unit's time gap of the input, in seconds.", MetricType::Gauge},
    {"lumora_replies_total", "Good status replies received.", MetricType::Counter},
    {"lumora_poll_failures_total", "Polls that brought no reply that could be shown whole, by reason.",
     MetricType::Counter},
    {"lumora_last_reply_timestamp_seconds",
     "When the last good status reply came, in seconds since the epoch.", MetricType::Gauge},
    {"lumora_poll_duration_seconds", "Time from a status request out to its whole reply in.",
     MetricType::Histogram},
}};

// Where each family's values lie in a reply; the others do not come from it.
struct ReplySlice {
    qsizetype from = 0;
    qsizetype size = 0;
};
constexpr std::array<ReplySlice, Exposition::kFamilyCount> kSlices{{
    {},
    {0, protocol::kInputCount},
    {protocol::kOutputOffset, protocol::kOutputCount},
    {protocol::kCounterOffset, protocol::kTimeGapOffset - protocol::kCounterOffset},
    {protocol::kTimeGapOffset, protocol::kOutputOffset - protocol::kTimeGapOffset},
    {},
    {},
    {},
    {},
}};

constexpr double kMsPerSecond = 1000.0;

// The reply whose values a unit shows: none while it is down.
QByteArrayView shownReply(const UnitState& state) {
    if (!state.up || state.reply.size() != protocol::kStatusReplySize)
        return {};
    return state.reply;
}

MetricFamily emptyFamily(int family, bool withHelp) {
    MetricFamily made;
    made.name = kFamilies[family].name;
    if (withHelp)
        made.help = kFamilies[family].help;
    made.type = kFamilies[family].type;
    return made;
}

std::string serialised(MetricFamily family) {
    std::vector<MetricFamily> one;
    one.push_back(std::move(family));
    return prometheus::TextSerializer().Serialize(one);
}

// A unit's sample lines of one family, written as the library's text
// serializer writes them (its HELP and TYPE heads stay the library's): the
// serializer makes a stream, a locale and a metric object a line, and
// that was a quarter of what `serve` did at a thousand units.
class SampleLines {
public:
    SampleLines(int family, const std::string& unit)
        : name_(kFamilies[family].name)
        , unit_(unit) {}

    void add(double value, const char* label = nullptr, std::string_view labelValue = {}) {
        head("", label, labelValue);
        number(value);
        text_ += '\n';
    }
    // Counts per bucket up to each bound; +Inf is the whole count.
    void histogram(const std::array<std::uint64_t, PollDurations::kBounds.size()>& upToBound, std::uint64_t count,
                   double sum) {
        head("_count");
        integer(count);
        text_ += '\n';
        head("_sum");
        number(sum);
        text_ += '\n';
        std::array<char, kNumberChars> bound{};
        for (std::size_t i = 0; i < upToBound.size(); ++i) {
            head("_bucket", "le", formatted(bound, PollDurations::kBounds[i]));
            integer(upToBound[i]);
            text_ += '\n';
        }
        head("_bucket", "le", "+Inf");
        integer(count);
        text_ += '\n';
    }
    // Kept for as long as the values last: no room beyond the lines.
    std::string take() {
        text_.shrink_to_fit();
        return std::move(text_);
    }

private:
    static constexpr std::size_t kNumberChars = 32;
    // As the serializer's stream has them: 16 significant digits, %g style.
    static constexpr int kDigits = std::numeric_limits<double>::max_digits10 - 1;

    static std::string_view formatted(std::array<char, kNumberChars>& into, double value) {
        if (std::isnan(value))
            return "Nan";
        if (std::isinf(value))
            return value < 0 ? "-Inf" : "+Inf";
        const auto written = std::to_chars(into.data(), into.data() + into.size(), value,
                                           std::chars_format::general, kDigits);
        return {into.data(), std::size_t(written.ptr - into.data())};
    }
    void number(double value) {
        std::array<char, kNumberChars> digits{};
        text_ += formatted(digits, value);
    }
    void integer(std::uint64_t value) {
        std::array<char, kNumberChars> digits{};
        const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
        text_.append(digits.data(), written.ptr);
    }
    void escaped(std::string_view value) {
        for (const char c : value) {
            if (c == '\n') {
                text_ += "\\n";
            } else {
                if (c == '\\' || c == '"')
                    text_ += '\\';
                text_ += c;
            }
        }
    }
    void head(const char* suffix, const char* label = nullptr, std::string_view labelValue = {}) {
        text_ += name_;
        text_ += suffix;
        text_ += "{unit=\"";
        escaped(unit_);
        text_ += '"';
        if (label != nullptr) {
            text_ += ',';
            text_ += label;
            text_ += "=\"";
            escaped(labelValue);
            text_ += '"';
        }
        text_ += "} ";
    }

    const char* name_;
    const std::string& unit_;
    std::string text_;
};

std::string channel(int number) {
    return protocol::channelText(number).toStdString();
}

std::string familyLines(int family, const std::string& unit, const UnitState& state) {
    SampleLines lines(family, unit);
    const QByteArrayView reply = shownReply(state);
    const bool shown = !reply.isEmpty();
    switch (static_cast<Family>(family)) {
    case UnitUp:
        lines.add(state.up ? 1 : 0);
        break;
    case Input:
        for (int input = 0; shown && input < protocol::kInputCount; ++input) {
            const int value = protocol::inputState(reply, input);
            if (protocol::isShownState(value))
                lines.add(value, "channel", channel(input));
        }
        break;
    case Output:
        for (int output = 0; shown && output < protocol::kOutputCount; ++output) {
            const int value = protocol::outputState(reply, output);
            if (protocol::isShownState(value))
                lines.add(value, "channel", channel(output + 1));
        }
        break;
    case Pulses:
        for (int input = 0; shown && input < protocol::kInputCount; ++input)
            lines.add(protocol::counterValue(reply, input), "channel", channel(input + 1));
        break;
    case TimeGap:
        for (int input = 0; shown && input < protocol::kInputCount; ++input)
            lines.add(protocol::timeGapValue(reply, input) / kMsPerSecond, "channel", channel(input + 1));
        break;
    case Replies:
        lines.add(static_cast<double>(state.replies));
        break;
    case Failures:
        for (int kind = 0; kind < kPollFailureKinds; ++kind) {
            const auto failure = static_cast<PollFailure>(kind);
            lines.add(static_cast<double>(state.failureCount(failure)), "reason",
                      failureReason(failure).toStdString());
        }
        break;
    case LastReply:
        if (state.lastReplyMs != 0)
            lines.add(static_cast<double>(state.lastReplyMs) / kMsPerSecond);
        break;
    case Duration: {
        // The counts are per bucket; Prometheus wants each bucket to hold
        // every duration up to its bound.
        std::array<std::uint64_t, PollDurations::kBounds.size()> upToBound{};
        std::uint64_t sum = 0;
        for (std::size_t bound = 0; bound < upToBound.size(); ++bound)
            upToBound[bound] = sum += state.durations.counts[bound];
        lines.histogram(upToBound, state.durations.count, state.durations.sumSeconds);
        break;
    }
    }
    return lines.take();
}

bool sameValues(int family, const UnitState& was, const UnitState& now) {
    switch (static_cast<Family>(family)) {
    case UnitUp:
        return was.up == now.up;
    case Input:
    case Output:
    case Pulses:
    case TimeGap: {
        const QByteArrayView before = shownReply(was);
        const QByteArrayView after = shownReply(now);
        if (before.isEmpty() || after.isEmpty())
            return before.isEmpty() == after.isEmpty();
        const ReplySlice slice = kSlices[family];
        return before.sliced(slice.from, slice.size) == after.sliced(slice.from, slice.size);
    }
    case Replies:
        return was.replies == now.replies;
    case Failures:
        return was.failures == now.failures;
    case LastReply:
        return was.lastReplyMs == now.lastReplyMs;
    case Duration:
        return was.durations.count == now.durations.count && was.durations.counts == now.durations.counts &&
               was.durations.sumSeconds == now.durations.sumSeconds;
    }
    return false;
}

} // namespace

Exposition::Exposition(const QList<Unit>& units) {
    for (int family = 0; family < kFamilyCount; ++family)
        heads_[family] = serialised(emptyFamily(family, true));
    units_.resize(units.size());
    for (qsizetype index = 0; index < units.size(); ++index) {
        units_[index].name = units[index].name.toStdString();
        update(index, UnitState{});
    }
}

Exposition::~Exposition() = default;

void Exposition::setChunk(UnitLines& unit, int family, std::string lines) {
    familyBytes_[family] -= unit.chunks[family].size();
    familyBytes_[family] += lines.size();
    unit.chunks[family] = std::move(lines);
}

void Exposition::update(qsizetype index, const UnitState& state) {
    Q_ASSERT(index >= 0 && index < qsizetype(units_.size()));
    if (index < 0 || index >= qsizetype(units_.size()))
        return;
    UnitLines& unit = units_[index];
    for (int family = 0; family < kFamilyCount; ++family) {
        if (!unit.made || !sameValues(family, unit.seen, state))
            setChunk(unit, family, familyLines(family, unit.name, state));
    }
    unit.seen = state;
    unit.made = true;
}

QByteArray Exposition::text() const {
    qsizetype size = 0;
    for (int family = 0; family < kFamilyCount; ++family) {
        if (familyBytes_[family] != 0)
            size += qsizetype(heads_[family].size() + familyBytes_[family]);
    }
    QByteArray text;
    text.reserve(size);
    for (int family = 0; family < kFamilyCount; ++family) {
        if (familyBytes_[family] == 0)
            continue;
        text.append(heads_[family]);
        for (const UnitLines& unit : units_)
            text.append(unit.chunks[family].data(), qsizetype(unit.chunks[family].size()));
    }
    return text;
}

} // namespace lumora::exporter
