// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/frame_reader.h"

namespace lumora::emulator {

namespace {

// Consumed bytes are dropped from the front only now and then, so a client
// that streams many small frames does not pay a copy per frame.
constexpr qsizetype kCompactThreshold = 4096;

} // namespace

void FrameReader::append(QByteArrayView bytes) {
    if (start_ >= kCompactThreshold) {
        buffer_.remove(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes.data(), bytes.size());
}

Frame FrameReader::take(FrameKind kind, qsizetype size) {
    Frame frame{kind, buffer_.mid(start_, size)};
    start_ += size;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return frame;
}

std::optional<Frame> FrameReader::next() {
    const qsizetype available = pendingBytes();
    if (available == 0) {
        return std::nullopt;
    }
    switch (buffer_.at(start_)) {
    case kStatusRequestByte:
        return take(FrameKind::StatusRequest, 1);
    case kOutputSettingByte:
        if (available < kOutputSettingSize) {
            return std::nullopt;
        }
        return take(FrameKind::OutputSetting, kOutputSettingSize);
    case kCounterResetByte:
        if (available < kCounterResetSize) {
            return std::nullopt;
        }
        if (buffer_.at(start_ + 1) == kCounterResetSecond) {
            return take(FrameKind::CounterReset, kCounterResetSize);
        }
        // Only the stray 'C' is skipped: the byte after it may start a frame.
        return take(FrameKind::UnknownByte, 1);
    default:
        return take(FrameKind::UnknownByte, 1);
    }
}

} // namespace lumora::emulator
