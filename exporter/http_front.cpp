// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/http_front.h"

#include "exporter/exposition.h"
#include "exporter/units.h"
#include "exporter/web_config.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QList>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <algorithm>
#include <optional>
#include <utility>

namespace lumora::exporter {

namespace {

constexpr auto kHtmlContentType = "text/html; charset=utf-8";

// After a refusal, how long the client gets to read it before the connection
// is cut.
constexpr int kLingerMs = 1000;

// The methods the server knows, each with the space after it. Bytes that
// cannot begin one of them are nothing it could parse; the client is told why
// before the connection is closed.
constexpr QByteArrayView kMethods[] = {"GET ",     "HEAD ",  "POST ",    "PUT ",  "DELETE ",
                                       "OPTIONS ", "PATCH ", "CONNECT ", "TRACE "};
constexpr qsizetype kMethodBytes = 8;

constexpr auto kUnauthorized = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"lumora-7150r\", "
                               "charset=\"UTF-8\"\r\nContent-Length: 0\r\n\r\n";

bool mayStartRequest(QByteArrayView start) {
    for (QByteArrayView method : kMethods)
        if (method.startsWith(start) || start.startsWith(method))
            return true;
    return false;
}

// What a request's head tells the guard. The routes answer by the request
// line alone, so that is all the HTTP server is given.
struct RequestHead {
    QByteArray line;
    // A body follows. No route reads one, so it is never read: the request is
    // answered from its head and the connection closed.
    bool hasBody = false;
    // The client may send another request on this connection.
    bool keepAlive = true;
    // What the answer says of that, if anything: "close", or "keep-alive" to
    // an HTTP/1.0 client that asked for it.
    QByteArrayView connection;
    QByteArray authorization;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Where the head ends, after its blank line; lines may end in LF alone.
qsizetype headLength(QByteArrayView bytes) {
    for (qsizetype at = bytes.indexOf('\n'); at >= 0; at = bytes.indexOf('\n', at + 1)) {
        const QByteArrayView rest = bytes.sliced(at + 1);
        if (rest.startsWith('\n') || rest.startsWith("\r\n"))
            return at + 1 + (rest.front() == '\r' ? 2 : 1);
    }
    return -1;
}

// Empty for a request line without an HTTP/1 version (HTTP/0.9 has none) or
// a body whose length cannot be told.
std::optional<RequestHead> readHead(QByteArrayView head) {
    QList<QByteArray> lines = head.toByteArray().split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    RequestHead read;
    read.line = lines.front();
    const QList<QByteArray> words = read.line.split(' ');
    if (words.size() != 3 || words[2].size() != 8 || !words[2].startsWith("HTTP/1.") || !isDigit(words[2][7]))
        return std::nullopt;
    const bool http10 = words[2][7] == '0';
    bool close = false;
    bool keepAlive = false;
    for (const QByteArray& line : std::as_const(lines).sliced(1)) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "connection") {
            for (const QByteArray& option : value.toLower().split(',')) {
                close = close || option.trimmed() == "close";
                keepAlive = keepAlive || option.trimmed() == "keep-alive";
            }
        } else if (name == "authorization") {
            read.authorization = value;
        } else if (name == "transfer-encoding") {
            read.hasBody = true;
        } else if (name == "content-length") {
            bool number = false;
            const qint64 length = value.toLongLong(&number);
            if (!number || length < 0 || !isDigit(value.front()))
                return std::nullopt;
            read.hasBody = read.hasBody || length > 0;
        }
    }
    read.keepAlive = !read.hasBody && !close && (!http10 || keepAlive);
    read.connection = !read.keepAlive ? "close" : http10 ? "keep-alive" : "";
    return read;
}

// What the HTTP server reads and answers: the guard puts one request in at a
// time, and takes the answer out to send.
class FrontSocket : public QTcpSocket {
public:
    explicit FrontSocket(QObject* parent)
        : QTcpSocket(parent) {
        QIODevice::open(QIODevice::ReadWrite);
        setSocketState(ConnectedState);
    }

    // The server answers at once, within this call.
    [[nodiscard]] QByteArray answer(const QByteArray& request) {
        in_ = request;
        Q_EMIT readyRead();
        return std::exchange(out_, {});
    }

    qint64 bytesAvailable() const override { return in_.size() + QTcpSocket::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qsizetype size = qsizetype(std::min<qint64>(maxSize, in_.size()));
        std::copy_n(in_.constData(), size, data);
        in_.remove(0, size);
        return size;
    }
    qint64 writeData(const char* data, qint64 size) override {
        out_.append(data, qsizetype(size));
        return size;
    }

private:
    QByteArray in_;
    QByteArray out_;
};

// Holds one connection to the limits and tells its requests apart, so that
// each is bounded by itself and answered in turn, one answer out before the
// next request is read.
class Watch : public QObject {
public:
    Watch(QTcpSocket* socket, FrontSocket& front, const ConnectionLimits& limits, Passwords& passwords)
        : QObject(socket)
        , socket_(socket)
        , tls_(qobject_cast<QSslSocket*>(socket))
        , front_(front)
        , limits_(limits)
        , passwords_(passwords) {
        deadline_.setSingleShot(true);
        // A coarse timer may fire early, and a client is owed the whole time.
        deadline_.setTimerType(Qt::PreciseTimer);
        connect(&deadline_, &QTimer::timeout, socket_, &QAbstractSocket::abort);
        connect(socket_, &QIODevice::readyRead, this, &Watch::next);
        connect(socket_, &QIODevice::bytesWritten, this, &Watch::written);
        if (tls_)
            connect(tls_, &QSslSocket::encryptedBytesWritten, this, &Watch::written);
        deadline_.start(limits_.requestMs);
    }

private:
    void next() {
        // Until the TLS handshake is done, what comes is part of it.
        if (tls_ && !tls_->isEncrypted())
            return;
        // A client that sends without reading is held back by its own
        // connection: the socket takes in no more than one head.
        while (!closing_ && unsent() == 0) {
            // Blank lines may come before a request.
            char first = 0;
            while (socket_->peek(&first, 1) == 1 && (first == '\r' || first == '\n'))
                socket_->skip(1);
            const QByteArray held = socket_->peek(socket_->bytesAvailable());
            if (held.isEmpty())
                return;
            if (between_) {
                between_ = false;
                deadline_.start(limits_.requestMs);
            }
            if (!mayStartRequest(held.left(kMethodBytes)))
                return refuse("400 Bad Request");
            const qsizetype length = headLength(held);
            if (length < 0 ? held.size() > limits_.headerBytes : length > limits_.headerBytes)
                return refuse("431 Request Header Fields Too Large");
            if (length < 0) {
                if (held.contains('\n') && !readHead(held.left(held.indexOf('\n'))))
                    return refuse("400 Bad Request");
                return;
            }
            const auto head = readHead(held.left(length).trimmed());
            if (!head)
                return refuse("400 Bad Request");
            socket_->skip(length);
            // Asked of every path, so that none tells a stranger it exists.
            QByteArray answer = passwords_.allows(head->authorization) ? front_.answer(head->line + "\r\n\r\n")
                                                                        : QByteArray(kUnauthorized);
            if (answer.isEmpty())
                return refuse("400 Bad Request");
            if (!head->connection.isEmpty())
                answer.insert(answer.indexOf("\r\n") + 2, "Connection: " + head->connection.toByteArray() + "\r\n");
            socket_->write(answer);
            between_ = true;
            if (!head->keepAlive)
                close();
        }
    }

    void written() {
        // A client that reads the answer slowly is idle too.
        if (!closing_ || unsent() > 0)
            deadline_.start(limits_.idleMs);
        if (unsent() == 0)
            next();
    }

    void refuse(QByteArrayView status) {
        socket_->write("HTTP/1.1 " + status.toByteArray() + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        close();
    }

    // Closes our side only once the answer is out, so that the client's unread
    // bytes do not make the system reset the connection before it reads it.
    // What the client still sends is left unread.
    void close() {
        closing_ = true;
        socket_->flush();
        if (unsent() == 0) {
            ::shutdown(int(socket_->socketDescriptor()), SHUT_WR);
            deadline_.start(kLingerMs);
        } else {
            socket_->disconnectFromHost();
        }
    }

    // What is still to go out; over TLS, encrypted too.
    qint64 unsent() const { return socket_->bytesToWrite() + (tls_ ? tls_->encryptedBytesToWrite() : 0); }

    QTcpSocket* socket_;
    QSslSocket* tls_;
    FrontSocket& front_;
    const ConnectionLimits& limits_;
    Passwords& passwords_;
    QTimer deadline_;
    bool between_ = false; // requests: one was answered, no byte of the next yet
    bool closing_ = false;
};

// Accepts the connections, so that each one is watched from its first byte and
// their number stays bounded; the HTTP server gets a stand-in for each.
class GuardServer : public QTcpServer {
public:
    GuardServer(const ConnectionLimits& limits, Passwords& passwords, std::optional<QSslConfiguration> tls,
                QObject* parent)
        : QTcpServer(parent)
        , limits_(limits)
        , passwords_(passwords)
        , tls_(std::move(tls)) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        QTcpSocket* socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
            tls->setSslConfiguration(*tls_);
            // Setting TLS up for a connection takes a third of a millisecond:
            // hundreds that never send would hold the scrapes up, so it waits
            // for the client's first bytes. The socket then cuts a client
            // that speaks no TLS, or only an old one; the request deadline
            // below bounds a handshake that stalls.
            connect(tls, &QIODevice::readyRead, tls, &QSslSocket::startServerEncryption, Qt::SingleShotConnection);
        }
        auto* front = new FrontSocket(this);
        // One head more than the limit, to tell that it is above it.
        socket->setReadBufferSize(limits_.headerBytes + 1);
        // Hundreds of idle connections must not crowd out the scraper: the
        // newcomer is the likelier one to be a scrape.
        while (open_.size() >= limits_.maxConnections && !open_.isEmpty())
            open_.takeFirst()->abort();
        open_.append(socket);
        // Not on destroyed: the deletion waits for the loop, and until then
        // the socket would count as open and others would go in its place.
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket, front = QPointer(front)] {
            open_.removeOne(socket);
            socket->deleteLater();
            if (front) {
                front->abort();
                front->deleteLater();
            }
        });
        // Should the HTTP server drop its stand-in, the connection goes too.
        connect(front, &QObject::destroyed, socket, &QAbstractSocket::abort);
        new Watch(socket, *front, limits_, passwords_);
        addPendingConnection(front);
    }

public:
    [[nodiscard]] QStringList clients() const {
        QStringList peers;
        peers.reserve(open_.size());
        for (const QTcpSocket* socket : open_)
            peers.append(ListenAddress::text(socket->peerAddress(), socket->peerPort()));
        return peers;
    }

private:
    const ConnectionLimits& limits_;
    Passwords& passwords_;
    std::optional<QSslConfiguration> tls_;
    QList<QTcpSocket*> open_; // oldest first
};

} // namespace

struct HttpFront::Private {
    Private(const Pages& pages, ConnectionLimits limits)
        : pages(pages)
        , limits(limits) {}

    const Pages& pages;
    ConnectionLimits limits;
    std::unique_ptr<Passwords> passwords = std::make_unique<Passwords>();
    std::optional<QSslConfiguration> tls;
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

void HttpFront::setWebConfig(const WebConfig& config) {
    d_->passwords = std::make_unique<Passwords>(config.users);
    d_->tls.reset();
    if (config.tls()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(config.certificates);
        tls.setPrivateKey(config.key);
        tls.setProtocol(config.minVersion);
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        d_->tls = tls;
    }
}

bool HttpFront::listen(const QHostAddress& address, quint16 port) {
    auto* guard = new GuardServer(d_->limits, *d_->passwords, d_->tls, &d_->http);
    // Hundreds of clients may knock at once; those the system cannot queue
    // would only get in seconds later, when their handshake is retried, and
    // then be held as long again.
    guard->setListenBacklogSize(std::max(d_->limits.maxConnections, 50));
    if (!guard->listen(address, port)) {
        error_ = Error::ListenError;
        errorString_ = QStringLiteral("cannot listen on %1: %2")
                           .arg(ListenAddress::text(address, port), guard->errorString());
        delete guard;
        return false;
    }
    d_->guard = guard;
    d_->http.bind(guard);
    error_ = Error::NoError;
    errorString_.clear();
    return true;
}

quint16 HttpFront::serverPort() const {
    return d_->guard ? d_->guard->serverPort() : 0;
}

QString HttpFront::address() const {
    return d_->guard ? ListenAddress::text(d_->guard->serverAddress(), d_->guard->serverPort()) : QString();
}

QStringList HttpFront::clients() const {
    return d_->guard ? d_->guard->clients() : QStringList();
}

} // namespace lumora::exporter
