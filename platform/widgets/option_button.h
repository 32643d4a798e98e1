// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/widgets/change_origin.h"

#include <QRadioButton>

namespace lumora::platform::widgets {

// Option button that tells when it becomes selected, by the user or by the
// program.
class OptionButton : public QRadioButton {
    Q_OBJECT
public:
    explicit OptionButton(QWidget* parent = nullptr);
    void select();

Q_SIGNALS:
    void selected(bool byProgram);

private:
    ChangeOrigin origin_;
};

} // namespace lumora::platform::widgets
