// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/http_front.h"

namespace lumora::exporter {

struct HttpFront::Private {
    const Pages& pages;
    ConnectionLimits limits;
};

HttpFront::HttpFront(const Pages& pages, ConnectionLimits limits, QObject* parent)
    : QObject(parent)
    , d_(std::make_unique<Private>(Private{pages, limits})) {}

HttpFront::~HttpFront() = default;

bool HttpFront::listen(const QHostAddress& address, quint16 port) {
    Q_UNUSED(address);
    Q_UNUSED(port);
    error_ = QStringLiteral("not yet");
    return false;
}

quint16 HttpFront::serverPort() const {
    return 0;
}

} // namespace lumora::exporter
