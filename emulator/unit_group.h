// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "emulator/unit_server.h"

#include <QHostAddress>
#include <QString>

#include <memory>
#include <vector>

namespace lumora::emulator {

// A rack of units in one process, so a monitoring set-up can be tried
// against many without starting many programs. Unit i listens on the i-th
// port from the first and plays the input pattern of seed + i; everything
// else about how they answer is the same for all.
class UnitGroup {
public:
    UnitGroup(const Behaviour& behaviour, int units, const ElapsedClock& clock, const LineSink& sink);

    // Binds every unit or none: on failure the ones already bound are closed
    // again and failedPort() names the port that could not be had.
    [[nodiscard]] bool listen(const QHostAddress& address, quint16 firstPort);
    QString errorString() const { return errorString_; }
    quint16 failedPort() const { return failedPort_; }

    qsizetype size() const { return qsizetype(units_.size()); }
    UnitServer& unit(qsizetype index) { return *units_.at(std::size_t(index)); }
    // One line for the whole process, not one per unit.
    void report(const QString& text) const;
    void close();

private:
    std::vector<std::unique_ptr<UnitServer>> units_;
    QString errorString_;
    quint16 failedPort_ = 0;
};

// Each unit holds its listener and its clients' sockets open: lift the soft
// limit on descriptors to the hard one so a large rack is not refused early.
// Best effort; a refusal shows later as the port that could not be bound.
void raiseDescriptorLimit();

} // namespace lumora::emulator
