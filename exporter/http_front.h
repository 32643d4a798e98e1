// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

namespace lumora::exporter {

// What the front serves; it asks at each request and never waits.
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
    // A request above this many bytes (its header, and any body) is answered
    // 431 and the connection closed; so are bytes that start no request,
    // with 400.
    qint64 headerBytes = 8192;
    // Above this many, the connection that has been open longest is closed.
    int maxConnections = 512;
};

// The exporter's HTTP side: GET /metrics and GET /, 404 for other paths, 405
// (with "Allow: GET") for other methods on these two, HEAD included. Every
// answer is made at once from what the pages hold, on the caller's thread.
class HttpFront : public QObject {
    Q_OBJECT
public:
    explicit HttpFront(const Pages& pages, ConnectionLimits limits = {}, QObject* parent = nullptr);
    ~HttpFront() override;

    // Once only. On failure errorString() names the address and the reason,
    // as "cannot listen on 127.0.0.1:17150: The bound address is already in use".
    [[nodiscard]] bool listen(const QHostAddress& address, quint16 port);
    [[nodiscard]] QString errorString() const { return error_; }
    // Where it listens, once listen() succeeded (the port chosen for 0).
    [[nodiscard]] quint16 serverPort() const;

private:
    struct Private;
    std::unique_ptr<Private> d_;
    QString error_;
};

} // namespace lumora::exporter
