// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/measure_run.h"

#include "log/utc_moment.h"
#include "timeline/reply_store.h"
#include "viewer/export_run.h"
#include "viewer/texts.h"

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>

#include <array>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

namespace lumora::viewer {

using namespace Qt::StringLiterals;

namespace {

QString moment(qint64 ms) {
    return u'"' +
           QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).toString(u"yyyy-MM-dd hh:mm:ss.zzz"_s) + u'"';
}

QString number(double value) {
    return QString::number(value, 'g', 12);
}

QString seconds(double ms) {
    return number(ms / 1000.0);
}

QString channel(std::size_t k) {
    return u"\"%1\""_s.arg(int(k), 2, 10, QChar(u'0'));
}

QString spread(double min, double mean, double max) {
    return u"{\"min\": %1, \"mean\": %2, \"max\": %3}"_s.arg(seconds(min), seconds(mean), seconds(max));
}

QString inputJson(const timeline::LaneMeasure& in, qint64 spanMs) {
    const QString period =
        in.periods == 0
            ? u"null"_s
            : spread(double(in.periodMinMs), double(in.periodSumMs) / double(in.periods),
                     double(in.periodMaxMs));
    const QString width = in.widthMaxMs == 0 && in.widthMinMs == timeline::LaneMeasure{}.widthMinMs
                              ? u"null"_s
                              : u"{\"min\": %1, \"max\": %2}"_s.arg(seconds(double(in.widthMinMs)),
                                                                    seconds(double(in.widthMaxMs)));
    return u"{\"rising\": %1, \"falling\": %2, \"high_seconds\": %3, \"other_seconds\": %4, \"duty\": %5, "
           u"\"period\": %6, \"width\": %7}"_s.arg(in.rising)
               .arg(in.falling)
               .arg(seconds(double(in.highMs)), seconds(double(in.otherMs)),
                    number(double(in.highMs) / double(spanMs)), period, width);
}

void write(std::FILE* out, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    static_cast<void>(std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), out));
}

} // namespace

void writeMeasurementJson(std::FILE* out, const timeline::Measure& measure, qint64 fromMs, qint64 toMs) {
    const qint64 spanMs = std::max<qint64>(toMs - fromMs, 1);
    QStringList inputs;
    QStringList counters;
    QStringList gaps;
    for (std::size_t k = 0; k < std::size_t(timeline::kChannelCount); ++k) {
        inputs.append(channel(k) + u": "_s + inputJson(measure.lanes[k], spanMs));
        const timeline::CounterMeasure& c = measure.counters[k];
        counters.append(
            channel(k + 1) +
            u": {\"pulses\": %1, \"wraps\": %2, \"resets\": %3, \"rate_hz\": %4, \"missed\": %5}"_s
                .arg(c.pulses)
                .arg(c.wraps)
                .arg(c.resets)
                .arg(number(double(c.pulses) * 1000.0 / double(spanMs)))
                .arg(c.missed));
        const timeline::GapMeasure& g = measure.gaps[k];
        gaps.append(channel(k + 1) + u": "_s +
                    (measure.replies == 0 ? u"null"_s
                                          : spread(g.min, double(g.sum) / double(measure.replies), g.max)));
    }
    write(out, u"{\"from\": %1, \"to\": %2, \"replies\": %3,\n \"inputs\": {%4},\n \"counters\": {%5},\n "
               u"\"gaps\": {%6},\n \"findings\": ["_s.arg(moment(fromMs), moment(toMs))
                   .arg(measure.replies)
                   .arg(inputs.join(u", "_s), counters.join(u", "_s), gaps.join(u", "_s)));
    // A day can hold millions of findings: each is written as it comes,
    // without a QString, a QDateTime or a format to parse.
    log::UtcMomentText moments;
    std::string line;
    const auto add = [&line](std::string_view text) { line.append(text); };
    const auto addMoment = [&line, &moments](qint64 ms) {
        const QByteArrayView text = moments(ms);
        line.append(text.data(), std::size_t(text.size()));
    };
    const auto addNumber = [&line](qint64 n) {
        std::array<char, 24> digits{};
        const auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), n);
        line.append(digits.data(), end);
    };
    for (std::size_t i = 0; i < measure.findings.size(); ++i) {
        const timeline::Finding& f = measure.findings[i];
        line.clear();
        add(i == 0 ? "{\"kind\": \"" : ",\n  {\"kind\": \"");
        add(f.kind == timeline::Finding::Kind::MissedPulses ? "missed_pulses" : "counter_stuck");
        add("\", \"channel\": \"");
        line.push_back(char('0' + (f.channel + 1) / 10));
        line.push_back(char('0' + (f.channel + 1) % 10));
        add("\", \"from\": \"");
        addMoment(f.fromMs);
        add("\", \"to\": \"");
        addMoment(f.toMs);
        add("\", \"counted\": ");
        addNumber(f.counted);
        add(", \"edges\": ");
        addNumber(f.edges);
        line.push_back('}');
        static_cast<void>(std::fwrite(line.data(), 1, line.size(), out));
    }
    write(out, u"]}\n"_s);
    static_cast<void>(std::fflush(out));
}

int runMeasure(const Options& options) {
    timeline::ReplyStore store;
    const bool whole = readForScript(options.files, store);
    const Span span = exportSpan(store, options.from, options.to);
    writeMeasurementJson(stdout, timeline::measure(store, span.fromMs, span.toMs), span.fromMs, span.toMs);
    return whole ? kDone : kBlockSkipped;
}

} // namespace lumora::viewer
