// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_state.h"
#include "exporter/units.h"

#include <QByteArray>
#include <QList>

#include <span>

namespace lumora::exporter {

// The page at "/": each unit with its state and the time of its last reply
// (UTC), and a link to the metrics. states[i] belongs to units[i].
[[nodiscard]] QByteArray statusPage(const QList<Unit>& units, std::span<const UnitState* const> states);

} // namespace lumora::exporter
