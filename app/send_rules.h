// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/command_frame.h"

#include <QString>

namespace lumora::app {

// The window's own rules on top of the connection, kept apart from its
// widgets and its socket so that each can be checked by itself.

// What one run of the send operation does with the connection it finds.
struct SendPlan {
    bool handOver = false;  // connected: the frame goes out
    bool reconnect = false; // not connected while repeating: the next tick finds a new connection
};
[[nodiscard]] SendPlan planSend(bool connected, bool repeating);

// The status-wait flag after a frame was handed over (or refused): a status
// request that went out is awaited until data arrives or the connection
// closes; a refused frame sent nothing, so it leaves the flag as it was.
[[nodiscard]] bool statusWaitAfterSend(bool waitedBefore, protocol::Command command, bool handedOver);

// Repeated sending waits for the awaited reply: a tick sends only when none is.
[[nodiscard]] constexpr bool tickSends(bool statusWait) {
    return !statusWait;
}

// The connection's event lines, as they follow the time stamp.
namespace event_line {
inline const QString kConnected = QStringLiteral(" Socket Connected!!");
inline const QString kClosed = QStringLiteral(" Socket Closed!!");
inline const QString kConnectFail = QStringLiteral(" Socket Connect Fail!! ");
inline const QString kInvalidPort = QStringLiteral(" Socket Connect Fail!! Invalid Port No : ");
inline const QString kSend = QStringLiteral(" SEND : ");
inline const QString kSendFail = QStringLiteral(" Socket Closed... Send Fail!!");
inline const QString kReconnecting = QStringLiteral(" Socket Reconnecting.......");
} // namespace event_line

} // namespace lumora::app
