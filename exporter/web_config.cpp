// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/web_config.h"

#include "platform/regular_file.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <crypt.h>
#include <openssl/crypto.h>
#include <yaml-cpp/yaml.h>

#include <array>
#include <string>

using namespace Qt::StringLiterals;

namespace lumora::exporter {

namespace {

constexpr qint64 kMostConfigBytes = qint64{1024} * 1024;
constexpr qint64 kMostPemBytes = qint64{1024} * 1024;
// Headers that passed, remembered at most: one per scraper and user is
// plenty, and a client cycling through good passwords cannot grow it.
constexpr qsizetype kMostRemembered = 64;

// Thrown from deep in the file to the one place that names the file.
struct Fault {
    int line;
    QString why;
};

[[noreturn]] void fail(const YAML::Node& node, const QString& why) {
    throw Fault{node.Mark().line + 1, why};
}

QString text(const YAML::Node& node) {
    return QString::fromStdString(node.Scalar());
}

// A map's entries, each key once and from `known`. An empty value reads as
// no map at all, as an empty file does.
std::vector<std::pair<YAML::Node, YAML::Node>> entries(const YAML::Node& map, const QString& what,
                                                       const QStringList& known) {
    std::vector<std::pair<YAML::Node, YAML::Node>> result;
    if (map.IsNull())
        return result;
    if (!map.IsMap())
        fail(map, what + u" must be a map"_s);
    QSet<QString> seen;
    for (auto it = map.begin(); it != map.end(); ++it) {
        const QString key = it->first.IsScalar() ? text(it->first) : QString();
        if (!it->first.IsScalar() || (!known.isEmpty() && !known.contains(key)))
            fail(it->first, u"unknown key \"%1\" in %2"_s.arg(key, what));
        if (seen.contains(key))
            fail(it->first, u"\"%1\" given twice in %2"_s.arg(key, what));
        seen.insert(key);
        result.emplace_back(it->first, it->second);
    }
    return result;
}

QString scalar(const YAML::Node& key, const YAML::Node& value) {
    if (!value.IsScalar() || value.Scalar().empty())
        fail(key, u"%1 needs a value"_s.arg(text(key)));
    return text(value);
}

QByteArray readPem(const QString& path, const YAML::Node& key) {
    QString why;
    const std::optional<QByteArray> bytes = platform::readRegularFile(path, kMostPemBytes, why);
    if (!bytes)
        fail(key, u"cannot read %1 %2: %3"_s.arg(text(key), path, why));
    return *bytes;
}

void readTls(const YAML::Node& tls, const QDir& folder, WebConfig& config) {
    const YAML::Node* certKey = nullptr;
    const YAML::Node* keyKey = nullptr;
    const auto read = entries(tls, u"tls_server_config"_s, {u"cert_file"_s, u"key_file"_s, u"min_version"_s});
    for (const auto& [key, value] : read) {
        const QString name = text(key);
        if (name == u"min_version") {
            const QString version = scalar(key, value);
            if (version != u"TLS12" && version != u"TLS13")
                fail(key, u"min_version \"%1\": TLS12 or TLS13, the versions still safe"_s.arg(version));
            config.minVersion = version == u"TLS12" ? QSsl::TlsV1_2OrLater : QSsl::TlsV1_3OrLater;
            continue;
        }
        const QString path = folder.filePath(scalar(key, value));
        const QByteArray pem = readPem(path, key);
        if (name == u"cert_file") {
            certKey = &key;
            config.certificates = QSslCertificate::fromData(pem, QSsl::Pem);
            if (config.certificates.isEmpty())
                fail(key, u"no PEM certificate in %1"_s.arg(path));
        } else {
            keyKey = &key;
            for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec})
                if (config.key.isNull())
                    config.key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
            if (config.key.isNull())
                fail(key, u"no unencrypted RSA or EC private key in PEM in %1"_s.arg(path));
        }
    }
    if (!read.empty() && (!certKey || !keyKey))
        fail(tls, u"tls_server_config needs both cert_file and key_file"_s);
}

void readUsers(const YAML::Node& users, WebConfig& config) {
    // What crypt_r reads as bcrypt: the variant, the cost, 22 characters of
    // salt and 31 of hash.
    static const QRegularExpression bcrypt(u"^\\$2[by]\\$(0[4-9]|[12][0-9]|3[01])\\$[./A-Za-z0-9]{53}$"_s);
    for (const auto& [key, value] : entries(users, u"basic_auth_users"_s, {})) {
        const QString name = text(key);
        if (name.isEmpty() || name.contains(u':'))
            fail(key, u"a user name must be given and hold no \":\""_s);
        if (!value.IsScalar() || !bcrypt.match(text(value)).hasMatch())
            fail(key, u"the password hash of user \"%1\" is not bcrypt ($2b$ or $2y$)"_s.arg(name));
        config.users.insert(name.toUtf8(), value.Scalar().c_str());
    }
}

} // namespace

std::optional<WebConfig> loadWebConfig(const QString& path, QString& why) {
    const std::optional<QByteArray> bytes = platform::readRegularFile(path, kMostConfigBytes, why);
    if (!bytes) {
        why = u"cannot read %1: %2"_s.arg(path, why);
        return std::nullopt;
    }
    WebConfig config;
    try {
        const YAML::Node root = YAML::Load(bytes->toStdString());
        for (const auto& [key, value] : entries(root, u"the file"_s, {u"tls_server_config"_s, u"basic_auth_users"_s})) {
            if (text(key) == u"tls_server_config")
                readTls(value, QFileInfo(path).dir(), config);
            else
                readUsers(value, config);
        }
        return config;
    } catch (const YAML::Exception& e) {
        // Its message names no more than the place and the fault.
        why = u"%1:%2: %3"_s.arg(path).arg(e.mark.line + 1).arg(QString::fromStdString(e.msg));
    } catch (const Fault& fault) {
        why = u"%1:%2: %3"_s.arg(path).arg(fault.line).arg(fault.why);
    }
    return std::nullopt;
}

Passwords::Passwords(QHash<QByteArray, QByteArray> users)
    : users_(std::move(users))
    , scratch_(std::make_unique<crypt_data>()) {}

Passwords::~Passwords() = default;

bool Passwords::allows(QByteArrayView authorization) {
    if (users_.isEmpty())
        return true;
    const QByteArray digest = QCryptographicHash::hash(authorization, QCryptographicHash::Sha256);
    if (passed_.contains(digest))
        return true;
    constexpr QByteArrayView kScheme = "basic ";
    if (authorization.size() <= kScheme.size() ||
        QByteArrayView(authorization).first(kScheme.size()).compare(kScheme, Qt::CaseInsensitive) != 0)
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(authorization.sliced(kScheme.size()).trimmed().toByteArray(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (!decoded || colon < 0)
        return false;
    const auto user = users_.constFind(decoded.decoded.first(colon));
    const QByteArray password = decoded.decoded.sliced(colon + 1);
    const bool known = user != users_.constEnd();
    // A user not in the file is put through bcrypt all the same, against
    // another's hash, so that the time of the answer does not tell which
    // names exist.
    if (!matches(password, known ? *user : *users_.cbegin()) || !known)
        return false;
    if (passed_.size() >= kMostRemembered)
        passed_.clear();
    passed_.insert(digest);
    return true;
}

bool Passwords::matches(const QByteArray& password, const QByteArray& hash) {
    // crypt_r stops at a NUL: "a\0b" would pass for "a".
    if (password.contains('\0'))
        return false;
    const char* made = crypt_r(password.constData(), hash.constData(), scratch_.get());
    return made != nullptr && qstrlen(made) == std::size_t(hash.size()) &&
           CRYPTO_memcmp(made, hash.constData(), std::size_t(hash.size())) == 0;
}

} // namespace lumora::exporter
