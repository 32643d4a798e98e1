// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace lumora::exporter {

// What the front serves; it asks at each request and never waits.
struct WebConfig;

class Pages {
public:
    virtual ~Pages() = default;
    // GET /metrics, in Prometheus' text format.
    [[nodiscard]] virtual QByteArray metricsText() const = 0;
    // GET /, a small HTML page.
    [[nodiscard]] virtual QByteArray statusPage() const = 0;
};

// How long and how much one HTTP connection may take before it is closed, so
// that clients that misbehave cannot starve the scrapes of others.
struct ConnectionLimits {
    // A request must be whole this long after the connection opened, or
    // after its first byte once an earlier request was answered.
    int requestMs = 5000;
    // A kept-alive connection may wait this long for its next request.
    int idleMs = 15000;
    // A request head (its line and headers) above this many bytes is
    // answered 431 and the connection closed; so are bytes that start no
    // request, or a request line without HTTP/1.x, with 400. Each pipelined
    // request is held to it by itself.
    qint64 headerBytes = 8192;
    // Above this many, the connection that has been open longest is closed.
    int maxConnections = 512;
};

// The exporter's HTTP side: GET /metrics and GET /, 404 for other paths, 405
// (with "Allow: GET") for other methods on these two, HEAD included. Every
// answer is made at once from what the pages hold, on the caller's thread.
// Pipelined requests are answered in turn. The connection is closed after an
// answer to "Connection: close", to HTTP/1.0 without keep-alive, and to a
// request with a body: no route reads one, so it is answered from its head
// and its body never read.
class HttpFront : public QObject {
    Q_OBJECT
public:
    enum class Error { NoError, ListenError };
    Q_ENUM(Error)

    explicit HttpFront(const Pages& pages, ConnectionLimits limits = {}, QObject* parent = nullptr);
    ~HttpFront() override;

    // Before listen(): TLS and passwords, as --web-config gives them. A
    // request without a password the config lets in is answered 401 with
    // WWW-Authenticate, whatever its path.
    void setWebConfig(const WebConfig& config);

    // Once only. On failure errorString() names the address and the reason,
    // as "cannot listen on 127.0.0.1:17150: The bound address is already in use".
    [[nodiscard]] bool listen(const QHostAddress& address, quint16 port);
    [[nodiscard]] Error error() const { return error_; }
    [[nodiscard]] QString errorString() const { return errorString_; }
    // Where it listens, once listen() succeeded (the port chosen for 0).
    [[nodiscard]] quint16 serverPort() const;
    // "127.0.0.1:17150" once listening, and each open connection's peer, oldest first.
    [[nodiscard]] QString address() const;
    [[nodiscard]] QStringList clients() const;

private:
    struct Private;
    std::unique_ptr<Private> d_;
    Error error_ = Error::NoError;
    QString errorString_;
};

} // namespace lumora::exporter
