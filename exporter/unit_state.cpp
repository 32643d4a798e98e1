// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/unit_state.h"

#include "protocol/status_reply.h"

#include <algorithm>

namespace lumora::exporter {

QString failureReason(PollFailure failure) {
    switch (failure) {
    case PollFailure::Connect:
        return QStringLiteral("connect");
    case PollFailure::Timeout:
        return QStringLiteral("timeout");
    case PollFailure::Length:
        return QStringLiteral("length");
    case PollFailure::Closed:
        return QStringLiteral("closed");
    case PollFailure::RefusedValue:
        return QStringLiteral("refused_value");
    }
    return {};
}

void PollDurations::add(double seconds) {
    const auto bound = std::lower_bound(kBounds.begin(), kBounds.end(), seconds);
    ++counts[static_cast<std::size_t>(bound - kBounds.begin())];
    sumSeconds += seconds;
    ++count;
}

} // namespace lumora::exporter
