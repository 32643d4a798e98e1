// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <cstdint>
#include <optional>
#include <variant>

namespace lumora::modbus {

// Unit identifiers 1 to 247 stand for the units in their order; 0 and the
// identifiers above are left unanswered for units.
inline constexpr int kMostUnitId = 247;
// Input registers per unit: counters, time gaps, input bytes, output bytes.
inline constexpr int kRegisterCount = 64;

inline constexpr std::uint8_t kWriteSingleCoil = 0x05;
inline constexpr std::uint8_t kWriteMultipleCoils = 0x0F;

// A big-endian 16-bit field of a frame or PDU at `at`.
[[nodiscard]] inline std::uint16_t word(QByteArrayView bytes, qsizetype at) {
    return std::uint16_t((std::uint8_t(bytes[at]) << 8) | std::uint8_t(bytes[at + 1]));
}

enum class Exception : std::uint8_t {
    IllegalFunction = 0x01,
    IllegalDataAddress = 0x02,
    IllegalDataValue = 0x03,
    DeviceFailure = 0x04,
    PathUnavailable = 0x0A,
    TargetNoResponse = 0x0B,
};

// How many of `unitCount` units have a unit identifier.
[[nodiscard]] qsizetype servedUnitCount(qsizetype unitCount);
// The unit a unit identifier stands for among `servedCount` served units; none
// where no unit has that identifier.
[[nodiscard]] std::optional<qsizetype> unitIndex(int unitId, qsizetype servedCount);

// A read of discrete inputs, coils or registers, answered from a unit's reply.
struct Read {
    std::uint8_t function = 0;
    std::uint16_t address = 0;
    std::uint16_t quantity = 0;
};
// Outputs to set (bit 0 for output 01) and the answer once the frame is out.
struct Write {
    std::uint8_t mask = 0;
    std::uint8_t values = 0;
    QByteArray answer;
};

// A request's PDU checked without looking at the unit: what it asks, or the
// exception it gets whatever state the unit is in.
[[nodiscard]] std::variant<Exception, Read, Write> checkRequest(QByteArrayView pdu, bool writesAllowed);

// The answer's PDU to a checked read, from a reply of kStatusReplySize bytes.
[[nodiscard]] QByteArray readAnswer(const Read& read, QByteArrayView reply);
[[nodiscard]] QByteArray exceptionAnswer(std::uint8_t function, Exception code);

// One input register (0 to kRegisterCount - 1) of a reply.
[[nodiscard]] std::uint16_t inputRegister(QByteArrayView reply, int address);

} // namespace lumora::modbus
