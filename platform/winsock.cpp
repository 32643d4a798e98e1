#include "platform/winsock.h"

namespace platform {

Winsock::Winsock(EventGate& gate, QObject* parent)
    : QObject(parent)
    , gate_(gate) {}

void Winsock::Close() {
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

void Winsock::Connect() {
    Close();
    socket_ = new QTcpSocket(this);
    wire();
    socket_->connectToHost(remoteHost_, remotePort_);
}

int Winsock::State() const {
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

std::optional<QString> Winsock::SendData(const QByteArray& bytes) {
    if (socket_ == nullptr || socket_->state() != QAbstractSocket::ConnectedState)
        return QStringLiteral("Socket is not connected");
    if (socket_->write(bytes) != bytes.size())
        return socket_->errorString();
    // Hand the frame to the system now rather than at the next event-loop
    // turn, so a frame is on the wire even if the window then blocks.
    socket_->flush();
    return std::nullopt;
}

void Winsock::wire() {
    QTcpSocket* socket = socket_;
    connect(socket, &QTcpSocket::connected, this, [this] {
        everConnected_ = true;
        deliver([this] {
            if (onConnect)
                onConnect();
        });
    });
    connect(socket, &QTcpSocket::readyRead, this, &Winsock::takeArrivedBytes);
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        // Bytes that came with the close are still an arrival of their own.
        takeArrivedBytes();
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
    // A handler may sit in a modal box's event loop inside this very
    // readyRead(); the socket raises no second readyRead() for bytes that
    // come meanwhile, so they are taken, as an arrival of their own, once the
    // handler has returned.
    while (socket_ != nullptr && socket_->bytesAvailable() > 0) {
        const QByteArray bytes = socket_->readAll();
        deliver([this, bytes] {
            if (onDataArrival)
                onDataArrival(bytes);
        });
    }
}

void Winsock::deliver(std::function<void()> event) {
    const quint64 generation = generation_;
    gate_.deliver([this, generation, event = std::move(event)] {
        if (generation == generation_)
            event();
    });
}

} // namespace platform
