// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/widgets/change_origin.h"

#include <QCheckBox>

namespace lumora::platform::widgets {

// Check box holding 0 (unticked), 1 (ticked) or 2 (greyed). A user's click
// only ever gives 0 or 1: greyed is the program's to set.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit CheckBox(QWidget* parent = nullptr);

    int value() const;
    // false, and the value kept, for anything but 0, 1 and 2.
    [[nodiscard]] bool setValue(int value);

    void setColours(const QColor& text, const QColor& background);

Q_SIGNALS:
    // On every change of value, by user or program, enabled or not.
    void changed(bool byProgram);

protected:
    void nextCheckState() override;

private:
    ChangeOrigin origin_;
};

} // namespace lumora::platform::widgets
