// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/event_gate.h"

#include <QObject>

#include <utility>

namespace lumora::platform::widgets {

// Tells the program's own changes to a control from the user's: what changes
// while a ProgramChange lives is the program's doing.
class ChangeOrigin {
public:
    class [[nodiscard]] ProgramChange {
    public:
        explicit ProgramChange(bool& flag)
            : flag_(flag)
            , previous_(std::exchange(flag, true)) {}
        ~ProgramChange() { flag_ = previous_; }
        ProgramChange(const ProgramChange&) = delete;
        ProgramChange& operator=(const ProgramChange&) = delete;

    private:
        bool& flag_;
        bool previous_;
    };

    [[nodiscard]] ProgramChange programChange() { return ProgramChange(byProgram_); }
    bool byProgram() const { return byProgram_; }

private:
    bool byProgram_ = false;
};

// Runs handler on each change a control's signal reports: at once when the
// program made it, inside the program's handler that made it and waits for
// it; through the gate when the user did, so that it waits for the running
// handler to end.
template <typename Control, typename Handler>
QMetaObject::Connection connectChange(Control* control, void (Control::*signal)(bool byProgram),
                                      const QObject* context, EventGate& gate, Handler handler) {
    return QObject::connect(control, signal, context, [&gate, handler = std::move(handler)](bool byProgram) {
        if (byProgram)
            handler();
        else
            gate.deliver(handler);
    });
}

} // namespace lumora::platform::widgets
