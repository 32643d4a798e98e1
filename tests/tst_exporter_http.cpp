// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/http_front.h"
#include "exporter/status_page.h"
#include "exporter/web_config.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;
using lumora::exporter::ConnectionLimits;
using lumora::exporter::HttpFront;
using lumora::exporter::UnitState;
using lumora::exporter::WebConfig;

namespace {

const QByteArray kMetrics = "lumora_unit_up{unit=\"a\"} 1\n";
const QByteArray kPage = "<!DOCTYPE html><title>t</title>";

class FakePages : public lumora::exporter::Pages {
public:
    QByteArray metricsText() const override { return kMetrics; }
    QByteArray statusPage() const override { return kPage; }
};

using Socket = std::unique_ptr<QTcpSocket>;

Socket connected(quint16 port) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    return QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::ConnectedState; }, 5000)
               ? std::move(socket)
               : nullptr;
}

QByteArray request(const QByteArray& method, const QByteArray& path, qsizetype padding = 0) {
    return method + ' ' + path + " HTTP/1.1\r\nHost: t\r\nX-Pad: " + QByteArray(padding, 'p') + "\r\n\r\n";
}

struct Answer {
    QByteArray statusLine;
    QByteArray head;
    QByteArray body;
    QByteArray header(QByteArrayView name) const {
        for (const QByteArray& line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).compare(name, Qt::CaseInsensitive) == 0)
                return line.mid(colon + 1).trimmed();
        }
        return {};
    }
};

// One whole answer, framed by its Content-Length, and no byte of the next; none if the connection ends first or
// nothing whole comes.
std::optional<Answer> answer(QTcpSocket& socket, int ms = 5000) {
    std::optional<Answer> whole;
    std::ignore = QTest::qWaitFor(
        [&] {
            const QByteArray got = socket.peek(socket.bytesAvailable());
            const qsizetype end = got.indexOf("\r\n\r\n");
            if (end >= 0) {
                Answer a{got.left(got.indexOf("\r\n")), got.left(end), {}};
                const qsizetype length = a.header("Content-Length").toLongLong();
                if (got.size() >= end + 4 + length) {
                    whole = Answer{a.statusLine, a.head, got.mid(end + 4, length)};
                    socket.skip(end + 4 + length);
                }
            }
            return whole || socket.state() != QAbstractSocket::ConnectedState;
        },
        ms);
    return whole;
}

bool closedWithin(QTcpSocket& socket, int ms) {
    return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
}

// A throw-away certificate and key for 127.0.0.1 beside the web config written last; "ann" gets in with "right".
struct WebFiles {
    QTemporaryDir dir;
    bool made = QProcess::execute(u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                                                 u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-subj"_s,
                                                 u"/CN=127.0.0.1"_s, u"-keyout"_s, dir.filePath(u"key.pem"_s),
                                                 u"-out"_s, dir.filePath(u"cert.pem"_s)}) == 0;
    const QString path = dir.filePath(u"web.yml"_s);
    std::optional<WebConfig> load(const QByteArray& yaml, QString& why) const {
        return testsupport::writeFile(path, yaml) ? lumora::exporter::loadWebConfig(path, why) : std::nullopt;
    }
};
const QByteArray kUsers = "basic_auth_users:\n  ann: $2b$04$UuhlUi/Bx/FxfmdYXlKytuh672IneAlUIO3NK79zLWcLXc2hZpl8.\n";
const QByteArray kOk = "HTTP/1.1 200 OK";
const QByteArray kDenied = "HTTP/1.1 401 Unauthorized";
QByteArray basic(const QByteArray& pair) {
    return "Basic " + pair.toBase64();
}
const QByteArray kTls = "tls_server_config:\n  cert_file: cert.pem\n  key_file: key.pem\n  min_version: ";

struct Front {
    FakePages pages;
    HttpFront front;
    explicit Front(ConnectionLimits limits = {}, const WebConfig& web = {})
        : front(pages, limits) {
        front.setWebConfig(web);
    }
    bool listen() { return front.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return front.serverPort(); }
};

} // namespace

class tst_Exporter_http : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // contentType empty: not checked. Each request in bytes is answered alike; an open connection then takes one
    // more.
    void answers_data() {
        testsupport::columns<QByteArray, QByteArray, QByteArray, QByteArray, bool>("bytes", "statusLine",
                                                                                    "contentType", "body", "closes");
        const QByteArray ok = "HTTP/1.1 200 OK";
        const QByteArray metricsType = "text/plain; version=0.0.4; charset=utf-8";
        QTest::newRow("metrics") << request("GET", "/metrics") << ok << metricsType << kMetrics << false;
        QTest::newRow("with a query") << request("GET", "/metrics?x=1") << ok << metricsType << kMetrics << false;
        QTest::newRow("page") << request("GET", "/") << ok << "text/html; charset=utf-8"_ba << kPage << false;
        QTest::newRow("8 KiB header") << request("GET", "/metrics", 8192 - request("GET", "/metrics").size())
                                      << ok << QByteArray() << kMetrics << false;
        QTest::newRow("blank line first") << "\r\n"_ba + request("GET", "/metrics") << ok << QByteArray()
                                          << kMetrics << false;
        // Together above the header limit.
        QTest::newRow("100 pipelined") << request("GET", "/metrics", 60).repeated(100) << ok << QByteArray()
                                       << kMetrics << false;
        QTest::newRow("HTTP/1.0, LF alone") << "GET /metrics HTTP/1.0\n\n"_ba << ok << QByteArray() << kMetrics
                                            << true;
        QTest::newRow("HTTP/1.0 keep-alive") << "GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"_ba << ok
                                             << QByteArray() << kPage << false;
        QTest::newRow("Connection: close") << "GET / HTTP/1.1\r\nConnection: TE, close\r\n\r\n"_ba << ok
                                           << QByteArray() << kPage << true;
        for (const QByteArray& method : {"POST"_ba, "PUT"_ba, "DELETE"_ba, "HEAD"_ba})
            for (const QByteArray& path : {"/"_ba, "/metrics"_ba})
                QTest::addRow("%s %s", method.constData(), path.constData())
                    << request(method, path) << "HTTP/1.1 405 Method Not Allowed"_ba << QByteArray() << QByteArray()
                    << false;
        // Answered before the body, which is not read.
        QTest::newRow("POST of 1 GB") << "POST /metrics HTTP/1.1\r\nContent-Length: 1000000000\r\n\r\n"_ba +
                                             QByteArray(65536, 'x')
                                      << "HTTP/1.1 405 Method Not Allowed"_ba << QByteArray() << QByteArray() << true;
        for (const QByteArray& path : {"/metrics/"_ba, "/metricsx"_ba, "/index.html"_ba, "//metrics"_ba})
            QTest::addRow("GET %s", path.constData())
                << request("GET", path) << "HTTP/1.1 404 Not Found"_ba << QByteArray() << QByteArray() << false;
        QByteArray random(300, Qt::Uninitialized);
        for (qsizetype i = 0; i < random.size(); ++i)
            random[i] = char((i * 151 + 7) % 256);
        const QByteArray bad = "HTTP/1.1 400 Bad Request";
        QTest::newRow("random bytes") << random << bad << QByteArray() << QByteArray() << true;
        // Sent on past the answer: it is read all the same, not lost to a reset.
        QTest::newRow("random bytes, 4 MiB")
            << random.repeated(14000) << bad << QByteArray() << QByteArray() << true;
        QTest::newRow("words") << "HELLO THERE\r\n\r\n"_ba << bad << QByteArray() << QByteArray() << true;
        QTest::newRow("lower case method") << "get / HTTP/1.1\r\n\r\n"_ba << bad << QByteArray() << QByteArray()
                                           << true;
        QTest::newRow("HTTP/0.9") << "GET /metrics\r\n"_ba << bad << QByteArray() << QByteArray() << true;
        QTest::newRow("9 KiB header") << request("GET", "/metrics", 9216)
                                      << "HTTP/1.1 431 Request Header Fields Too Large"_ba << QByteArray()
                                      << QByteArray() << true;
        QTest::newRow("4 MiB header")
            << request("GET", "/metrics", 4 << 20) << "HTTP/1.1 431 Request Header Fields Too Large"_ba
            << QByteArray() << QByteArray() << true;
    }
    void answers() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, statusLine);
        QFETCH(QByteArray, contentType);
        QFETCH(bool, closes);
        Front front;
        QVERIFY2(front.listen(), qPrintable(front.front.errorString()));
        const Socket client = connected(front.port());
        QVERIFY(client);
        client->write(bytes);
        const auto got = answer(*client);
        QVERIFY(got);
        QCOMPARE(got->statusLine, statusLine);
        QCOMPARE(got->header("Allow"), statusLine.contains("405") ? "GET"_ba : QByteArray());
        if (!contentType.isEmpty())
            QCOMPARE(got->header("Content-Type"), contentType);
        QTEST(got->body, "body");
        for (qsizetype i = 1; i < bytes.count("\r\n\r\n"); ++i) {
            const auto next = answer(*client);
            QVERIFY2(next && next->statusLine == statusLine && next->body == got->body, qPrintable(QString::number(i)));
        }
        QCOMPARE(got->header("Connection") == "close", closes);
        if (closes) {
            QVERIFY(closedWithin(*client, 3000));
        } else {
            // Kept open, and each request counts its own header bytes: together the two pass the limit.
            client->write(request("GET", "/", 5000));
            const auto again = answer(*client);
            QVERIFY(again && again->body == kPage);
        }
    }

    // A request sent a byte at a time is cut requestMs after its start, and the start is its first byte when an
    // answer came before: the wait in between is idle time, which has its own limit.
    void deadlines_data() {
        testsupport::columns<int, int, bool, bool, bool>("requestMs", "idleMs", "answeredBefore", "trickle", "tls");
        QTest::newRow("request, from the connection's start") << 300 << 10000 << false << true << false;
        QTest::newRow("request, from its first byte after an answer") << 300 << 10000 << true << true << false;
        QTest::newRow("idle after an answer") << 10000 << 300 << true << false << false;
        QTest::newRow("TLS handshake never sent") << 300 << 10000 << false << false << true;
        QTest::newRow("TLS handshake a byte at a time") << 300 << 10000 << false << true << true;
    }
    void deadlines() {
        QFETCH(int, requestMs);
        QFETCH(int, idleMs);
        QFETCH(bool, answeredBefore);
        QFETCH(bool, trickle);
        QFETCH(bool, tls);
        WebFiles files;
        QString why;
        const auto web = tls ? files.load(kTls + "TLS12\n", why) : WebConfig();
        QVERIFY2(web, qPrintable(why));
        Front front({.requestMs = requestMs, .idleMs = idleMs}, *web);
        QVERIFY(front.listen());
        const Socket client = connected(front.port());
        QVERIFY(client);
        if (answeredBefore) {
            client->write(request("GET", "/metrics"));
            QVERIFY(answer(*client));
            if (trickle)
                QTest::qWait(500);
        }
        // A TLS record's head, then its 200 bytes, which the server waits for whole.
        const QByteArray slow = tls ? "\x16\x03\x01\x00\xc8"_ba + QByteArray(200, '\x01') : request("GET", "/metrics", 200);
        QElapsedTimer since;
        since.start();
        qsizetype sent = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (trickle && since.elapsed() / 50 >= sent && sent < slow.size())
                    client->write(slow.mid(sent++, 1));
                return client->state() == QAbstractSocket::UnconnectedState;
            },
            5000));
        // Half the limit: the server's clock started a little before ours, and its timer may fire a little early.
        QVERIFY2(since.elapsed() >= std::min(requestMs, idleMs) / 2, QByteArray::number(since.elapsed()));
    }

    void oldestGoesFirst() {
        Front front({.maxConnections = 4});
        QVERIFY(front.listen());
        std::vector<Socket> clients;
        for (int i = 0; i < 5; ++i) {
            clients.push_back(connected(front.port()));
            QVERIFY(clients.back());
            // Answered, so the server holds them in this order.
            clients.back()->write(request("GET", "/metrics"));
            QVERIFY2(answer(*clients.back()), qPrintable(QString::number(i)));
        }
        QVERIFY(closedWithin(*clients[0], 3000));
        QTest::qWait(100);
        for (std::size_t i = 1; i < 5; ++i)
            QVERIFY2(clients[i]->state() == QAbstractSocket::ConnectedState, qPrintable(QString::number(i)));
    }

    // More idle connections than the server keeps, and requests that never finish: a scrape on a new connection
    // is still answered, each time.
    void scrapesUnderSiege() {
        Front front({.requestMs = 2000, .idleMs = 2000, .maxConnections = 32});
        QVERIFY(front.listen());
        std::vector<Socket> siege;
        for (int i = 0; i < 50; ++i) {
            siege.push_back(connected(front.port()));
            QVERIFY(siege.back());
        }
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, this, [&] {
            for (std::size_t i = 0; i < 3; ++i)
                siege[i]->write("G");
        });
        trickle.start(100);
        for (int i = 0; i < 10; ++i) {
            const Socket scraper = connected(front.port());
            QVERIFY(scraper);
            scraper->write(request("GET", "/metrics"));
            const auto got = answer(*scraper, 2000);
            QVERIFY2(got && got->body == kMetrics, qPrintable(QString::number(i)));
        }
    }

    // minVersion: none for plain HTTP; client: the client's only TLS version, none for plain HTTP. statusLine:
    // empty when nothing may be answered. A request let in opens no door for the next one's wrong password.
    void webConfig_data() {
        testsupport::columns<QByteArray, int, QByteArray, QByteArray>("minVersion", "client", "authorization",
                                                                      "statusLine");
        const int tls12 = QSsl::TlsV1_2;
        QTest::newRow("right password") << "TLS12"_ba << tls12 << basic("ann:right") << kOk;
        QTest::newRow("no password") << "TLS12"_ba << tls12 << QByteArray() << kDenied;
        QTest::newRow("wrong password") << "TLS12"_ba << tls12 << basic("ann:wrong") << kDenied;
        QTest::newRow("user not listed") << "TLS12"_ba << tls12 << basic("bob:right") << kDenied;
        QTest::newRow("NUL after the password") << "TLS12"_ba << tls12 << basic("ann:right\0x"_ba) << kDenied;
        QTest::newRow("not base64") << "TLS12"_ba << tls12 << "Basic !!!!"_ba << kDenied;
        QTest::newRow("no colon") << "TLS12"_ba << tls12 << basic("annright") << kDenied;
        QTest::newRow("TLS 1.3 over a 1.2 floor") << "TLS12"_ba << int(QSsl::TlsV1_3) << basic("ann:right") << kOk;
        QTest::newRow("TLS 1.2 under a 1.3 floor") << "TLS13"_ba << tls12 << basic("ann:right") << QByteArray();
        QTest::newRow("plain HTTP on TLS") << "TLS12"_ba << -1 << basic("ann:right") << QByteArray();
        QTest::newRow("plain HTTP, right password") << QByteArray() << -1 << basic("ann:right") << kOk;
        QTest::newRow("plain HTTP, wrong password") << QByteArray() << -1 << basic("ann:wrong") << kDenied;
    }
    void webConfig() {
        QFETCH(QByteArray, minVersion);
        QFETCH(int, client);
        QFETCH(QByteArray, authorization);
        QFETCH(QByteArray, statusLine);
        WebFiles files;
        QString why;
        const auto web = files.load(kUsers + (minVersion.isEmpty() ? ""_ba : kTls + minVersion), why);
        QVERIFY2(files.made && web, qPrintable(why));
        Front front({}, *web);
        QVERIFY(front.listen());
        QSslSocket socket;
        socket.setProtocol(QSsl::SslProtocol(std::max(client, 0)));
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        if (client < 0)
            socket.connectToHost(QHostAddress::LocalHost, front.port());
        else
            socket.connectToHostEncrypted(u"127.0.0.1"_s, front.port());
        const QByteArray head = "GET /metrics HTTP/1.1\r\n" + (authorization.isNull() ? ""_ba : "Authorization: " + authorization + "\r\n");
        QVERIFY(socket.waitForConnected(5000));
        socket.write(head + "\r\n");
        const auto got = answer(socket);
        QCOMPARE(got ? got->statusLine : QByteArray(), statusLine);
        if (!got) {
            QVERIFY(closedWithin(socket, 3000));
            return;
        }
        QCOMPARE(got->body, statusLine == kOk ? kMetrics : QByteArray());
        QCOMPARE(got->header("WWW-Authenticate").startsWith("Basic realm="), statusLine != kOk);
        socket.write("GET / HTTP/1.1\r\nAuthorization: " + basic("ann:wrong") + "\r\n\r\n");
        const auto next = answer(socket);
        QVERIFY(next && next->statusLine == kDenied);
    }

    // The file's faults, each named by its line; never with a hash, which the file holds.
    void webConfigFaults_data() {
        testsupport::columns<QByteArray, QString>("yaml", "error");
        QTest::newRow("unknown key") << "http_server_config: {}\n"_ba
                                     << u"1: unknown key \"http_server_config\" in the file"_s;
        QTest::newRow("unknown TLS key") << kTls + "TLS12\n  client_ca_file: ca.pem\n"
                                         << u"5: unknown key \"client_ca_file\" in tls_server_config"_s;
        QTest::newRow("no key file") << "tls_server_config:\n  cert_file: cert.pem\n"_ba
                                     << u"2: tls_server_config needs both cert_file and key_file"_s;
        QTest::newRow("no cert file") << "tls_server_config:\n  cert_file: none.pem\n  key_file: key.pem\n"_ba
                                      << u"2: cannot read cert_file %1/none.pem: "_s;
        QTest::newRow("key for cert") << "tls_server_config:\n  cert_file: key.pem\n  key_file: key.pem\n"_ba
                                      << u"2: no PEM certificate in %1/key.pem"_s;
        QTest::newRow("TLS 1.1 floor") << kTls + "TLS11\n" << u"4: min_version \"TLS11\": TLS12 or TLS13"_s;
        for (const char* hash : {"$2a$04$UuhlUi/Bx/FxfmdYXlKytuh672IneAlUIO3NK79zLWcLXc2hZpl8.",
                                 "$2b$04$UuhlUi/Bx/FxfmdYXlKytuh672IneAlUIO3NK79zLWcLXc2hZpl8", "$2b$04$", "[]"})
            QTest::addRow("hash %s", hash) << kUsers + "  bob: " + hash + '\n'
                                           << u"3: the password hash of user \"bob\" is not bcrypt ($2b$ or $2y$)"_s;
        QTest::newRow("not YAML") << "basic_auth_users: [\n"_ba << u"2: end of sequence flow not found"_s;
    }
    void webConfigFaults() {
        QFETCH(QByteArray, yaml);
        QFETCH(QString, error);
        WebFiles files;
        QString why;
        QVERIFY(files.made && !files.load(yaml, why));
        QVERIFY2(why.startsWith(files.path + u':' + error.replace(u"%1"_s, files.dir.path())) && !why.contains(u"04$"_s), qPrintable(why));
    }

    void listenFailure() {
        for (const auto& [address, shown] : {std::pair{QHostAddress::LocalHost, u"127.0.0.1"_s},
                                             std::pair{QHostAddress::LocalHostIPv6, u"[::1]"_s}}) {
            QTcpServer taken;
            if (!taken.listen(address, 0))
                continue; // no IPv6 here
            FakePages pages;
            HttpFront front(pages);
            QVERIFY(!front.listen(address, taken.serverPort()));
            QCOMPARE(front.errorString(), u"cannot listen on %1:%2: The bound address is already in use"_s.arg(
                                              shown, QString::number(taken.serverPort())));
        }
    }

    // Each front's row, then each unit's, in the order given, with whatever came from outside escaped; a flood of
    // clients is told by its number.
    void statusPage() {
        const auto state = [](UnitState::Link link, bool up, const QString& problem, qint64 lastReplyMs) {
            UnitState made;
            made.link = link;
            made.up = up;
            made.problem = problem;
            made.lastReplyMs = lastReplyMs;
            made.replies = 7;
            return made;
        };
        // 1971-01-01 01:02:03.004 UTC: 365 days and 3723.004 s after the epoch.
        const qint64 stamp = 31'536'000'000 + 3'723'004;
        const UnitState states[] = {
            state(UnitState::Link::Connected, true, {}, stamp),
            state(UnitState::Link::Connected, false, u"<script>alert(\"x&y\")</script>"_s, stamp),
            state(UnitState::Link::Waiting, false, u"connection refused"_s, 0),
            state(UnitState::Link::Connecting, false, u"timeout"_s, 0)};
        const UnitState* shown[] = {&states[0], &states[1], &states[2], &states[3]};
        QStringList flood{u"<x>"_s};
        for (int i = 1; i < 22; ++i)
            flood.append(QString::number(i));
        const lumora::exporter::FrontRow fronts[] = {{u"HTTP"_s, u"127.0.0.1:1"_s, {}},
                                                     {u"MQTT"_s, u"[::1]:2"_s, flood}};
        const QString page = QString::fromUtf8(lumora::exporter::statusPage(
            {{u"up"_s, u"10.0.0.5"_s, 4000}, {u"b"_s, u"::1"_s, 1}, {u"c"_s, u"h<o>st"_s, 2}, {u"d"_s, u"h"_s, 3}},
            shown, fronts));
        QVERIFY2(page.startsWith(u"<!DOCTYPE html>\n<html lang=\"en\">"_s) && page.endsWith(u"</html>\n"_s),
                 qPrintable(page));
        QVERIFY(page.contains(u"<title>Lumora 7150R exporter</title>"_s) && page.contains(u"<a href=\"/metrics\">"_s));
        const QString when = u"<td>7</td><td>1971-01-01 01:02:03.004 UTC</td></tr>"_s;
        qsizetype at = 0;
        for (const QString& row :
             {u"<tr><td>HTTP</td><td>127.0.0.1:1</td><td>none</td></tr>"_s,
              u"<tr><td>MQTT</td><td>[::1]:2</td><td>&lt;x&gt;, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, "
              u"19 and 2 more</td></tr>"_s,
              u"<tr><td>up</td><td>10.0.0.5:4000</td><td>up</td>"_s + when,
              u"<tr><td>b</td><td>[::1]:1</td><td>down: &lt;script&gt;alert(&quot;x&amp;y&quot;)&lt;/script&gt;"
              u"</td>"_s + when,
              u"<tr><td>c</td><td>h&lt;o&gt;st:2</td><td>waiting to reconnect: connection refused</td>"
              u"<td>7</td><td>never</td></tr>"_s,
              u"<tr><td>d</td><td>h:3</td><td>connecting</td><td>7</td><td>never</td></tr>"_s}) {
            at = page.indexOf(row, at);
            QVERIFY2(at > 0, qPrintable(row + u"\n in \n"_s + page));
        }
    }
};

LUMORA_SUITE_CLASS(tst_Exporter_http);
#include "tst_exporter_http.moc"
