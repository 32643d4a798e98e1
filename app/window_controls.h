// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/widgets/check_box.h"
#include "platform/widgets/combo_box.h"
#include "platform/widgets/link_label.h"
#include "platform/widgets/list_box.h"
#include "platform/widgets/option_button.h"
#include "platform/widgets/text_box.h"

#include <QLabel>
#include <QPushButton>

#include <array>
#include <functional>

namespace lumora::app {

// The controls the window's handlers work with, by the names the program has
// always given them. The builder fills them in as it makes them.
struct WindowControls {
    platform::widgets::TextBox* txtDestIP = nullptr;
    platform::widgets::TextBox* txtDestPort = nullptr;
    QPushButton* cmdConnect = nullptr;
    QPushButton* cmdDisconnect = nullptr;
    QPushButton* cmdPingStart = nullptr;
    QPushButton* cmdPingStop = nullptr;
    std::array<platform::widgets::OptionButton*, 2> optInterval{};
    std::array<QLabel*, 2> lblTime{};
    platform::widgets::ComboBox* cboTime = nullptr;
    std::array<platform::widgets::OptionButton*, 2> optLog{};
    std::array<platform::widgets::OptionButton*, 3> optCommand{};
    QPushButton* cmdSend = nullptr;
    QPushButton* cmdEnd = nullptr;
    QPushButton* cmdClear = nullptr;
    std::array<platform::widgets::CheckBox*, 12> chkDIValue{};
    std::array<platform::widgets::CheckBox*, 4> chkDOValue{};
    std::array<platform::widgets::TextBox*, 12> txtCounter{};
    std::array<platform::widgets::TextBox*, 12> txtTimegap{};
    platform::widgets::ListBox* List1 = nullptr;
    platform::widgets::LinkLabel* Label11 = nullptr;
};

// Where the builder puts a control it has made: one of the window's controls
// or an element of one of its arrays. The controls the handlers never touch
// (frames, captions) have none.
class ControlBinding {
public:
    ControlBinding() = default;
    template <typename W>
    ControlBinding(W* WindowControls::*member)
        : bind_([member](WindowControls& controls, QWidget* made) { controls.*member = as<W>(made); }) {}
    template <typename W, std::size_t N>
    ControlBinding(std::array<W*, N> WindowControls::*array, int index)
        : bind_([array, index](WindowControls& controls, QWidget* made) {
            (controls.*array).at(static_cast<std::size_t>(index)) = as<W>(made);
        }) {}

    void bind(WindowControls& controls, QWidget* made) const {
        if (bind_)
            bind_(controls, made);
    }

private:
    // A binding of another kind than the control made for it is a fault in the
    // layout, found the first time the window is made.
    template <typename W> static W* as(QWidget* made) {
        auto* typed = qobject_cast<W*>(made);
        if (typed == nullptr)
            qFatal("control %s made of the wrong kind", qPrintable(made->objectName()));
        return typed;
    }

    std::function<void(WindowControls&, QWidget*)> bind_;
};

} // namespace lumora::app
