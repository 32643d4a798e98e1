// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/send_rules.h"

namespace lumora::app {

SendPlan planSend(bool connected, bool repeating) {
    if (connected)
        return {.handOver = true};
    // A one-time send only reports the failure; Connect is the user's.
    return {.reconnect = repeating};
}

bool statusWaitAfterSend(bool waitedBefore, protocol::Command command, bool handedOver) {
    if (!handedOver)
        return waitedBefore;
    return waitedBefore || command == protocol::Command::StatusRequest;
}

} // namespace lumora::app
