// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/readout.h"

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>

namespace lumora::waveform {

namespace {

constexpr int kPerLine = 6;

QString levelText(timeline::Level level) {
    return level == timeline::Level::Refused ? QStringLiteral("?") : QString::number(int(level));
}

QString channel(int k) {
    return QStringLiteral("%1").arg(k + 1, 2, 10, QLatin1Char('0'));
}

} // namespace

QString momentText(qint64 ms, bool localTime) {
    if (!localTime)
        return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).toString(u"hh:mm:ss.zzz") +
               QStringLiteral(" UTC");
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    const int offset = local.offsetFromUtc() / 60;
    return local.toString(u"hh:mm:ss.zzz ") + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

QString cursorText(qint64 ms, const std::optional<timeline::Sample>& shown, bool localTime) {
    QStringList lines{momentText(ms, localTime)};
    if (!shown) {
        lines << QStringLiteral("no reply at or before it");
        return lines.join(u'\n');
    }
    lines.last() += QStringLiteral(" (reply %1)").arg(momentText(shown->ms, localTime));
    QStringList inputs;
    for (int k = 0; k < protocol::kInputCount; ++k)
        inputs << levelText(shown->lane(k));
    QStringList outputs;
    for (int k = 0; k < protocol::kOutputCount; ++k)
        outputs << levelText(shown->lane(protocol::kInputCount + k));
    lines << QStringLiteral("DI00..DI11  ") + inputs.join(u' ')
          << QStringLiteral("DO01..DO04  ") + outputs.join(u' ');
    for (const bool counters : {true, false}) {
        for (int first = 0; first < timeline::kChannelCount; first += kPerLine) {
            QStringList values;
            for (int k = first; k < first + kPerLine; ++k) {
                const std::uint32_t value =
                    counters ? shown->counters.at(std::size_t(k)) : shown->gaps.at(std::size_t(k));
                values << (counters ? protocol::counterText(value) : protocol::timeGapText(value));
            }
            lines << QStringLiteral("%1%2..%3  %4")
                         .arg(counters ? u"CNT" : u"GAP", channel(first), channel(first + kPerLine - 1),
                              values.join(u' '));
        }
    }
    return lines.join(u'\n');
}

QString spanText(qint64 fromMs, const std::optional<timeline::Sample>& from, qint64 toMs,
                 const std::optional<timeline::Sample>& to, std::uint32_t hiddenCounters) {
    const qint64 ms = toMs - fromMs;
    QStringList lines{QStringLiteral("Between the cursors: %1 s").arg(double(ms) / 1000.0, 0, 'f', 3)};
    if (!from || !to) {
        lines << QStringLiteral("no reply at or before %1 cursor").arg(from ? u"the second" : u"the first");
        return lines.join(u'\n');
    }
    for (int k = 0; k < timeline::kChannelCount; ++k) {
        if ((hiddenCounters & (1U << k)) != 0)
            continue;
        const qint64 difference =
            qint64(to->counters.at(std::size_t(k))) - qint64(from->counters.at(std::size_t(k)));
        const QString rate =
            ms == 0 ? QStringLiteral("-") : QString::number(double(difference) * 1000.0 / double(ms), 'f', 2);
        lines << QStringLiteral("CNT%1 %2%3, %4/s")
                     .arg(channel(k), difference > 0 ? u"+" : u"")
                     .arg(difference)
                     .arg(rate);
    }
    return lines.join(u'\n');
}

} // namespace lumora::waveform
