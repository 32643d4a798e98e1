// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_state.h"
#include "exporter/units.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <span>

namespace lumora::exporter {

// A way into the units, as the page lists it.
struct FrontRow {
    QString name;    // "HTTP", "Modbus TCP", "MQTT"
    QString address; // where it listens, or the broker
    QStringList clients;
};

// The page at "/": each front with its address and clients, each unit with
// its state and the time of its last reply (UTC), and a link to the metrics.
// states[i] belongs to units[i].
[[nodiscard]] QByteArray statusPage(const QList<Unit>& units, std::span<const UnitState* const> states,
                                    std::span<const FrontRow> fronts = {});

} // namespace lumora::exporter
