// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/measure_run.h"

#include "log/utc_moment.h"
#include "timeline/day_files.h"
#include "timeline/reply_store.h"
#include "viewer/export_run.h"
#include "viewer/texts.h"

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <cstdio>

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
        in.rising < 2
            ? u"null"_s
            : spread(double(in.periodMinMs), double(in.lastRiseMs - in.firstRiseMs) / double(in.rising - 1),
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
    // without a QString or a QDateTime.
    log::UtcMomentText moments;
    std::array<char, 32> from{};
    for (std::size_t i = 0; i < measure.findings.size(); ++i) {
        const timeline::Finding& f = measure.findings[i];
        const QByteArrayView fromText = moments(f.fromMs);
        std::copy(fromText.begin(), fromText.end(), from.begin());
        const QByteArrayView toText = moments(f.toMs);
        std::fprintf(out,
                     "%s{\"kind\": \"%s\", \"channel\": \"%02d\", \"from\": \"%.*s\", \"to\": \"%.*s\", "
                     "\"counted\": %lld, \"edges\": %lld}",
                     i == 0 ? "" : ",\n  ",
                     f.kind == timeline::Finding::Kind::MissedPulses ? "missed_pulses" : "counter_stuck",
                     f.channel + 1, int(fromText.size()), from.data(), int(toText.size()), toText.data(),
                     static_cast<long long>(f.counted), static_cast<long long>(f.edges));
    }
    write(out, u"]}\n"_s);
    static_cast<void>(std::fflush(out));
}

int runMeasure(const Options& options) {
    timeline::ReplyStore store;
    timeline::DayFiles days(store);
    days.load(options.files);
    for (const timeline::FileProblem& problem : days.problems()) {
        const QByteArray line =
            (QLatin1String(kProgramName) + u": "_s + problem.message() + u'\n').toLocal8Bit();
        static_cast<void>(std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr));
    }
    const Span span = exportSpan(store, options.from, options.to);
    writeMeasurementJson(stdout, timeline::measure(store, span.fromMs, span.toMs), span.fromMs, span.toMs);
    return days.problems().empty() ? kDone : kBlockSkipped;
}

} // namespace lumora::viewer
