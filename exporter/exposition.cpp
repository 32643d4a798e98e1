// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/exposition.h"

namespace lumora::exporter {

Exposition::Exposition(const QList<Unit>& units)
    : units_(units) {}

Exposition::~Exposition() = default;

void Exposition::update(qsizetype index, const UnitState& state) {
    Q_UNUSED(index);
    Q_UNUSED(state);
}

QByteArray Exposition::text() const {
    return {};
}

} // namespace lumora::exporter
