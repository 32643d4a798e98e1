// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/winsock.h"

namespace lumora::app {

using platform::UnitConnection;

Winsock::Winsock(platform::EventGate& gate, QObject* parent)
    : QObject(parent)
    , gate_(gate) {
    connect(&connection_, &UnitConnection::connected, this,
            [this] { deliver([this] { Q_EMIT connected(); }); });
    // Nothing is read before the bytes' turn: while a handler runs (one that
    // waits for a box's OK included) they stay in the connection's bounded
    // read buffer, and TCP holds the unit back however long it takes.
    connect(&connection_, &UnitConnection::bytesArrived, this,
            [this] { deliver([this] { handOverArrivedBytes(); }); });
    connect(&connection_, &UnitConnection::closed, this, [this] {
        // Bytes that came with the close are still an arrival of their own;
        // they are taken now, as no more can follow them.
        if (const QByteArray rest = connection_.takeArrived(); !rest.isEmpty())
            deliver([this, rest] { Q_EMIT dataArrival(rest); });
        deliver([this] { Q_EMIT closed(); });
    });
    connect(&connection_, &UnitConnection::errorOccurred, this, [this](Error error) {
        // Said as it was when it happened, whatever a send may have said since.
        const QString reason = connection_.errorString();
        failed_ = true;
        deliver([this, error, reason] {
            error_ = error;
            errorString_ = reason;
            Q_EMIT errorOccurred(error);
        });
    });
}

void Winsock::close() {
    ++generation_;
    failed_ = false;
    connection_.close();
}

void Winsock::connectToHost() {
    close();
    connection_.open(remoteHost_, remotePort_);
}

Winsock::State Winsock::state() const {
    switch (connection_.state()) {
    case UnitConnection::State::Resolving:
        return State::Resolving;
    case UnitConnection::State::Connecting:
        return State::Connecting;
    case UnitConnection::State::Connected:
        return State::Connected;
    case UnitConnection::State::Closing:
        return State::Closing;
    case UnitConnection::State::Closed:
        break;
    }
    return failed_ ? State::Error : State::Closed;
}

bool Winsock::sendData(const QByteArray& bytes) {
    return connection_.send(bytes);
}

void Winsock::handOverArrivedBytes() {
    // A handler may sit in a box's event loop inside this very arrival; the
    // socket raises no second readyRead() for bytes that come meanwhile, so
    // they are handed over here once it has returned.
    const quint64 generation = generation_;
    while (generation == generation_) {
        const QByteArray bytes = connection_.takeArrived();
        if (bytes.isEmpty())
            return;
        Q_EMIT dataArrival(bytes);
    }
}

void Winsock::deliver(std::function<void()> event) {
    const quint64 generation = generation_;
    gate_.deliver([this, generation, event = std::move(event)] {
        if (generation == generation_)
            event();
    });
}

} // namespace lumora::app
