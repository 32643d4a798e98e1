// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/event_gate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QRadioButton>
#include <QWidget>

#include <functional>

namespace lumora::platform::widgets {

// The system colours the window refers to by name.
enum class SystemColour { ButtonFace, Menu, WindowText };
QColor systemColour(SystemColour which);

// Runs a control's change event: straight away when the program made the
// change (the program's own handler is running), through the gate when the
// user did.
class ControlEvent {
public:
    void bind(EventGate& gate, std::function<void()> handler);
    void raise(bool byProgram) const;

private:
    EventGate* gate_ = nullptr;
    std::function<void()> handler_;
};

// Check box holding 0 (unticked), 1 (ticked) or 2 (greyed). A user's click
// only ever gives 0 or 1: greyed is the program's to set. The change event
// runs on every change of value, by user or program, enabled or not.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    // What the box answers to any other value; the window's error box shows both.
    static constexpr int kRefusedValueCode = 380;
    static inline const QString kRefusedValueText = QStringLiteral("Invalid property value");

    explicit CheckBox(QWidget* parent = nullptr);

    int value() const;
    // false, and the value kept, for anything but 0, 1 and 2.
    [[nodiscard]] bool setValue(int value);

    void setColours(const QColor& text, const QColor& background);

    ControlEvent changed;

protected:
    void nextCheckState() override;

private:
    bool byProgram_ = false;
};

// Option button whose click event runs when it becomes selected, by the
// user or by the program.
class OptionButton : public QRadioButton {
    Q_OBJECT
public:
    explicit OptionButton(QWidget* parent = nullptr);
    void select();
    ControlEvent selected;

private:
    bool byProgram_ = false;
};

// Decides which typed characters reach a field: digits, '.' and backspace.
// Everything else that types a character is refused with a beep; keys that
// type nothing (arrows, Home, End, Delete, Tab) are not the filter's concern.
// Text an input method commits is typed too: its refused characters are
// dropped, one beep each.
class NumericKeyFilter : public QObject {
    Q_OBJECT
public:
    NumericKeyFilter(std::function<void()> beep, QObject* parent = nullptr);
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Filters every way a typed character reaches the field. An editable
    // combo box takes the keys itself, as the focus widget, and hands them
    // straight to its line edit, past any filter there; so both are watched.
    static void install(QWidget* field, std::function<void()> beep);

private:
    // true when the character may go through.
    static bool accepts(QChar typed);

    std::function<void()> beep_;
};

// Text box with a change event on every change of its text.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr);
    void setTextByProgram(const QString& text);
    // Typing (or pasting) beyond limit characters is refused. The limit is
    // on typing only: text the program sets is kept whole however long, and
    // such a text can be shortened but not lengthened.
    void setTypingLimit(int limit);
    ControlEvent changed;

private:
    void fitTypingLimit(qsizetype length);

    bool byProgram_ = false;
    int typingLimit_ = 0;
};

// Editable drop-down list: a change event on every change of the text, a
// click event when the user picks an item.
class ComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ComboBox(QWidget* parent = nullptr);
    void setTextByProgram(const QString& text);
    void setBackground(const QColor& colour);
    ControlEvent changed;
    ControlEvent clicked;

private:
    bool byProgram_ = false;
};

// A label that acts on a click.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    ControlEvent clicked;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A list box of one-line text rows, all of one height, one of them selected
// at a time, none editable. A change of a row's
// text only repaints it: the rows keep their places, so the view is not laid
// out again (a list view would lay out every row for each change, which a
// full log, changing all its rows on each new line, cannot afford).
class ListBox : public QListView {
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent = nullptr);

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
};

// While it lives, the user's clicks and keys reach a window only at the
// controls named reachable. An error box leaves the window open to input, so
// that a box that comes back at once cannot shut the user out; everything
// else is held back here, as a modal box would hold it.
class InputHold : public QObject {
    Q_OBJECT
public:
    InputHold(QWidget& window, QList<QWidget*> reachable);
    ~InputHold() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    QList<QWidget*> reachable_;
};

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
