// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

namespace lumora::platform::widgets {

// Paints a window at most once per frame. Fast repetition adds log lines and
// indicator values hundreds of times a second; painting each of those turns
// (text shaping above all) would cost far more than the work itself, while
// the screen shows no more than a frame's worth anyway. Changes made between
// frames are painted together at the next one; nothing is dropped.
class PaintThrottle : public QObject {
    Q_OBJECT
public:
    static constexpr int kFrameMs = 33;

    explicit PaintThrottle(QWidget* window);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_ = nullptr;
    QElapsedTimer sinceLastPaint_;
    QTimer deferred_;
};

} // namespace lumora::platform::widgets
