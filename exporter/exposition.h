// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_state.h"
#include "exporter/units.h"

#include <QByteArray>
#include <QList>

#include <vector>

namespace lumora::exporter {

inline constexpr auto kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// The units' metrics in Prometheus' text format, kept ready: each unit's
// lines are made when its state changes, so a scrape only joins them and never
// waits on a unit. Series a unit cannot tell (no reply yet, a state number
// the window refuses) are left out.
class Exposition {
public:
    explicit Exposition(const QList<Unit>& units);
    ~Exposition();
    Exposition(const Exposition&) = delete;
    Exposition& operator=(const Exposition&) = delete;

    // The unit at `index` (in the order given) now stands as `state`.
    void update(qsizetype index, const UnitState& state);
    // Every family, each unit's series in the units' order.
    [[nodiscard]] QByteArray text() const;

private:
    QList<Unit> units_;
};

} // namespace lumora::exporter
