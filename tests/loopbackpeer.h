// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The unit's end on loopback: keeps every connection and all that arrives, answers on the latest one.

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>

namespace testsupport {

struct LoopbackPeer : QObject {
    QTcpServer server;
    QList<QTcpSocket*> links;
    QByteArray received;
    static constexpr int kLinkWaitMs = 10000;

    LoopbackPeer() {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* link = server.nextPendingConnection()) {
                links.append(link);
                connect(link, &QTcpSocket::readyRead, this, [this, link] { received += link->readAll(); });
            }
        });
    }
    bool listen(quint16 port = 0) { return server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return server.serverPort(); }
    int live() const {
        return static_cast<int>(std::count_if(links.begin(), links.end(), [](const QTcpSocket* link) {
            return link->state() == QAbstractSocket::ConnectedState;
        }));
    }
    // The window may report its connection before the server has taken it.
    QTcpSocket* link() {
        return QTest::qWaitFor([this] { return !links.isEmpty(); }, kLinkWaitMs) ? links.last() : nullptr;
    }
    bool send(const QByteArray& bytes) {
        QTcpSocket* to = link();
        return to != nullptr && to->write(bytes) == bytes.size() && to->flush();
    }
};

} // namespace testsupport
