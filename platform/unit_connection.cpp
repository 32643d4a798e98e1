// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/unit_connection.h"

#include <QLoggingCategory>
#include <QTcpSocket>
#include <QUrl>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <utility>

namespace lumora::platform {

namespace {

Q_LOGGING_CATEGORY(lcConnection, "lumora.connection")

// Without these a unit that vanishes mid-connection is noticed only when the
// system gives up retransmitting, about a quarter of an hour later, and an
// idle connection (a status request acknowledged but never answered) never.
// The user timeout bounds how long sent data may stay unacknowledged, the
// keep-alive probes make an idle connection send something to be
// acknowledged; together they end the connection within the limit.
void watchForSilentPeer(QAbstractSocket& socket) {
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // Every frame goes out as it is handed over. Otherwise a status request
    // right after an output setting, which the unit does not answer, waits
    // for the unit's delayed acknowledgement: 40 ms on Linux.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const auto fd = static_cast<int>(socket.socketDescriptor());
    const unsigned int userTimeoutMs = UnitConnection::kPeerSilenceLimitMs;
    const int idleS = UnitConnection::kPeerSilenceLimitMs / 2000;
    const int probeIntervalS = UnitConnection::kPeerSilenceLimitMs / 4000;
    const int probes = 2;
    auto set = [fd](int option, const auto& value, const char* name) {
        if (::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value) != 0)
            qCWarning(lcConnection, "cannot set %s: %s", name, qPrintable(qt_error_string(errno)));
    };
    set(TCP_USER_TIMEOUT, userTimeoutMs, "TCP_USER_TIMEOUT");
    set(TCP_KEEPIDLE, idleS, "TCP_KEEPIDLE");
    set(TCP_KEEPINTVL, probeIntervalS, "TCP_KEEPINTVL");
    set(TCP_KEEPCNT, probes, "TCP_KEEPCNT");
}

// The system's resolver, as the socket would ask it; every address once, in
// its order. Nothing when the name is unknown or the lookup failed.
QList<QHostAddress> resolve(const QByteArray& name) {
    QList<QHostAddress> addresses;
    if (name.isEmpty())
        return addresses;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.constData(), nullptr, &hints, &found) != 0)
        return addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        const QHostAddress address(entry->ai_addr);
        if (!address.isNull() && !addresses.contains(address))
            addresses.append(address);
    }
    ::freeaddrinfo(found);
    return addresses;
}

} // namespace

// Shared by the connection and its lookup thread. The owner is cleared,
// under the lock, when the attempt is given up or the connection goes, so
// the thread never posts to an object that no longer exists.
struct UnitConnection::Lookup {
    std::mutex mutex;
    UnitConnection* owner = nullptr;
};

UnitConnection::UnitConnection(QObject* parent)
    : QObject(parent) {}

UnitConnection::~UnitConnection() {
    close();
}

void UnitConnection::open(const QString& host, std::uint16_t port) {
    close();
    port_ = port;
    QHostAddress address;
    if (address.setAddress(host)) {
        untried_ = {address};
        tryNextAddress();
        return;
    }
    // Qt's own lookup would be waited for when the application object goes,
    // for as long as the resolver takes (ten seconds and more); this thread
    // is not, and a lookup given up simply ends unheard.
    auto lookup = std::make_shared<Lookup>();
    lookup->owner = this;
    lookup_ = lookup;
    std::thread([lookup, name = QUrl::toAce(host)] {
        const QList<QHostAddress> addresses = resolve(name);
        const std::lock_guard guard(lookup->mutex);
        if (UnitConnection* owner = lookup->owner) {
            QMetaObject::invokeMethod(
                owner, [owner, lookup, addresses] { owner->looked(lookup.get(), addresses); },
                Qt::QueuedConnection);
        }
    }).detach();
}

void UnitConnection::looked(const Lookup* lookup, const QList<QHostAddress>& addresses) {
    if (lookup != lookup_.get())
        return;
    lookup_.reset();
    if (addresses.isEmpty()) {
        // The socket's own words for it, whatever the resolver said.
        fail(Error::HostNotFoundError, QStringLiteral("Host not found"));
        Q_EMIT errorOccurred(error_);
        return;
    }
    untried_ = addresses;
    tryNextAddress();
}

void UnitConnection::tryNextAddress() {
    dropSocket();
    auto* socket = new QTcpSocket(this);
    socket_ = socket;
    socket->setReadBufferSize(kReadBufferBytes);
    attempting_ = true;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        attempting_ = false;
        untried_.clear();
        watchForSilentPeer(*socket);
        Q_EMIT connected();
    });
    connect(socket, &QTcpSocket::readyRead, this, &UnitConnection::bytesArrived);
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
        if (socket->bytesToWrite() == 0)
            Q_EMIT allSent();
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        // Bytes that came with the close stay in the socket, to be taken.
        Q_EMIT closed(socket->errorString());
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
        // Errors of an established connection end in disconnected(); only a
        // failed attempt is handled here, once.
        if (socket != socket_ || !attempting_ || socket->state() != QAbstractSocket::UnconnectedState)
            return;
        attempting_ = false;
        if (!untried_.isEmpty()) {
            tryNextAddress();
            return;
        }
        fail(Error::ConnectError, socket->errorString());
        Q_EMIT errorOccurred(error_);
    });
    socket->connectToHost(untried_.takeFirst(), port_);
}

void UnitConnection::close() {
    if (lookup_) {
        const std::lock_guard guard(lookup_->mutex);
        lookup_->owner = nullptr;
    }
    lookup_.reset();
    untried_.clear();
    attempting_ = false;
    dropSocket();
}

void UnitConnection::dropSocket() {
    if (socket_ == nullptr)
        return;
    // abort() emits disconnected() at once; the socket is cut loose first so
    // that the program's own close raises nothing.
    QTcpSocket* old = std::exchange(socket_, nullptr);
    old->disconnect(this);
    old->abort();
    old->deleteLater();
}

UnitConnection::State UnitConnection::state() const {
    if (lookup_)
        return State::Resolving;
    if (socket_ == nullptr)
        return State::Closed;
    switch (socket_->state()) {
    case QAbstractSocket::HostLookupState:
        return State::Resolving;
    case QAbstractSocket::ConnectingState:
        return State::Connecting;
    case QAbstractSocket::ConnectedState:
        return State::Connected;
    case QAbstractSocket::ClosingState:
        return State::Closing;
    case QAbstractSocket::UnconnectedState:
    case QAbstractSocket::BoundState:
    case QAbstractSocket::ListeningState:
        break;
    }
    return State::Closed;
}

bool UnitConnection::send(const QByteArray& bytes) {
    if (state() != State::Connected) {
        fail(Error::NotConnectedError, QStringLiteral("Socket is not connected"));
        return false;
    }
    // A unit that has stopped reading would otherwise have every frame
    // queued in memory without end.
    if (socket_->bytesToWrite() + bytes.size() > kMaxUnsentBytes) {
        fail(Error::BacklogError, QStringLiteral("%1 bytes still unsent: the unit is not taking data")
                                      .arg(socket_->bytesToWrite()));
        return false;
    }
    if (socket_->write(bytes) != bytes.size()) {
        fail(Error::WriteError, socket_->errorString());
        return false;
    }
    // Hand the bytes to the system now rather than at the next event-loop
    // turn, so they are on the wire even if the program then blocks.
    socket_->flush();
    return true;
}

void UnitConnection::fail(Error error, const QString& reason) {
    error_ = error;
    errorString_ = reason;
}

qint64 UnitConnection::unsentBytes() const {
    return socket_ == nullptr ? 0 : socket_->bytesToWrite();
}

QByteArray UnitConnection::takeArrived() {
    return socket_ == nullptr ? QByteArray() : socket_->readAll();
}

qint64 UnitConnection::takeArrived(char* into, qint64 most) {
    return socket_ == nullptr ? 0 : std::max<qint64>(socket_->read(into, most), 0);
}

} // namespace lumora::platform
