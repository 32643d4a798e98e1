// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveform/picture.h"

#include <QPainter>

namespace lumora::waveform {

void paintSignals(QPainter& painter, const QRect& rect, const timeline::ReplyStore& store,
                  const ViewState& state) {
    Q_UNUSED(store);
    Q_UNUSED(state);
    painter.fillRect(rect, Qt::white);
}

bool exportRange(const QString& path, const timeline::ReplyStore& store, const ViewState& state, QSize size,
                 QString* error) {
    Q_UNUSED(path);
    Q_UNUSED(store);
    Q_UNUSED(state);
    Q_UNUSED(size);
    if (error)
        *error = QStringLiteral("not written yet");
    return false;
}

} // namespace lumora::waveform
