// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

namespace lumora::platform::widgets {

// A titled frame drawn as an etched border with its caption on the top edge.
class Frame : public QWidget {
    Q_OBJECT
public:
    Frame(const QString& caption, QWidget* parent = nullptr);
    void setCaptionColour(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    QColor captionColour_;
};

} // namespace lumora::platform::widgets
