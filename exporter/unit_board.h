// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_state.h"
#include "exporter/units.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace lumora::exporter {

// What every front of the gateway sees of the polled units, and the one thing
// a front may ask of them. Each unit is polled once, on its own connection,
// however many fronts show it. The exporter is the real board; a front's
// tests may give their own.
class UnitBoard : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The units in their order: the units file's first, then the command
    // line's. An index stays valid until unitsReplaced().
    [[nodiscard]] virtual qsizetype unitCount() const = 0;
    [[nodiscard]] virtual const Unit& unit(qsizetype index) const = 0;
    [[nodiscard]] virtual const UnitState& state(qsizetype index) const = 0;

    enum class OutputWrite {
        Sent,
        // Not up, or no reply yet: the other outputs are not known.
        UnitDown,
        // Another output last reported a value no frame may carry; nothing
        // is sent rather than a made-up value.
        RefusedValue,
    };
    // One output frame to the unit at `index`: the outputs `mask` picks (bit 0
    // for output 01) get their bit of `values`, the others stay as last set
    // through the gateway or, once a reply has shown them since, as reported.
    [[nodiscard]] virtual OutputWrite setOutputs(qsizetype index, std::uint8_t mask, std::uint8_t values) = 0;

Q_SIGNALS:
    // Every change of a unit's state: a poll's outcome, its link.
    void unitChanged(qsizetype index);
    // The list was read again: every index may stand for another unit now.
    void unitsReplaced();
};

// A way into the units besides the HTTP side. The status page lists each one
// and /metrics carries its counts.
class Front {
public:
    virtual ~Front() = default;
    // "Modbus TCP", "MQTT".
    [[nodiscard]] virtual QString frontName() const = 0;
    // Where it listens, or the broker it publishes to: "127.0.0.1:1502".
    [[nodiscard]] virtual QString address() const = 0;
    // Each client as the page shows it: "127.0.0.1:40112", or the broker's
    // link for a front that is itself the client ("connected", "retrying in 4 s").
    [[nodiscard]] virtual QStringList clients() const = 0;
    // Its own families in the text format, HELP and TYPE lines included,
    // every name starting "lumora_gateway_" or "lumora_<front>_".
    [[nodiscard]] virtual QByteArray metricsText() const = 0;
};

} // namespace lumora::exporter
