// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/status_page.h"

#include "log/utc_moment.h"

#include <QString>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace lumora::exporter {

namespace {

QString withProblem(const char* state, const QString& problem) {
    const QString text = QString::fromLatin1(state);
    return problem.isEmpty() ? text : text + u": "_s + problem;
}

QString stateText(const UnitState& state) {
    switch (state.link) {
    case UnitState::Link::Connecting:
        return QStringLiteral("connecting");
    case UnitState::Link::Waiting:
        return withProblem("waiting to reconnect", state.problem);
    case UnitState::Link::Connected:
        break;
    }
    return state.up ? QStringLiteral("up") : withProblem("down", state.problem);
}

QString lastReply(const UnitState& state) {
    if (state.lastReplyMs == 0)
        return QStringLiteral("never");
    return QString::fromLatin1(log::UtcMomentText()(state.lastReplyMs)) + u" UTC"_s;
}

QString address(const Unit& unit) {
    const QString host = unit.host.contains(u':') ? u'[' + unit.host + u']' : unit.host;
    return host + u':' + QString::number(unit.port);
}

void cell(QString& page, const QString& text) {
    page += u"<td>";
    page += text.toHtmlEscaped();
    page += u"</td>";
}

// A thousand idle connections must not make the page a thousand lines long.
constexpr qsizetype kClientsShown = 20;

QString clientsText(const QStringList& clients) {
    if (clients.isEmpty())
        return QStringLiteral("none");
    QString text = clients.first(std::min(clients.size(), kClientsShown)).join(u", "_s);
    if (clients.size() > kClientsShown)
        text += u" and %1 more"_s.arg(clients.size() - kClientsShown);
    return text;
}

} // namespace

QByteArray statusPage(const QList<Unit>& units, std::span<const UnitState* const> states,
                      std::span<const FrontRow> fronts) {
    QString page;
    page.reserve(512 + 200 * units.size());
    page +=
        u"<!DOCTYPE html>\n"
        u"<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        u"<title>Lumora 7150R exporter</title>\n"
        u"<style>table{border-collapse:collapse}th,td{border:1px solid #999;padding:2px 8px;text-align:left}"
        u"</style>\n</head>\n<body>\n<h1>Lumora 7150R exporter</h1>\n"
        u"<p><a href=\"/metrics\">Metrics</a></p>\n";
    if (!fronts.empty()) {
        page += u"<table>\n<thead><tr><th>Front</th><th>Address</th><th>Clients</th></tr></thead>\n<tbody>\n";
        for (const FrontRow& front : fronts) {
            page += u"<tr>";
            cell(page, front.name);
            cell(page, front.address);
            cell(page, clientsText(front.clients));
            page += u"</tr>\n";
        }
        page += u"</tbody>\n</table>\n";
    }
    page +=
        u"<table>\n"
        u"<thead><tr><th>Unit</th><th>Address</th><th>State</th><th>Replies</th><th>Last "
        u"reply</th></tr></thead>\n"
        u"<tbody>\n";
    const UnitState unknown;
    for (qsizetype i = 0; i < units.size(); ++i) {
        const UnitState& state =
            std::size_t(i) < states.size() && states[std::size_t(i)] ? *states[std::size_t(i)] : unknown;
        page += u"<tr>";
        cell(page, units[i].name);
        cell(page, address(units[i]));
        cell(page, stateText(state));
        cell(page, QString::number(state.replies));
        cell(page, lastReply(state));
        page += u"</tr>\n";
    }
    page += u"</tbody>\n</table>\n</body>\n</html>\n";
    return page.toUtf8();
}

} // namespace lumora::exporter
