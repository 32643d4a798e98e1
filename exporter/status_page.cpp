// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/status_page.h"

namespace lumora::exporter {

QByteArray statusPage(const QList<Unit>& units, std::span<const UnitState* const> states) {
    Q_UNUSED(units);
    Q_UNUSED(states);
    return {};
}

} // namespace lumora::exporter
