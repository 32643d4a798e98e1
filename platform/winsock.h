// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/event_gate.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <cstdint>
#include <functional>

namespace lumora::platform {

// The window's TCP client socket. Its events go through the event gate.
// The program's own close() raises no close event, and nothing that the
// abandoned connection still had in flight is delivered after it. Each data
// arrival hands over the bytes that were waiting when the socket reported
// them, judged by themselves: nothing is reassembled.
//
// What the connection holds in memory is bounded both ways: while a handler
// runs, arrived bytes stay in a read buffer of bounded size and TCP holds the
// unit back; a frame that would grow the unsent backlog past its bound is
// refused. A peer that stops acknowledging (pulled cable, lost power) ends the
// connection, with a close event, within about kPeerSilenceLimitMs.
// Makes a connected socket end, as a close, once its peer has acknowledged
// nothing for about Winsock::kPeerSilenceLimitMs.
void watchForSilentPeer(QAbstractSocket& socket);

class Winsock : public QObject {
    Q_OBJECT
public:
    static constexpr int kStateClosed = 0;
    static constexpr int kStateResolving = 4;
    static constexpr int kStateConnecting = 6;
    static constexpr int kStateConnected = 7;
    static constexpr int kStateClosing = 8;
    static constexpr int kStateError = 9;

    static constexpr qint64 kReadBufferBytes = qint64{64} * 1024;
    static constexpr qint64 kMaxUnsentBytes = qint64{64} * 1024;
    static constexpr int kPeerSilenceLimitMs = 20000;

    explicit Winsock(EventGate& gate, QObject* parent = nullptr);

    void close();
    void setRemoteHost(const QString& host) { remoteHost_ = host; }
    void setRemotePort(std::uint16_t port) { remotePort_ = port; }
    void connectToHost();
    [[nodiscard]] int state() const;
    // Hands the bytes to the connection. False when it refuses them;
    // errorString() says why.
    [[nodiscard]] bool sendData(const QByteArray& bytes);
    QString errorString() const { return errorString_; }

    std::function<void()> onConnect;
    std::function<void()> onClose;
    std::function<void(const QByteArray&)> onDataArrival;
    // A connection attempt of the program's failed (refused, unreachable,
    // host not found, timed out).
    std::function<void(const QString&)> onConnectFailed;

private:
    void wire();
    // Runs an event of the connection that is current now, if it still is
    // when the event's turn comes.
    void deliver(std::function<void()> event);
    void takeArrivedBytes();
    void handOverArrivedBytes();

    EventGate& gate_;
    QTcpSocket* socket_ = nullptr;
    QString remoteHost_;
    std::uint16_t remotePort_ = 0;
    QString errorString_;
    quint64 generation_ = 0;
    bool failed_ = false;
    bool everConnected_ = false;
};

} // namespace lumora::platform
