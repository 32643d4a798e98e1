// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/unit_poller.h"

namespace lumora::exporter {

UnitPoller::UnitPoller(Unit unit, PollTiming timing, QObject* parent)
    : QObject(parent)
    , unit_(std::move(unit))
    , timing_(timing) {}

UnitPoller::~UnitPoller() = default;

void UnitPoller::start() {}

void UnitPoller::stop() {}

} // namespace lumora::exporter
