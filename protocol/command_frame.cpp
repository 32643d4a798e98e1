// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/command_frame.h"

namespace lumora::protocol {

namespace {

// The command bytes are the ASCII codes of the command letters.
constexpr char kStatusRequestByte = 'R';
constexpr char kOutputSettingByte = 'T';
constexpr char kCounterResetFirst = 'C';
constexpr char kCounterResetSecond = 'A';

} // namespace

QByteArray buildFrame(Command command, const std::array<int, 4>& outputValues) {
    QByteArray frame;
    switch (command) {
    case Command::StatusRequest:
        frame.append(kStatusRequestByte);
        break;
    case Command::OutputSetting:
        frame.reserve(1 + qsizetype(outputValues.size()));
        frame.append(kOutputSettingByte);
        // A check box holds 0, 1 or 2 and goes out as one byte of that value.
        for (const int value : outputValues)
            frame.append(static_cast<char>(static_cast<unsigned char>(value)));
        break;
    case Command::CounterReset:
        frame.append(kCounterResetFirst);
        frame.append(kCounterResetSecond);
        break;
    }
    return frame;
}

} // namespace lumora::protocol
