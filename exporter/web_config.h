// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSsl>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <memory>
#include <optional>

struct crypt_data;

namespace lumora::exporter {

// What --web-config asks of the HTTP side, in the YAML that Prometheus'
// exporters share: TLS, and the users let in with their bcrypt hashes.
struct WebConfig {
    // TLS when a key is given: the chain, the server's own certificate first.
    QList<QSslCertificate> certificates;
    QSslKey key;
    QSsl::SslProtocol minVersion = QSsl::TlsV1_2OrLater;
    // Name to bcrypt hash; empty: no password asked.
    QHash<QByteArray, QByteArray> users;

    [[nodiscard]] bool tls() const { return !key.isNull(); }
};

// The file's faults name it, the line and the key, never a hash: the file
// holds them and the message may go to a shared log. Relative certificate and
// key paths are taken from the file's folder.
[[nodiscard]] std::optional<WebConfig> loadWebConfig(const QString& path, QString& why);

// Tells whether an Authorization header lets its sender in. bcrypt costs
// milliseconds by design, so a header that passed once is remembered (as a
// digest, not the password) and a scraper asking every second pays it once.
class Passwords {
public:
    explicit Passwords(QHash<QByteArray, QByteArray> users = {});
    ~Passwords();
    Passwords(const Passwords&) = delete;
    Passwords& operator=(const Passwords&) = delete;

    // No users: everyone is let in.
    [[nodiscard]] bool asked() const { return !users_.isEmpty(); }
    // authorization: the header's value as sent, empty when there was none.
    [[nodiscard]] bool allows(QByteArrayView authorization);

private:
    [[nodiscard]] bool matches(const QByteArray& password, const QByteArray& hash);

    QHash<QByteArray, QByteArray> users_;
    QSet<QByteArray> passed_; // digests of headers that passed
    std::unique_ptr<crypt_data> scratch_;
};

} // namespace lumora::exporter
