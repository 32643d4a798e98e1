// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/sample.h"

namespace lumora::timeline {

namespace {

Level levelOf(int state) {
    return protocol::isShownState(state) ? Level(state) : Level::Refused;
}

} // namespace

Sample sampleOf(qint64 ms, QByteArrayView reply) {
    Sample sample;
    sample.ms = ms;
    for (int k = 0; k < protocol::kInputCount; ++k) {
        sample.setLane(k, levelOf(protocol::inputState(reply, k)));
        sample.counters.at(k) = protocol::counterValue(reply, k);
        sample.gaps.at(k) = protocol::timeGapValue(reply, k);
    }
    for (int k = 0; k < protocol::kOutputCount; ++k)
        sample.setLane(protocol::kInputCount + k, levelOf(protocol::outputState(reply, k)));
    return sample;
}

QString laneName(int lane) {
    return lane < protocol::kInputCount
               ? QStringLiteral("DI") + protocol::channelText(lane)
               : QStringLiteral("DO") + protocol::channelText(lane - protocol::kInputCount + 1);
}

} // namespace lumora::timeline
