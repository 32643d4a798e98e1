// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <array>

namespace lumora::protocol {

// The index of the command option group decides the command.
enum class Command { StatusRequest = 0, OutputSetting = 1, CounterReset = 2 };

// One command frame: the command byte(s) and nothing else (no length, no
// checksum, no terminator). For OutputSetting the four output values follow
// 0x54, each as one byte equal to the value.
[[nodiscard]] QByteArray buildFrame(Command command, const std::array<int, 4>& outputValues);

} // namespace lumora::protocol
