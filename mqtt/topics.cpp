// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/topics.h"

#include "protocol/status_reply.h"

#include <QByteArrayList>

namespace lumora::mqtt {

namespace {

QByteArray twoDigits(int number) {
    return QByteArray::number(number).rightJustified(2, '0');
}

} // namespace

UnitValues unitValues(bool up, QByteArrayView reply) {
    UnitValues values;
    values.fill(kNoValue);
    values[kStatusSlot] = up ? 1 : 0;
    if (reply.size() != protocol::kStatusReplySize)
        return values;
    for (int i = 0; i < protocol::kInputCount; ++i) {
        const int state = protocol::inputState(reply, i);
        values[kFirstInputSlot + std::size_t(i)] = protocol::isShownState(state) ? state : kNoValue;
        values[kFirstCounterSlot + std::size_t(i)] = protocol::counterValue(reply, i);
        values[kFirstGapSlot + std::size_t(i)] = protocol::timeGapValue(reply, i);
    }
    for (int i = 0; i < protocol::kOutputCount; ++i) {
        const int state = protocol::outputState(reply, i);
        values[kFirstOutputSlot + std::size_t(i)] = protocol::isShownState(state) ? state : kNoValue;
    }
    return values;
}

QByteArray slotTopic(int slot) {
    if (slot == kStatusSlot)
        return QByteArrayLiteral("status");
    if (slot < kFirstOutputSlot)
        return "input/" + twoDigits(slot - kFirstInputSlot); // the window counts inputs from 00
    if (slot < kFirstCounterSlot)
        return "output/" + twoDigits(slot - kFirstOutputSlot + 1);
    if (slot < kFirstGapSlot)
        return "counter/" + twoDigits(slot - kFirstCounterSlot + 1);
    return "gap/" + twoDigits(slot - kFirstGapSlot + 1);
}

QByteArray slotPayload(int slot, std::int64_t value) {
    if (slot == kStatusSlot)
        return value != 0 ? QByteArrayLiteral("online") : QByteArrayLiteral("offline");
    if (slot < kFirstGapSlot)
        return QByteArray::number(value);
    // Exact from the thousandths: no floating point to round "0.005" away.
    return QByteArray::number(value / 1000) + '.' + QByteArray::number(value % 1000).rightJustified(3, '0');
}

std::optional<SetTopic> setTopic(QByteArrayView prefix, QByteArrayView topic) {
    if (!topic.startsWith(prefix) || topic.size() <= prefix.size() || topic[prefix.size()] != '/')
        return std::nullopt;
    const QByteArrayList levels = topic.sliced(prefix.size() + 1).toByteArray().split('/');
    if (levels.size() != 4 || levels[0].isEmpty() || levels[1] != "output" || levels[3] != "set")
        return std::nullopt;
    SetTopic set{levels[0], std::nullopt};
    const QByteArray& nn = levels[2];
    if (nn.size() == 2 && nn[0] == '0' && nn[1] >= '1' && nn[1] <= '4')
        set.output = nn[1] - '0';
    return set;
}

std::optional<bool> setValue(QByteArrayView payload) {
    if (payload == "0")
        return false;
    if (payload == "1")
        return true;
    return std::nullopt;
}

} // namespace lumora::mqtt
