// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>

namespace lumora::platform::widgets {

// A label that acts on a click.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace lumora::platform::widgets
