// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/event_gate.h"
#include "platform/unit_connection.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace lumora::app {

// The window's TCP client socket, on the unit connection and its bounds
// (read-ahead, unsent backlog, silent peer). Its events go through the event
// gate. The program's own close() raises no close event, and nothing that the
// abandoned connection still had in flight is delivered after it. Each data
// arrival hands over the bytes that were waiting when the socket reported
// them, judged by themselves: nothing is reassembled.
class Winsock : public QObject {
    Q_OBJECT
public:
    // The socket control's state codes, by number as the window has always
    // known them: 7 is connected.
    enum class State { Closed = 0, Resolving = 4, Connecting = 6, Connected = 7, Closing = 8, Error = 9 };

    using Error = platform::UnitConnection::Error;

    static constexpr qint64 kReadBufferBytes = platform::UnitConnection::kReadBufferBytes;
    static constexpr qint64 kMaxUnsentBytes = platform::UnitConnection::kMaxUnsentBytes;
    static constexpr int kPeerSilenceLimitMs = platform::UnitConnection::kPeerSilenceLimitMs;

    explicit Winsock(platform::EventGate& gate, QObject* parent = nullptr);

    void close();
    void setRemoteHost(const QString& host) { remoteHost_ = host; }
    void setRemotePort(std::uint16_t port) { remotePort_ = port; }
    void connectToHost();
    [[nodiscard]] State state() const;
    // Hands the bytes to the connection; false when it refuses them (not
    // connected, or the unit not taking data).
    [[nodiscard]] bool sendData(const QByteArray& bytes);
    // The last failed connection attempt's.
    [[nodiscard]] Error error() const { return error_; }
    [[nodiscard]] QString errorString() const { return errorString_; }

Q_SIGNALS:
    void connected();
    // The unit closed the connection, or it broke.
    void closed();
    void dataArrival(const QByteArray& bytes);
    // A connection attempt of the program's failed (refused, unreachable,
    // host not found); errorString() says why.
    void errorOccurred(lumora::platform::UnitConnection::Error error);

private:
    // Runs an event of the connection that is current now, if it still is
    // when the event's turn comes.
    void deliver(std::function<void()> event);
    void handOverArrivedBytes();

    platform::EventGate& gate_;
    platform::UnitConnection connection_;
    QString remoteHost_;
    std::uint16_t remotePort_ = 0;
    quint64 generation_ = 0;
    bool failed_ = false;
    Error error_ = Error::NoError;
    QString errorString_;
};

} // namespace lumora::app
