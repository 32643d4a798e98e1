// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/unit_link.h"

#include "cli/console.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace lumora::cli {

namespace {

bool g_lookupAbandoned = false;

} // namespace

void noteAbandonedAttempt(const QTcpSocket& socket) {
    if (socket.state() == QAbstractSocket::HostLookupState)
        g_lookupAbandoned = true;
}

bool lookupStillRunning() {
    return g_lookupAbandoned;
}

QString Endpoint::text() const {
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return shownHost + u':' + QString::number(port);
}

bool UnitLink::open(int timeoutMs) {
    socket_.connectToHost(endpoint_.host, endpoint_.port);
    const bool settled = waitFor(
        [this] {
            return socket_.state() == QAbstractSocket::ConnectedState ||
                   socket_.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    if (socket_.state() == QAbstractSocket::ConnectedState)
        return true;
    fail(settled ? socket_.errorString() : QStringLiteral("no connection within ") + secondsText(timeoutMs));
    noteAbandonedAttempt(socket_);
    socket_.abort();
    return false;
}

bool UnitLink::send(const QByteArray& frame, int timeoutMs) {
    if (socket_.write(frame) != frame.size())
        return fail(socket_.errorString());
    socket_.flush();
    const bool handed = waitFor(
        [this] { return socket_.bytesToWrite() == 0 || socket_.state() != QAbstractSocket::ConnectedState; },
        timeoutMs);
    if (socket_.bytesToWrite() == 0)
        return true;
    return fail(handed ? socket_.errorString() : QStringLiteral("not sent within ") + secondsText(timeoutMs));
}

UnitLink::Collected UnitLink::collect(qsizetype size, int timeoutMs) {
    Collected got;
    waitFor(
        [&] {
            got.bytes += socket_.readAll();
            got.closedByUnit = socket_.state() != QAbstractSocket::ConnectedState;
            return got.bytes.size() >= size || got.closedByUnit;
        },
        timeoutMs);
    return got;
}

void UnitLink::close() {
    // Called once send() has handed everything over, so the FIN goes at once.
    socket_.disconnectFromHost();
}

bool UnitLink::waitFor(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(deadline.remainingTime(), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        const auto wake = [&loop] { loop.quit(); };
        QObject::connect(&socket_, &QTcpSocket::stateChanged, &loop, wake);
        QObject::connect(&socket_, &QTcpSocket::readyRead, &loop, wake);
        QObject::connect(&socket_, &QTcpSocket::bytesWritten, &loop, wake);
        QObject::connect(&socket_, &QTcpSocket::errorOccurred, &loop, wake);
        loop.exec();
    }
    return true;
}

} // namespace lumora::cli
