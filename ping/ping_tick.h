// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/icmp_service.h"

#include <QString>

namespace lumora::ping {

inline constexpr int kEchoTtl = 255;
inline constexpr int kEchoTimeoutMs = 2700;
inline constexpr int kHostNameMax = 64;

// "a.b.c.d"
[[nodiscard]] QString dottedText(platform::Ipv4 address);

// One tick of the ping test: resolves the address text (trimmed, cut to 64
// characters), sends one echo request and returns the line to log. Blocks.
[[nodiscard]] QString runTick(const QString& addressText, platform::IcmpService& icmp);

} // namespace lumora::ping
