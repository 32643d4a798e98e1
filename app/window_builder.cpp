// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/window_builder.h"

#include "app/layout.h"
#include "platform/widgets/frame.h"

#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QPushButton>

namespace lumora::app {

namespace {

namespace widgets = platform::widgets;

QFont toFont(const FontStyle& design) {
    QFont font(QString::fromLatin1(design.family));
    if (design.fixedPitch) {
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
    }
    font.setPointSizeF(design.points);
    // Set even when regular: a child would otherwise inherit its frame's bold caption font.
    font.setBold(design.bold);
    return font;
}

std::optional<QColor> toColour(const std::optional<Colour>& colour) {
    if (!colour)
        return std::nullopt;
    if (const auto* system = std::get_if<widgets::SystemColour>(&*colour))
        return widgets::systemColour(*system);
    return std::get<QColor>(*colour);
}

QWidget* createControl(const ControlEntry& design, QWidget* parent) {
    switch (design.kind) {
    case Kind::Frame:
        return new widgets::Frame(design.caption, parent);
    case Kind::Label: {
        auto* label = new QLabel(design.caption, parent);
        if (design.alignment != Qt::Alignment())
            label->setAlignment(design.alignment);
        return label;
    }
    case Kind::TextBox: {
        auto* box = new widgets::TextBox(parent);
        box->setReadOnly(design.readOnly);
        if (design.typingLimit > 0)
            box->setTypingLimit(design.typingLimit);
        return box;
    }
    case Kind::Button:
        return new QPushButton(design.caption, parent);
    case Kind::Option: {
        auto* option = new widgets::OptionButton(parent);
        option->setText(design.caption);
        if (design.selected)
            option->select();
        return option;
    }
    case Kind::CheckBox: {
        auto* box = new widgets::CheckBox(parent);
        box->setText(design.caption);
        return box;
    }
    case Kind::ComboBox: {
        auto* combo = new widgets::ComboBox(parent);
        combo->addItems(design.items);
        combo->setTextByProgram(design.caption);
        return combo;
    }
    case Kind::ListBox:
        return new widgets::ListBox(parent);
    case Kind::Panel: {
        auto* panel = new QFrame(parent);
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        return panel;
    }
    case Kind::Link:
        return new widgets::LinkLabel(design.caption, parent);
    case Kind::Line: {
        auto* line = new QWidget(parent);
        line->setFixedHeight(1);
        return line;
    }
    }
    return nullptr;
}

void applyColours(const ControlEntry& design, QWidget* widget) {
    const std::optional<QColor> text = toColour(design.foreground);
    const std::optional<QColor> back = toColour(design.background);
    if (auto* frame = qobject_cast<widgets::Frame*>(widget)) {
        if (text)
            frame->setCaptionColour(*text);
        return;
    }
    if (auto* box = qobject_cast<widgets::CheckBox*>(widget)) {
        if (text && back)
            box->setColours(*text, *back);
        return;
    }
    QPalette p = widget->palette();
    if (text) {
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            p.setColor(group, QPalette::WindowText, *text);
            p.setColor(group, QPalette::Text, *text);
        }
    }
    if (back) {
        p.setColor(QPalette::Window, *back);
        widget->setAutoFillBackground(true);
    }
    widget->setPalette(p);
}

void applyAccessibleName(const ControlEntry& design, QWidget* widget) {
    if (design.accessibleName.isEmpty())
        return;
    widget->setAccessibleName(design.accessibleName);
    // On Linux a combo box reports its text as its name; the field typed into
    // carries the name there.
    if (auto* combo = qobject_cast<QComboBox*>(widget); combo != nullptr && combo->lineEdit() != nullptr)
        combo->lineEdit()->setAccessibleName(design.accessibleName);
}

} // namespace

void buildWindow(QWidget& window, WindowControls& controls) {
    window.setWindowTitle(kWindowTitle);
    window.setFont(toFont(kWindowFont));
    // The layout is fixed in place; a fixed-size window keeps it whole.
    window.setFixedSize(toPixels(kClientWidthTwips), toPixels(kClientHeightTwips));

    QHash<QString, QWidget*> containers;
    QWidget* previousFocus = nullptr;
    for (const ControlEntry& design : controlInventory()) {
        QWidget* parent = design.parent.isEmpty() ? &window : containers.value(design.parent, &window);
        QWidget* widget = createControl(design, parent);
        widget->setObjectName(design.name);
        widget->setGeometry(toPixels(design.left), toPixels(design.top), toPixels(design.width),
                            toPixels(design.height));
        widget->setFont(toFont(design.font));
        widget->setEnabled(design.enabled);
        if (design.cursor)
            widget->setCursor(*design.cursor);
        applyAccessibleName(design, widget);
        applyColours(design, widget);
        design.binding.bind(controls, widget);
        if (design.kind == Kind::Frame || design.kind == Kind::Panel)
            containers.insert(design.name, widget);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previousFocus != nullptr)
                QWidget::setTabOrder(previousFocus, widget);
            previousFocus = widget;
        }
    }
}

} // namespace lumora::app
