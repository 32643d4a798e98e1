// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace lumora::emulator {

enum class ChaosKind { None, Split, WrongLength, NoReply, Close };

struct ChaosAction {
    ChaosKind kind = ChaosKind::None;
    int amount = 0; // split point for Split, reply length for WrongLength
};

// Decides, request by request, whether to misbehave. The sequence depends on
// the seed alone, so a soak run that found a fault can be replayed.
class ChaosPlanner {
public:
    explicit ChaosPlanner(std::uint64_t seed)
        : state_(seed) {}

    ChaosAction next();

private:
    std::uint64_t state_ = 0;
};

} // namespace lumora::emulator
