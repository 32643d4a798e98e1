// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>

class QWidget;

namespace lumora::platform::widgets {

// While it lives, the user's clicks and keys reach a window only at the
// controls named reachable. An error box leaves the window open to input, so
// that a box that comes back at once cannot shut the user out; everything
// else is held back here, as a modal box would hold it.
class InputHold : public QObject {
    Q_OBJECT
public:
    InputHold(QWidget& window, QList<QWidget*> reachable);
    ~InputHold() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    QList<QWidget*> reachable_;
};

} // namespace lumora::platform::widgets
