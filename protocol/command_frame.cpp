#include "protocol/command_frame.h"

namespace lumora::protocol {

namespace {

// The command bytes are the ASCII codes of the command letters.
constexpr char kStatusRequestByte = 'R';
constexpr char kOutputSettingByte = 'T';
constexpr char kCounterResetFirst = 'C';
constexpr char kCounterResetSecond = 'A';

constexpr char kHexDigits[] = "0123456789ABCDEF";

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

QString hexText(QByteArrayView bytes) {
    constexpr qsizetype kCharsPerByte = 3;
    QString text;
    text.reserve(bytes.size() * kCharsPerByte);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text.append(QLatin1Char(kHexDigits[byte >> 4]));
        text.append(QLatin1Char(kHexDigits[byte & 0x0F]));
        text.append(QLatin1Char(' '));
    }
    return text;
}

} // namespace lumora::protocol