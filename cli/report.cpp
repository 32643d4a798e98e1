// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/report.h"

#include "log/time_stamp.h"
#include "log/utc_moment.h"

#include <QDateTime>

namespace lumora::cli {

namespace {

template <std::size_t N>
QString stateList(const std::array<int, N>& states, const QString& refused, QChar separator) {
    QStringList parts;
    for (const int state : states)
        parts.append(protocol::isShownState(state) ? QString::number(state) : refused);
    return parts.join(separator);
}

template <std::size_t N>
QString textList(const std::array<QString, N>& texts, QChar separator, bool quote = false) {
    QStringList parts;
    for (const QString& text : texts)
        parts.append(quote ? u'"' + text + u'"' : text);
    return parts.join(separator);
}

} // namespace

QStringList refusedValues(const protocol::DecodedReply& reply) {
    QStringList refused;
    for (int k = 0; k < protocol::kInputCount; ++k) {
        if (!protocol::isShownState(reply.inputs[k]))
            refused.append(
                QStringLiteral("input %1 = %2").arg(protocol::channelText(k)).arg(reply.inputs[k]));
    }
    for (int k = 0; k < protocol::kOutputCount; ++k) {
        if (!protocol::isShownState(reply.outputs[k]))
            refused.append(
                QStringLiteral("output %1 = %2").arg(protocol::channelText(k + 1)).arg(reply.outputs[k]));
    }
    return refused;
}

QStringList statusGroups(const protocol::DecodedReply& reply) {
    const QChar blank(u' ');
    return {
        QStringLiteral("inputs 00..11: ") + stateList(reply.inputs, QStringLiteral("?"), blank),
        QStringLiteral("counters CH01..CH12: ") + textList(reply.counters, blank),
        QStringLiteral("time gaps CH01..CH12: ") + textList(reply.timeGaps, blank),
        QStringLiteral("outputs 01..04: ") + stateList(reply.outputs, QStringLiteral("?"), blank),
    };
}

QString rawText(const protocol::DecodedReply& reply) {
    return textList(reply.hex, u' ');
}

QString statusJson(const protocol::DecodedReply& reply, const QString& time) {
    // Written by hand: the keys keep this order, which a JSON object type
    // would sort.
    const QChar comma(u',');
    QString json = QStringLiteral("{");
    if (!time.isEmpty())
        json += QStringLiteral("\"time\":\"%1\",").arg(time);
    json += QStringLiteral("\"inputs\":[") + stateList(reply.inputs, QStringLiteral("null"), comma) +
            QStringLiteral("],\"counters\":[") + textList(reply.counters, comma) +
            QStringLiteral("],\"timeGaps\":[") + textList(reply.timeGaps, comma, true) +
            QStringLiteral("],\"outputs\":[") + stateList(reply.outputs, QStringLiteral("null"), comma) +
            QStringLiteral("],\"raw\":\"") + rawText(reply) + QStringLiteral("\"}");
    return json;
}

QString dateTimeText(const QDate& date, const QTime& time) {
    if (date.isValid())
        return log::formatUtcMoment(QDateTime(date, time, Qt::UTC));
    // The window's stamp without its brackets.
    return log::formatTimeStamp(time).mid(1, 12);
}

} // namespace lumora::cli
