// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The bundled unit emulator. It deliberately shares no code with the client:
// it reads frames, builds replies and writes hex text its own way and
// includes nothing outside emulator/ and Qt, so that a fault in the client's
// protocol code cannot hide behind the same fault in the unit it is tested
// against. Keep it that way.

#include "emulator/chaos.h"
#include "emulator/unit_simulation.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <cstdint>
#include <functional>
#include <optional>

namespace lumora::emulator {

inline constexpr int kDefaultSplitDelayMs = 50;

// How the unit answers, including the ways it can be told to misbehave.
struct Behaviour {
    std::uint64_t seed = kDefaultSeed;
    bool quiet = false;                      // no line per frame
    int splitAt = 0;                         // 0: each reply in one write
    int splitDelayMs = kDefaultSplitDelayMs; // pause between the two parts of a split reply
    bool noReply = false;                    // status requests go unanswered
    int replyBytes = int(kStatusReplySize);  // reply length, zero-padded beyond the real reply
    int closeAfterFrames = 0;                // 0: never close a client
    std::optional<std::uint64_t> chaosSeed{}; // random misbehaviour when set
    bool badInput = false;                   // input 00 of every reply is 05, which a client refuses
    bool flood = false;                      // after the first reply, zero bytes without end
    bool neverRead = false;                  // frames are never read; the receive buffer stays small
    Wiring wiring{};                         // outputs wired to inputs, pulsed inputs
};

// Milliseconds since the unit started; the input pattern is a function of it.
class ElapsedClock {
public:
    virtual ~ElapsedClock() = default;
    [[nodiscard]] virtual std::int64_t elapsedMs() const = 0;
};
// The system's: from the moment it is made.
class SinceStartClock final : public ElapsedClock {
public:
    SinceStartClock() { timer_.start(); }
    [[nodiscard]] std::int64_t elapsedMs() const override { return timer_.elapsed(); }

private:
    QElapsedTimer timer_;
};
// Receives each output line of a group of units, without line end.
using LineSink = std::function<void(const QString&)>;

class ClientSession;

// The unit on the network: one shared simulated state, any number of clients.
class UnitServer : public QObject {
    Q_OBJECT
public:
    // The clock outlives the unit.
    UnitServer(const Behaviour& behaviour, const ElapsedClock& clock, QObject* parent = nullptr);
    ~UnitServer() override;

    // Prints the start-up line with the port actually bound (useful with port 0).
    [[nodiscard]] bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return listener_.errorString(); }
    quint16 serverPort() const { return listener_.serverPort(); }
    // Prints a time-stamped line.
    void report(const QString& text);
    void close();

Q_SIGNALS:
    // Each output line, without line end.
    void lineReported(const QString& line);

private:
    friend class ClientSession;

    void accept();

    Behaviour behaviour_;
    const ElapsedClock& clock_;
    UnitSimulation unit_;
    std::optional<ChaosPlanner> chaos_;
    QTcpServer listener_;
};

} // namespace lumora::emulator
