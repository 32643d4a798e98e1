// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_state.h"
#include "exporter/units.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <cstddef>
#include <string>
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

    // The unit at `index` (in the order given) now stands as `state`. Until
    // then it stands as a unit that has not answered yet.
    void update(qsizetype index, const UnitState& state);
    // Every family, each unit's series in the units' order.
    [[nodiscard]] QByteArray text() const;

    // The families, in the order text() writes them.
    static constexpr int kFamilyCount = 9;

private:
    struct UnitLines {
        std::string name;
        // Each family's sample lines, without its HELP and TYPE lines.
        std::array<std::string, kFamilyCount> chunks;
        // What the chunks were made from, to tell which ones a new state
        // leaves as they are.
        UnitState seen;
        bool made = false;
    };

    void setChunk(UnitLines& unit, int family, std::string lines);

    std::array<std::string, kFamilyCount> heads_;
    std::vector<UnitLines> units_;
    // Bytes of every unit's chunks, by family: a family no unit has a
    // series of is left out whole, and text() knows its size up front.
    std::array<std::size_t, kFamilyCount> familyBytes_{};
};

} // namespace lumora::exporter
