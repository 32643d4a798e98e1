// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/winsock.h"

#include <QLoggingCategory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace lumora::platform {

namespace {

Q_LOGGING_CATEGORY(lcWinsock, "lumora.winsock")

} // namespace

// Without these a unit that vanishes mid-connection is noticed only when the
// system gives up retransmitting, about a quarter of an hour later, and an
// idle connection (a status request acknowledged but never answered) never.
// The user timeout bounds how long sent data may stay unacknowledged, the
// keep-alive probes make an idle connection send something to be
// acknowledged; together they end the connection within the limit.
void watchForSilentPeer(QAbstractSocket& socket) {
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const auto fd = static_cast<int>(socket.socketDescriptor());
    const unsigned int userTimeoutMs = Winsock::kPeerSilenceLimitMs;
    const int idleS = Winsock::kPeerSilenceLimitMs / 2000;
    const int probeIntervalS = Winsock::kPeerSilenceLimitMs / 4000;
    const int probes = 2;
    auto set = [fd](int option, const auto& value, const char* name) {
        if (::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value) != 0)
            qCWarning(lcWinsock, "cannot set %s: %s", name, qPrintable(qt_error_string(errno)));
    };
    set(TCP_USER_TIMEOUT, userTimeoutMs, "TCP_USER_TIMEOUT");
    set(TCP_KEEPIDLE, idleS, "TCP_KEEPIDLE");
    set(TCP_KEEPINTVL, probeIntervalS, "TCP_KEEPINTVL");
    set(TCP_KEEPCNT, probes, "TCP_KEEPCNT");
}

Winsock::Winsock(EventGate& gate, QObject* parent)
    : QObject(parent)
    , gate_(gate) {}

void Winsock::close() {
    ++generation_;
    failed_ = false;
    everConnected_ = false;
    if (socket_ == nullptr)
        return;
    // abort() emits disconnected() at once; the socket is cut loose first so
    // that the program's own close raises no close event.
    QTcpSocket* old = socket_;
    socket_ = nullptr;
    old->disconnect(this);
    old->abort();
    old->deleteLater();
}

void Winsock::connectToHost() {
    close();
    socket_ = new QTcpSocket(this);
    socket_->setReadBufferSize(kReadBufferBytes);
    wire();
    socket_->connectToHost(remoteHost_, remotePort_);
}

int Winsock::state() const {
    if (socket_ == nullptr)
        return kStateClosed;
    switch (socket_->state()) {
    case QAbstractSocket::HostLookupState:
        return kStateResolving;
    case QAbstractSocket::ConnectingState:
        return kStateConnecting;
    case QAbstractSocket::ConnectedState:
        return kStateConnected;
    case QAbstractSocket::ClosingState:
        return kStateClosing;
    case QAbstractSocket::UnconnectedState:
    case QAbstractSocket::BoundState:
    case QAbstractSocket::ListeningState:
        break;
    }
    return failed_ ? kStateError : kStateClosed;
}

bool Winsock::sendData(const QByteArray& bytes) {
    if (socket_ == nullptr || socket_->state() != QAbstractSocket::ConnectedState) {
        errorString_ = QStringLiteral("Socket is not connected");
        return false;
    }
    // A unit that has stopped reading would otherwise have every frame
    // queued in memory, and logged as sent, without end.
    if (socket_->bytesToWrite() + bytes.size() > kMaxUnsentBytes) {
        errorString_ = QStringLiteral("%1 bytes still unsent: the unit is not taking data")
                           .arg(socket_->bytesToWrite());
        return false;
    }
    if (socket_->write(bytes) != bytes.size()) {
        errorString_ = socket_->errorString();
        return false;
    }
    // Hand the frame to the system now rather than at the next event-loop
    // turn, so a frame is on the wire even if the window then blocks.
    socket_->flush();
    return true;
}

void Winsock::wire() {
    QTcpSocket* socket = socket_;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        everConnected_ = true;
        watchForSilentPeer(*socket);
        deliver([this] {
            if (onConnect)
                onConnect();
        });
    });
    connect(socket, &QTcpSocket::readyRead, this, &Winsock::takeArrivedBytes);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        // Bytes that came with the close are still an arrival of their own;
        // they are taken now, as no more can follow them.
        if (const QByteArray rest = socket->readAll(); !rest.isEmpty()) {
            deliver([this, rest] {
                if (onDataArrival)
                    onDataArrival(rest);
            });
        }
        deliver([this] {
            if (onClose)
                onClose();
        });
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
        // Errors of an established connection end in disconnected(); only a
        // failed attempt is reported here.
        if (everConnected_ || socket != socket_)
            return;
        if (socket->state() == QAbstractSocket::UnconnectedState && !failed_) {
            failed_ = true;
            const QString reason = socket->errorString();
            deliver([this, reason] {
                if (onConnectFailed)
                    onConnectFailed(reason);
            });
        }
    });
}

void Winsock::takeArrivedBytes() {
    // Nothing is read before the bytes' turn: while a handler runs (one that
    // waits for a box's OK included) they stay in the socket's buffer of at
    // most kReadBufferBytes, and TCP holds the unit back however long it takes.
    deliver([this] { handOverArrivedBytes(); });
}

void Winsock::handOverArrivedBytes() {
    // A handler may sit in a box's event loop inside this very
    // readyRead(); the socket raises no second readyRead() for bytes that
    // come meanwhile, so they are handed over here once it has returned.
    const quint64 generation = generation_;
    while (generation == generation_ && socket_ != nullptr && socket_->bytesAvailable() > 0) {
        const QByteArray bytes = socket_->readAll();
        if (onDataArrival)
            onDataArrival(bytes);
    }
}

void Winsock::deliver(std::function<void()> event) {
    const quint64 generation = generation_;
    gate_.deliver([this, generation, event = std::move(event)] {
        if (generation == generation_)
            event();
    });
}

} // namespace lumora::platform
