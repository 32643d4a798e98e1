// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/live_signals.h"

#include "protocol/status_reply.h"
#include "timeline/sample.h"

#include <QWidget>

#include <algorithm>

namespace lumora::app {

LiveReplies::LiveReplies(QObject* parent)
    : QObject(parent) {
    tell_.setSingleShot(true);
    tell_.setInterval(kTellEveryMs);
    connect(&tell_, &QTimer::timeout, this, &LiveReplies::appended);
}

void LiveReplies::take(qint64 utcMs, QByteArrayView reply) {
    if (reply.size() != protocol::kStatusReplySize)
        return;
    store_.append(timeline::sampleOf(utcMs, reply));
    if (!tell_.isActive())
        tell_.start();
}

bool offersSignalsMenu(const QWidget* clicked, std::initializer_list<const QWidget*> ownMenus) {
    return std::none_of(ownMenus.begin(), ownMenus.end(), [clicked](const QWidget* field) {
        return clicked != nullptr && (clicked == field || field->isAncestorOf(clicked));
    });
}

} // namespace lumora::app
