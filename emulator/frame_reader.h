// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace lumora::emulator {

inline constexpr char kStatusRequestByte = 0x52;   // 'R'
inline constexpr char kOutputSettingByte = 0x54;   // 'T'
inline constexpr char kCounterResetByte = 0x43;    // 'C'
inline constexpr char kCounterResetSecond = 0x41;  // 'A'
inline constexpr qsizetype kOutputSettingSize = 5; // 'T' and four output bytes
inline constexpr qsizetype kCounterResetSize = 2;

enum class FrameKind { StatusRequest, OutputSetting, CounterReset, UnknownByte };

struct Frame {
    FrameKind kind = FrameKind::UnknownByte;
    QByteArray bytes;
};

// Cuts the byte stream of one client into command frames. Frames carry no
// delimiter or length, so only the first byte tells how many follow; a frame
// that has not fully arrived waits for the next read.
class FrameReader {
public:
    void append(QByteArrayView bytes);
    std::optional<Frame> next();
    qsizetype pendingBytes() const { return buffer_.size() - start_; }

private:
    Frame take(FrameKind kind, qsizetype size);

    QByteArray buffer_;
    qsizetype start_ = 0;
};

} // namespace lumora::emulator
