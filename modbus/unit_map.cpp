// SPDX-License-Identifier: GPL-3.0-or-later
#include "modbus/unit_map.h"

#include "protocol/status_reply.h"

#include <algorithm>

namespace lumora::modbus {

namespace {

namespace proto = lumora::protocol;

constexpr std::uint8_t kReadCoils = 0x01;
constexpr std::uint8_t kReadDiscreteInputs = 0x02;
constexpr std::uint8_t kReadHoldingRegisters = 0x03;
constexpr std::uint8_t kReadInputRegisters = 0x04;

// The quantities one answer can carry within the 253 bytes of a PDU.
constexpr int kMostBits = 2000;
constexpr int kMostRegisters = 125;
constexpr int kMostWrittenCoils = 1968;

// Discrete inputs and coils read 1 only for a state the unit reports as 1:
// a refused or greyed state is no "on" a client could act upon.
bool bit(QByteArrayView reply, std::uint8_t function, int address) {
    return (function == kReadDiscreteInputs ? proto::inputState(reply, address)
                                            : proto::outputState(reply, address)) == 1;
}

std::variant<Exception, Read, Write> checkRead(QByteArrayView pdu, std::uint8_t function) {
    if (pdu.size() != 5)
        return Exception::IllegalDataValue;
    const Read read{function, word(pdu, 1), word(pdu, 3)};
    const bool bits = function == kReadCoils || function == kReadDiscreteInputs;
    if (read.quantity < 1 || read.quantity > (bits ? kMostBits : kMostRegisters))
        return Exception::IllegalDataValue;
    const int size = function == kReadCoils ? proto::kOutputCount
                     : bits                 ? proto::kInputCount
                                            : kRegisterCount;
    if (read.address + read.quantity > size)
        return Exception::IllegalDataAddress;
    return read;
}

std::variant<Exception, Read, Write> checkWrite(QByteArrayView pdu, std::uint8_t function) {
    if (function == kWriteSingleCoil) {
        if (pdu.size() != 5 || (word(pdu, 3) != 0xFF00 && word(pdu, 3) != 0))
            return Exception::IllegalDataValue;
        if (word(pdu, 1) >= proto::kOutputCount)
            return Exception::IllegalDataAddress;
        const auto mask = std::uint8_t(1U << word(pdu, 1));
        return Write{mask, word(pdu, 3) != 0 ? mask : std::uint8_t(0), pdu.toByteArray()};
    }
    if (pdu.size() < 6)
        return Exception::IllegalDataValue;
    const int address = word(pdu, 1);
    const int quantity = word(pdu, 3);
    if (quantity < 1 || quantity > kMostWrittenCoils || std::uint8_t(pdu[5]) != (quantity + 7) / 8 ||
        pdu.size() != 6 + std::uint8_t(pdu[5]))
        return Exception::IllegalDataValue;
    if (address + quantity > proto::kOutputCount)
        return Exception::IllegalDataAddress;
    Write write{std::uint8_t(((1U << quantity) - 1) << address), 0, pdu.first(5).toByteArray()};
    write.values = std::uint8_t((std::uint8_t(pdu[6]) << address) & write.mask);
    return write;
}

} // namespace

qsizetype servedUnitCount(qsizetype unitCount) {
    return std::min<qsizetype>(unitCount, kMostUnitId);
}

std::optional<qsizetype> unitIndex(int unitId, qsizetype servedCount) {
    if (unitId < 1 || unitId > servedCount)
        return std::nullopt;
    return unitId - 1;
}

std::variant<Exception, Read, Write> checkRequest(QByteArrayView pdu, bool writesAllowed) {
    const auto function = std::uint8_t(pdu.front());
    switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters:
        return checkRead(pdu, function);
    case kWriteSingleCoil:
    case kWriteMultipleCoils:
        // Refused before anything else, so that a client learns that writes
        // are off, not that its request had a fault.
        if (!writesAllowed)
            return Exception::IllegalFunction;
        return checkWrite(pdu, function);
    default:
        return Exception::IllegalFunction;
    }
}

std::uint16_t inputRegister(QByteArrayView reply, int address) {
    const auto high = [](std::uint32_t value, int address) {
        return std::uint16_t(address % 2 == 0 ? value >> 16 : value & 0xFFFF);
    };
    constexpr int kTimeGaps = 2 * proto::kInputCount;
    constexpr int kInputBytes = 2 * kTimeGaps;
    constexpr int kOutputBytes = kInputBytes + proto::kInputCount;
    if (address < kTimeGaps)
        return high(proto::counterValue(reply, address / 2), address);
    if (address < kInputBytes)
        return high(proto::timeGapValue(reply, (address - kTimeGaps) / 2), address);
    if (address < kOutputBytes)
        return std::uint8_t(reply[address - kInputBytes]);
    return std::uint8_t(reply[proto::kOutputOffset + address - kOutputBytes]);
}

QByteArray readAnswer(const Read& read, QByteArrayView reply) {
    QByteArray answer(1, char(read.function));
    if (read.function == kReadCoils || read.function == kReadDiscreteInputs) {
        answer.append(char((read.quantity + 7) / 8));
        answer.append((read.quantity + 7) / 8, '\0');
        for (int k = 0; k < read.quantity; ++k)
            if (bit(reply, read.function, read.address + k))
                answer[2 + k / 8] = char(answer[2 + k / 8] | (1 << (k % 8)));
        return answer;
    }
    answer.append(char(2 * read.quantity));
    for (int k = 0; k < read.quantity; ++k) {
        const std::uint16_t value = inputRegister(reply, read.address + k);
        answer.append(char(value >> 8)).append(char(value & 0xFF));
    }
    return answer;
}

QByteArray exceptionAnswer(std::uint8_t function, Exception code) {
    return QByteArray(1, char(function | 0x80)).append(char(code));
}

} // namespace lumora::modbus
