// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/check_box.h"

#include "protocol/status_reply.h"

namespace lumora::platform::widgets {

CheckBox::CheckBox(QWidget* parent)
    : QCheckBox(parent) {
    // Tristate only so that the greyed state can be shown; nextCheckState
    // keeps the user's clicks to ticked and unticked.
    setTristate(true);
    connect(this, &QCheckBox::stateChanged, this, [this](int) { Q_EMIT changed(origin_.byProgram()); });
}

int CheckBox::value() const {
    switch (checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

bool CheckBox::setValue(int value) {
    static constexpr Qt::CheckState kStates[] = {Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
    if (!protocol::isShownState(value))
        return false;
    // The same value again is no change: the box would still be repainted,
    // which a reply's sixteen indicators, mostly unchanged, cannot afford.
    if (value == this->value())
        return true;
    const auto change = origin_.programChange();
    setCheckState(kStates[value]);
    return true;
}

void CheckBox::setColours(const QColor& text, const QColor& background) {
    QPalette p = palette();
    // The disabled group keeps the toolkit's greyed text, as a disabled box should look.
    p.setColor(QPalette::Active, QPalette::WindowText, text);
    p.setColor(QPalette::Inactive, QPalette::WindowText, text);
    p.setColor(QPalette::Window, background);
    setPalette(p);
    setAutoFillBackground(true);
}

void CheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

} // namespace lumora::platform::widgets
