// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QTcpSocket;

namespace lumora::platform {

// One TCP connection to a unit, with what every program needs against a
// unit that misbehaves:
// - arrived bytes wait in a read buffer of at most kReadBufferBytes until
//   they are taken, and TCP holds a unit that floods back meanwhile;
// - a send that would grow the unsent backlog past kMaxUnsentBytes is
//   refused, so a unit that has stopped reading does not fill memory;
// - a peer that stops acknowledging (pulled cable, lost power) ends the
//   connection, as a close, within about kPeerSilenceLimitMs.
// A name is looked up on a thread of its own that is never waited for: an
// attempt given up while the resolver still works ends at once, and so does
// the program that gave it up.
class UnitConnection : public QObject {
    Q_OBJECT
public:
    enum class State { Closed, Resolving, Connecting, Connected, Closing };
    enum class Error {
        NoError,
        HostNotFoundError,
        ConnectError,      // refused, unreachable
        NotConnectedError, // a send with no connection up
        BacklogError,      // a send past kMaxUnsentBytes
        WriteError,        // a send the socket would not take
    };
    Q_ENUM(Error)

    static constexpr qint64 kReadBufferBytes = qint64{64} * 1024;
    static constexpr qint64 kMaxUnsentBytes = qint64{64} * 1024;
    static constexpr int kPeerSilenceLimitMs = 20000;

    explicit UnitConnection(QObject* parent = nullptr);
    ~UnitConnection() override;
    UnitConnection(const UnitConnection&) = delete;
    UnitConnection& operator=(const UnitConnection&) = delete;

    // Starts an attempt, after ending the connection there was as close()
    // does. The host is an address or a name; it ends in connected() or in
    // errorOccurred().
    void open(const QString& host, std::uint16_t port);
    // The program's own close: no signal follows, and nothing more of this
    // connection or attempt arrives.
    void close();
    [[nodiscard]] State state() const;

    // Hands the bytes to the connection; false when it refuses them,
    // errorString() says why.
    [[nodiscard]] bool send(const QByteArray& bytes);
    // Bytes handed over that the system does not hold yet.
    [[nodiscard]] qint64 unsentBytes() const;
    // What has arrived and not been taken, including what came with a close.
    [[nodiscard]] QByteArray takeArrived();
    // At most `most` of them into `into`, for a caller that polls often and
    // keeps its own buffer; how many, 0 when none wait.
    [[nodiscard]] qint64 takeArrived(char* into, qint64 most);
    [[nodiscard]] Error error() const { return error_; }
    [[nodiscard]] QString errorString() const { return errorString_; }

Q_SIGNALS:
    void connected();
    // The attempt failed: refused, unreachable, host not found.
    void errorOccurred(lumora::platform::UnitConnection::Error error);
    // More bytes wait to be taken.
    void bytesArrived();
    // The system now holds every byte handed over.
    void allSent();
    // The unit closed the connection, or it broke. What came with the close
    // is still there to be taken.
    void closed(const QString& reason);

private:
    struct Lookup;

    void looked(const Lookup* lookup, const QList<QHostAddress>& addresses);
    void tryNextAddress();
    void dropSocket();
    void fail(Error error, const QString& reason);

    QTcpSocket* socket_ = nullptr;
    std::shared_ptr<Lookup> lookup_;
    QList<QHostAddress> untried_;
    std::uint16_t port_ = 0;
    bool attempting_ = false;
    Error error_ = Error::NoError;
    QString errorString_;
};

} // namespace lumora::platform
