// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTimer>

#include <initializer_list>

class QWidget;

namespace lumora::app {

// The text of the one entry of the window's context menu.
inline const QString kSignalsEntry = QStringLiteral("Signals over Time...");

// Every status reply the client decoded since it started, kept for the
// signals over time whether or not that window is open: at least the newest
// kKeepAtLeast, older ones drop off. It takes each reply at the client's
// polling rate, so taking one costs a few hundred bytes copied and no more.
// Who shows them hears of new ones 25 times a second, not once a reply: at
// 1 ms polling a repaint for each would cost more than the replies do, and
// the eye follows no faster.
class LiveReplies : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kKeepAtLeast = 100'000;
    static constexpr int kTellEveryMs = 40;

    explicit LiveReplies(QObject* parent = nullptr);

    [[nodiscard]] const timeline::ReplyStore& store() const { return store_; }
    // A reply at its UTC moment; bytes of any other length than a status
    // reply's are no status reply and are not kept.
    void take(qint64 utcMs, QByteArrayView reply);

Q_SIGNALS:
    // Replies came (and perhaps the oldest went) since the last time this
    // was said, kTellEveryMs or more ago.
    void appended();

private:
    timeline::ReplyStore store_{kKeepAtLeast};
    QTimer tell_;
};

// Whether a right-click on `clicked` opens the window's context menu: it does
// anywhere on the window but on the fields that keep their own menus (and on
// those, too, while disabled: a disabled field shows no menu, and opening
// another in its place would be a surprise).
[[nodiscard]] bool offersSignalsMenu(const QWidget* clicked, std::initializer_list<const QWidget*> ownMenus);

} // namespace lumora::app
