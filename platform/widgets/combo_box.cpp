// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/combo_box.h"

#include <QLineEdit>

#include <limits>

namespace lumora::platform::widgets {

ComboBox::ComboBox(QWidget* parent)
    : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // The interval has no length limit: the line edit's own default would
    // cut a longer stored text.
    lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    connect(this, &QComboBox::editTextChanged, this, [this] { Q_EMIT changed(origin_.byProgram()); });
}

void ComboBox::setTextByProgram(const QString& text) {
    const auto change = origin_.programChange();
    setEditText(text);
}

void ComboBox::setBackground(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Base, colour);
    setPalette(p);
    if (lineEdit() != nullptr)
        lineEdit()->setPalette(p);
}

} // namespace lumora::platform::widgets
