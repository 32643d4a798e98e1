// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_board.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QThread;

namespace lumora::modbus {

// How long and how much one client may take, so that clients that misbehave
// cannot keep the others from being answered.
struct ModbusLimits {
    // A frame must be whole this long after its first byte.
    int requestMs = 5000;
    // A connection with no frame under way is closed after this long; Modbus
    // clients poll every few seconds at most.
    int idleMs = 60000;
    // Above this many, one connection is closed: one that never sent a whole
    // frame if there is such, else the one idle longest.
    int maxConnections = 256;
};

// The Modbus TCP front: answers for every unit of the board on one port, unit
// identifier k for the k-th unit, at once from the unit's last reply. Frames
// pipelined in one read are answered in order. A frame that cannot be one (a
// protocol identifier other than 0, a length below 2 or past 260 bytes in all)
// closes its connection.
//
// Its clients are served on a thread of its own: a request there wakes a loop
// that watches only the Modbus sockets, where the board's thread watches every
// unit's. It keeps a copy of each served unit's last reply, taken as the unit
// changes; only coil writes go to the board's thread, and their answers wait
// for it.
class ModbusFront : public QObject, public exporter::Front {
    Q_OBJECT
public:
    ModbusFront(exporter::UnitBoard& board, bool writesAllowed, ModbusLimits limits = {},
                QObject* parent = nullptr);
    ~ModbusFront() override;

    // Once only. On failure errorString() names the address and the reason.
    [[nodiscard]] bool listen(const QHostAddress& address, quint16 port);
    [[nodiscard]] QString errorString() const { return errorString_; }
    [[nodiscard]] quint16 serverPort() const { return port_; }

    [[nodiscard]] QString frontName() const override;
    [[nodiscard]] QString address() const override;
    [[nodiscard]] QStringList clients() const override;
    [[nodiscard]] QByteArray metricsText() const override;

private:
    struct Shared;
    class Server;
    class Client;

    void copyUnit(qsizetype index);
    void copyUnits();

    exporter::UnitBoard& board_;
    const bool writesAllowed_;
    const ModbusLimits limits_;
    std::unique_ptr<Shared> shared_;
    QThread* thread_ = nullptr;
    Server* server_ = nullptr;
    QString address_;
    quint16 port_ = 0;
    QString errorString_;
};

// What serve says at start of units past the last unit identifier; none when
// every unit has one.
[[nodiscard]] std::optional<QString> unitsBeyondNote(qsizetype unitCount);

} // namespace lumora::modbus
