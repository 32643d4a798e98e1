// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/text_box.h"

#include <algorithm>

namespace lumora::platform::widgets {

TextBox::TextBox(QWidget* parent)
    : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        shown_ = text;
        fitTypingLimit(text.size());
        Q_EMIT changed(origin_.byProgram());
    });
}

void TextBox::setTextByProgram(const QString& text) {
    // The same text again is no change: no event, and no repaint of the box.
    if (text == shown_)
        return;
    fitTypingLimit(text.size());
    const auto change = origin_.programChange();
    setText(text);
}

void TextBox::setTypingLimit(int limit) {
    typingLimit_ = limit;
    fitTypingLimit(text().size());
}

// The box's own maximum length cuts any longer text it is given, so it is
// raised to the length of a longer text and back to the limit as that text
// is shortened.
void TextBox::fitTypingLimit(qsizetype length) {
    if (typingLimit_ <= 0)
        return;
    const int allowed = std::max(typingLimit_, static_cast<int>(length));
    if (allowed == maxLength())
        return;
    // A new maximum puts the cursor at the end; the user's edit keeps it.
    const int cursor = cursorPosition();
    setMaxLength(allowed);
    setCursorPosition(cursor);
}

} // namespace lumora::platform::widgets
