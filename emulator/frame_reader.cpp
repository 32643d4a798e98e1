#include "emulator/frame_reader.h"

namespace emulator {

namespace {

// Consumed bytes are dropped from the front only now and then, so a client
// that streams many small frames does not pay a copy per frame.
constexpr qsizetype kCompactThreshold = 4096;

} // namespace

void FrameReader::append(QByteArrayView bytes) {
    if (m_start >= kCompactThreshold) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    m_buffer.append(bytes.data(), bytes.size());
}

Frame FrameReader::take(FrameKind kind, qsizetype size) {
    Frame frame{kind, m_buffer.mid(m_start, size)};
    m_start += size;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    return frame;
}

std::optional<Frame> FrameReader::next() {
    const qsizetype available = pendingBytes();
    if (available == 0) {
        return std::nullopt;
    }
    switch (m_buffer.at(m_start)) {
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
        if (m_buffer.at(m_start + 1) == kCounterResetSecond) {
            return take(FrameKind::CounterReset, kCounterResetSize);
        }
        // Only the stray 'C' is skipped: the byte after it may start a frame.
        return take(FrameKind::UnknownByte, 1);
    default:
        return take(FrameKind::UnknownByte, 1);
    }
}

} // namespace emulator
