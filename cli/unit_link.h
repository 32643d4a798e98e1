// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

#include <cstdint>
#include <functional>

namespace lumora::cli {

struct Endpoint {
    QString host; // passed to the socket as typed, as the window does
    std::uint16_t port = 0;
    // "127.0.0.1:4000", "[::1]:4000"
    QString text() const;
};

// Qt waits for every name lookup it started when the application object
// goes, and a lookup given up at the timeout may take the resolver's own time
// (ten seconds and more) to end. Connection attempts given up while still
// looking up a name are noted here, so the program can end without that wait.
void noteAbandonedAttempt(const QTcpSocket& socket);
bool lookupStillRunning();

// One connection to the unit for a single command: connect, send, collect a
// reply. Each step waits in an event loop of its own for at most the time it
// is given, so a name lookup or a silent unit never holds the program longer.
class UnitLink {
public:
    explicit UnitLink(Endpoint endpoint)
        : endpoint_(std::move(endpoint)) {}

    // False when no connection was made in time.
    [[nodiscard]] bool open(int timeoutMs);
    // Returns once the system holds every byte; false when it does not.
    [[nodiscard]] bool send(const QByteArray& frame, int timeoutMs);
    // Why the last open() or send() failed.
    QString errorString() const { return error_; }

    struct Collected {
        QByteArray bytes;
        bool closedByUnit = false;
    };
    // Bytes until at least `size` came, the unit closed, or time ran out.
    Collected collect(qsizetype size, int timeoutMs);
    void close();

private:
    bool waitFor(const std::function<bool()>& done, int timeoutMs);
    bool fail(const QString& reason) {
        error_ = reason;
        return false;
    }

    Endpoint endpoint_;
    QTcpSocket socket_;
    QString error_;
};

} // namespace lumora::cli
