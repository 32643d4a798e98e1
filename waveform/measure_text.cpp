// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/measure_text.h"

#include "waveform/readout.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>

namespace lumora::waveform {

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kDayMs = qint64(24) * 3600 * 1000;

QString seconds(double ms) {
    return QString::number(ms / 1000.0, 'f', 3);
}

QString channel(int k) {
    return u"%1"_s.arg(k, 2, 10, QLatin1Char('0'));
}

// A lane that never rose twice has no period, one never high from rise to
// fall no width: shown as "-", not as a made-up zero.
QString inputLine(int lane, const timeline::LaneMeasure& in, qint64 spanMs) {
    const QString period =
        in.periods == 0
            ? u"-"_s
            : u"%1/%2/%3 s"_s.arg(seconds(double(in.periodMinMs)),
                                  seconds(double(in.periodSumMs) / double(in.periods)),
                                  seconds(double(in.periodMaxMs)));
    const QString width = in.widthMinMs > in.widthMaxMs ? u"-"_s
                                                        : u"%1/%2 s"_s.arg(seconds(double(in.widthMinMs)),
                                                                           seconds(double(in.widthMaxMs)));
    return u"%1  rising %2  falling %3  high %4 s  duty %5 %  period min/mean/max %6  width min/max %7"_s
               .arg(timeline::laneName(lane))
               .arg(in.rising)
               .arg(in.falling)
               .arg(seconds(double(in.highMs)),
                    QString::number(100.0 * double(in.highMs) / double(spanMs), 'f', 1), period, width) +
           (in.otherMs == 0 ? QString() : u"  at 2/refused %1 s"_s.arg(seconds(double(in.otherMs))));
}

QString counterLine(int k, const timeline::CounterMeasure& c, qint64 spanMs) {
    QStringList steps;
    if (c.wraps != 0)
        steps << u"%1 wrap%2"_s.arg(c.wraps).arg(c.wraps == 1 ? u"" : u"s");
    if (c.resets != 0)
        steps << u"%1 reset%2"_s.arg(c.resets).arg(c.resets == 1 ? u"" : u"s");
    return u"CNT%1  pulses %2%3  rate %4/s  missed %5"_s.arg(channel(k + 1))
        .arg(c.pulses)
        .arg(steps.isEmpty() ? QString() : u" (%1)"_s.arg(steps.join(u", ")))
        .arg(QString::number(double(c.pulses) * 1000.0 / double(spanMs), 'f', 2))
        .arg(c.missed);
}

} // namespace

QString measureText(const timeline::Measure& measure, qint64 fromMs, qint64 toMs, bool localTime,
                    timeline::LaneSet shown) {
    const auto isShown = [shown](int lane) { return (shown >> lane & 1U) != 0; };
    const qint64 spanMs = std::max<qint64>(toMs - fromMs, 1);
    QStringList lines{
        u"%1 to %2 (%3 s), %4 replies"_s
            .arg(momentText(fromMs, localTime), momentText(toMs, localTime), seconds(double(toMs - fromMs)))
            .arg(measure.replies)};
    for (int k = 0; k < timeline::kLaneCount; ++k) {
        if (isShown(k))
            lines << inputLine(k, measure.lanes.at(std::size_t(k)), spanMs);
    }
    for (int k = 0; k < timeline::kChannelCount; ++k) {
        if (isShown(timeline::kFirstCounterLane + k))
            lines << counterLine(k, measure.counters.at(std::size_t(k)), spanMs);
    }
    for (int k = 0; k < timeline::kChannelCount; ++k) {
        if (!isShown(timeline::kFirstGapLane + k))
            continue;
        const timeline::GapMeasure& g = measure.gaps.at(std::size_t(k));
        lines << u"GAP%1  min/mean/max %2"_s.arg(
            channel(k + 1),
            measure.replies == 0
                ? u"-"_s
                : u"%1/%2/%3 s"_s.arg(seconds(g.min), seconds(double(g.sum) / double(measure.replies)),
                                      seconds(g.max)));
    }
    return lines.join(u'\n');
}

QString findingText(const timeline::Finding& finding, bool localTime) {
    return u"%1  CNT%2  %3 to %4  counted %5, edges seen %6"_s
        .arg(finding.kind == timeline::Finding::Kind::MissedPulses ? u"missed_pulses"_s : u"counter_stuck"_s,
             channel(finding.channel + 1), momentText(finding.fromMs, localTime),
             momentText(finding.toMs, localTime))
        .arg(finding.counted)
        .arg(finding.edges);
}

QString stretchText(qint64 fromMs, qint64 toMs, bool localTime) {
    return u"%1 to %2 (%3 s)"_s.arg(momentText(fromMs, localTime), momentText(toMs, localTime),
                                    seconds(double(toMs - fromMs)));
}

std::optional<qint64> timeOnDay(QStringView text, qint64 dayMs) {
    static const QRegularExpression kTime(uR"(^\s*(\d{1,2}):(\d{2})(?::(\d{2})(?:\.(\d{1,3}))?)?\s*$)"_s);
    const QRegularExpressionMatch match = kTime.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int hour = match.capturedView(1).toInt();
    const int minute = match.capturedView(2).toInt();
    const int second = match.capturedView(3).isEmpty() ? 0 : match.capturedView(3).toInt();
    // ".5" is half a second, as a clock reads it.
    const QString thousandths = match.captured(4).leftJustified(3, u'0');
    if (hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const qint64 midnight = dayMs - ((dayMs % kDayMs) + kDayMs) % kDayMs;
    return midnight + ((qint64(hour) * 60 + minute) * 60 + second) * 1000 + thousandths.toInt();
}

QString keysText() {
    return u"Left, Right\tpan by a tenth of the span\n"
           u"+, -\tzoom in, out around the middle\n"
           u"Wheel, drag\tzoom around the pointer, pan\n"
           u"Click, Shift+Click\tfirst cursor, second cursor\n"
           u"Escape\tlift the cursors\n"
           u"Up, Down, click a name\tselect a lane\n"
           u"Ctrl+Right, Ctrl+Left\tnext, previous change on the selected lane (any while none is)\n"
           u"Ctrl+Shift+Right, Ctrl+Shift+Left\tnext, previous change on any lane\n"
           u"Ctrl+G\tGo to time (UTC hh:mm:ss.mmm, on the day shown)\n"
           u"Ctrl+F\tFind where a condition holds, e.g. DI03 & !DO01 or CNT04 > 1000"_s;
}

} // namespace lumora::waveform
