// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/widgets/change_origin.h"

#include <QLineEdit>

namespace lumora::platform::widgets {

// Text box that tells every change of its text.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr);
    void setTextByProgram(const QString& text);
    // Typing (or pasting) beyond limit characters is refused. The limit is
    // on typing only: text the program sets is kept whole however long, and
    // such a text can be shortened but not lengthened.
    void setTypingLimit(int limit);

Q_SIGNALS:
    void changed(bool byProgram);

private:
    void fitTypingLimit(qsizetype length);

    ChangeOrigin origin_;
    int typingLimit_ = 0;
    // The box's text as it last changed: asking the line edit for it costs
    // more than the comparison that a reply's 24 boxes make each time.
    QString shown_;
};

} // namespace lumora::platform::widgets
