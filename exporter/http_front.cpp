// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/http_front.h"

#include "exporter/exposition.h"
#include "exporter/units.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <algorithm>

namespace lumora::exporter {

namespace {

constexpr auto kHtmlContentType = "text/html; charset=utf-8";

// After a refusal, how long the client gets to read it before the connection
// is cut.
constexpr int kLingerMs = 1000;

// The methods the server knows, each with the space after it. Bytes that
// cannot begin one of them are nothing it could parse, and it would drop the
// connection without a word; the client is told why first.
constexpr QByteArrayView kMethods[] = {"GET ",     "HEAD ",  "POST ",    "PUT ",  "DELETE ",
                                       "OPTIONS ", "PATCH ", "CONNECT ", "TRACE "};
constexpr qsizetype kMethodBytes = 8;

bool mayStartRequest(QByteArrayView start) {
    for (QByteArrayView method : kMethods)
        if (method.startsWith(start) || start.startsWith(method))
            return true;
    return false;
}

// Holds one connection to the limits. Its slots are connected before the HTTP
// server's own, so on each read it sees the new bytes before the parser does
// and can refuse them first.
class Watch : public QObject {
public:
    Watch(QTcpSocket* socket, const ConnectionLimits& limits)
        : QObject(socket)
        , socket_(socket)
        , limits_(limits) {
        deadline_.setSingleShot(true);
        // A coarse timer may fire early, and a client is owed the whole time.
        deadline_.setTimerType(Qt::PreciseTimer);
        connect(&deadline_, &QTimer::timeout, socket_, &QAbstractSocket::abort);
        connect(socket_, &QIODevice::readyRead, this, &Watch::read);
        connect(socket_, &QIODevice::bytesWritten, this, &Watch::written);
        deadline_.start(limits_.requestMs);
    }

private:
    void read() {
        if (refused_) {
            socket_->readAll();
            return;
        }
        const qint64 fresh = socket_->bytesAvailable();
        if (fresh <= 0)
            return;
        if (requestBytes_ == 0 && answered_) {
            answered_ = false;
            deadline_.start(limits_.requestMs);
        }
        requestBytes_ += fresh;
        if (requestBytes_ > limits_.headerBytes) {
            refuse("431 Request Header Fields Too Large");
            return;
        }
        if (start_.size() < kMethodBytes) {
            start_ += socket_->peek(kMethodBytes - start_.size());
            // Blank lines may come before a request.
            while (!start_.isEmpty() && (start_.front() == '\r' || start_.front() == '\n'))
                start_.remove(0, 1);
            if (!mayStartRequest(start_))
                refuse("400 Bad Request");
        }
    }

    void written() {
        if (refused_)
            return;
        // A client that reads the answer slowly is idle too.
        deadline_.start(limits_.idleMs);
        if (socket_->bytesToWrite() == 0) {
            requestBytes_ = 0;
            start_.clear();
            answered_ = true;
        }
    }

    // Answers on its own, keeps the parser from seeing any more bytes, and
    // closes our side only once the answer is out, so that the client's unread
    // bytes do not make the system reset the connection before it reads why.
    void refuse(QByteArrayView status) {
        refused_ = true;
        socket_->readAll();
        socket_->write("HTTP/1.1 " + status.toByteArray() +
                       "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket_->flush();
        if (socket_->bytesToWrite() == 0)
            ::shutdown(int(socket_->socketDescriptor()), SHUT_WR);
        else
            socket_->disconnectFromHost();
        deadline_.start(kLingerMs);
    }

    QTcpSocket* socket_;
    const ConnectionLimits& limits_;
    QTimer deadline_;
    qint64 requestBytes_ = 0; // since the last answer
    QByteArray start_;        // the current request's first bytes
    bool answered_ = false;   // and no byte of the next request yet
    bool refused_ = false;
};

// Accepts the connections the HTTP server then reads, so that each one is
// watched from its first byte and their number stays bounded.
class GuardServer : public QTcpServer {
public:
    GuardServer(const ConnectionLimits& limits, QObject* parent)
        : QTcpServer(parent)
        , limits_(limits) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        // Hundreds of idle connections must not crowd out the scraper: the
        // newcomer is the likelier one to be a scrape.
        while (open_.size() >= limits_.maxConnections && !open_.isEmpty())
            open_.takeFirst()->abort();
        open_.append(socket);
        // Not on destroyed: the deletion waits for the loop, and until then
        // the socket would count as open and others would go in its place.
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            open_.removeOne(socket);
            socket->deleteLater();
        });
        new Watch(socket, limits_);
        addPendingConnection(socket);
    }

private:
    const ConnectionLimits& limits_;
    QList<QTcpSocket*> open_; // oldest first
};

} // namespace

struct HttpFront::Private {
    Private(const Pages& pages, ConnectionLimits limits)
        : pages(pages)
        , limits(limits) {}

    const Pages& pages;
    ConnectionLimits limits;
    QHttpServer http;
    GuardServer* guard = nullptr;

    QHttpServerResponse answer(const QHttpServerRequest& request, const char* contentType,
                               QByteArray (Pages::*page)() const) const {
        // Not HEAD: the server would send the body with it.
        if (request.method() != QHttpServerRequest::Method::Get) {
            QHttpServerResponse refusal(QHttpServerResponder::StatusCode::MethodNotAllowed);
            refusal.setHeader("Allow", "GET");
            return refusal;
        }
        return {contentType, (pages.*page)()};
    }
};

HttpFront::HttpFront(const Pages& pages, ConnectionLimits limits, QObject* parent)
    : QObject(parent)
    , d_(std::make_unique<Private>(pages, limits)) {
    Private* d = d_.get();
    d->http.route(QStringLiteral("/metrics"), [d](const QHttpServerRequest& request) {
        return d->answer(request, kMetricsContentType, &Pages::metricsText);
    });
    d->http.route(QStringLiteral("/"), [d](const QHttpServerRequest& request) {
        return d->answer(request, kHtmlContentType, &Pages::statusPage);
    });
}

HttpFront::~HttpFront() = default;

bool HttpFront::listen(const QHostAddress& address, quint16 port) {
    auto* guard = new GuardServer(d_->limits, &d_->http);
    // Hundreds of clients may knock at once; those the system cannot queue
    // would only get in seconds later, when their handshake is retried, and
    // then be held as long again.
    guard->setListenBacklogSize(std::max(d_->limits.maxConnections, 50));
    if (!guard->listen(address, port)) {
        error_ = QStringLiteral("cannot listen on %1: %2").arg(ListenAddress::text(address, port), guard->errorString());
        delete guard;
        return false;
    }
    d_->guard = guard;
    d_->http.bind(guard);
    error_.clear();
    return true;
}

quint16 HttpFront::serverPort() const {
    return d_->guard ? d_->guard->serverPort() : 0;
}

} // namespace lumora::exporter
