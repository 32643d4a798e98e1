// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/widgets/change_origin.h"

#include <QComboBox>

namespace lumora::platform::widgets {

// Editable drop-down list that tells every change of its text; the user's
// pick of an item is the combo box's own activated signal.
class ComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ComboBox(QWidget* parent = nullptr);
    void setTextByProgram(const QString& text);
    void setBackground(const QColor& colour);

Q_SIGNALS:
    void changed(bool byProgram);

private:
    ChangeOrigin origin_;
};

} // namespace lumora::platform::widgets
