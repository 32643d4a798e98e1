// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QWidget;

namespace lumora::platform::widgets {

// Decides which typed characters reach a field: digits, '.' and backspace.
// Everything else that types a character is refused; keys that type nothing
// (arrows, Home, End, Delete, Tab) are not the filter's concern. Text an
// input method commits is typed too: its refused characters are dropped,
// each one told on its own.
class NumericKeyFilter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Filters every way a typed character reaches the field. An editable
    // combo box takes the keys itself, as the focus widget, and hands them
    // straight to its line edit, past any filter there; so both are watched.
    // The filter belongs to the field.
    static NumericKeyFilter* install(QWidget* field);

Q_SIGNALS:
    // Once for each character refused.
    void refused();

private:
    // true when the character may go through.
    static bool accepts(QChar typed);
};

} // namespace lumora::platform::widgets
