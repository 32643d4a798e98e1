// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/unit_group.h"

#include <sys/resource.h>

namespace lumora::emulator {

UnitGroup::UnitGroup(const Behaviour& behaviour, int units, const ElapsedClock& clock, const LineSink& sink) {
    units_.reserve(std::size_t(units));
    for (int index = 0; index < units; ++index) {
        Behaviour own = behaviour;
        own.seed = behaviour.seed + std::uint64_t(index); // wraps like any seed arithmetic
        units_.push_back(std::make_unique<UnitServer>(own, clock));
        QObject::connect(units_.back().get(), &UnitServer::lineReported, units_.back().get(), sink);
    }
}

bool UnitGroup::listen(const QHostAddress& address, quint16 firstPort) {
    for (std::size_t index = 0; index < units_.size(); ++index) {
        const auto port = quint16(firstPort + index);
        if (!units_[index]->listen(address, port)) {
            errorString_ = units_[index]->errorString();
            failedPort_ = port;
            close();
            return false;
        }
    }
    return true;
}

void UnitGroup::report(const QString& text) const {
    if (!units_.empty()) {
        units_.front()->report(text);
    }
}

void UnitGroup::close() {
    for (const std::unique_ptr<UnitServer>& unit : units_) {
        unit->close();
    }
}

void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        (void)::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace lumora::emulator
