// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exporter/unit_board.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <list>
#include <optional>

class QTcpServer;

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
class ModbusFront : public QObject, public exporter::Front {
    Q_OBJECT
public:
    ModbusFront(exporter::UnitBoard& board, bool writesAllowed, ModbusLimits limits = {},
                QObject* parent = nullptr);
    ~ModbusFront() override;

    // Once only. On failure errorString() names the address and the reason.
    [[nodiscard]] bool listen(const QHostAddress& address, quint16 port);
    [[nodiscard]] QString errorString() const { return errorString_; }
    [[nodiscard]] quint16 serverPort() const;

    [[nodiscard]] QString frontName() const override;
    [[nodiscard]] QString address() const override;
    [[nodiscard]] QStringList clients() const override;
    [[nodiscard]] QByteArray metricsText() const override;

private:
    class Client;
    enum class Closed : std::uint8_t { BadFrame, Deadline, Idle, Crowded, ByClient };
    static constexpr int kClosedKinds = 5;

    void accept();
    void drop(Client* client, Closed why);
    // The answer to one whole frame, MBAP header included.
    [[nodiscard]] QByteArray answer(QByteArrayView frame);
    void answered(Client* client);

    exporter::UnitBoard& board_;
    const bool writesAllowed_;
    const ModbusLimits limits_;
    QTcpServer* server_ = nullptr;
    QString errorString_;
    // Connections that have not had a frame answered yet, oldest first, and
    // the others, the one answered longest ago first.
    std::list<Client*> fresh_;
    std::list<Client*> working_;
    // Answers by exception code, 0 for none.
    std::array<std::uint64_t, 256> answers_{};
    std::uint64_t writesRefused_ = 0;
    std::array<std::uint64_t, kClosedKinds> closed_{};
};

// What serve says at start of units past the last unit identifier; none when
// every unit has one.
[[nodiscard]] std::optional<QString> unitsBeyondNote(qsizetype unitCount);

} // namespace lumora::modbus
