// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/reply_store.h"
#include "waveform/view_state.h"

#include <QWidget>

namespace lumora::waveform {

// The lanes over time, drawn from a store: wheel zooms around the pointer,
// dragging pans, and Follow keeps the newest reply in view until the user
// pans.
class SignalView : public QWidget {
    Q_OBJECT
public:
    explicit SignalView(const timeline::ReplyStore& store, QWidget* parent = nullptr);

    [[nodiscard]] const ViewState& state() const { return state_; }
    void setSpan(qint64 fromMs, qint64 toMs);
    [[nodiscard]] bool follows() const { return follow_; }
    void setFollow(bool follow);
    void setLocalTime(bool local);

public Q_SLOTS:
    void storeChanged();

Q_SIGNALS:
    void followChanged(bool follow);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const timeline::ReplyStore& store_;
    ViewState state_;
    bool follow_ = true;
};

} // namespace lumora::waveform
