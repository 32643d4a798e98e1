#pragma once

#include "platform/event_gate.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

// The window's TCP client socket. Its events go through the event gate.
// The program's own Close raises no close event, and nothing that the
// abandoned connection still had in flight is delivered after it. Each data
// arrival hands over the bytes that were waiting when the socket reported
// them, judged by themselves: nothing is reassembled.
class Winsock : public QObject {
    Q_OBJECT
public:
    static constexpr int kStateClosed = 0;
    static constexpr int kStateResolving = 4;
    static constexpr int kStateConnecting = 6;
    static constexpr int kStateConnected = 7;
    static constexpr int kStateClosing = 8;
    static constexpr int kStateError = 9;

    explicit Winsock(EventGate& gate, QObject* parent = nullptr);

    void Close();
    void SetRemoteHost(const QString& host) { remoteHost_ = host; }
    void SetRemotePort(std::uint16_t port) { remotePort_ = port; }
    void Connect();
    int State() const;
    // Hands the bytes to the connection; gives the reason when it refuses.
    std::optional<QString> SendData(const QByteArray& bytes);

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

    EventGate& gate_;
    QTcpSocket* socket_ = nullptr;
    QString remoteHost_;
    std::uint16_t remotePort_ = 0;
    quint64 generation_ = 0;
    bool failed_ = false;
    bool everConnected_ = false;
};

} // namespace platform
