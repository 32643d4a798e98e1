// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/option_button.h"

namespace lumora::platform::widgets {

OptionButton::OptionButton(QWidget* parent)
    : QRadioButton(parent) {
    connect(this, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Q_EMIT selected(origin_.byProgram());
    });
}

void OptionButton::select() {
    const auto change = origin_.programChange();
    setChecked(true);
}

} // namespace lumora::platform::widgets
