// SPDX-License-Identifier: GPL-3.0-or-later
#include "exporter/http_front.h"
#include "exporter/status_page.h"
#include "testsupport.h"

#include <QElapsedTimer>
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

struct Front {
    FakePages pages;
    HttpFront front;
    explicit Front(ConnectionLimits limits = {})
        : front(pages, limits) {}
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
        testsupport::columns<int, int, bool, bool>("requestMs", "idleMs", "answeredBefore", "trickle");
        QTest::newRow("request, from the connection's start") << 300 << 10000 << false << true;
        QTest::newRow("request, from its first byte after an answer") << 300 << 10000 << true << true;
        QTest::newRow("idle after an answer") << 10000 << 300 << true << false;
    }
    void deadlines() {
        QFETCH(int, requestMs);
        QFETCH(int, idleMs);
        QFETCH(bool, answeredBefore);
        QFETCH(bool, trickle);
        Front front({.requestMs = requestMs, .idleMs = idleMs});
        QVERIFY(front.listen());
        const Socket client = connected(front.port());
        QVERIFY(client);
        if (answeredBefore) {
            client->write(request("GET", "/metrics"));
            QVERIFY(answer(*client));
            if (trickle)
                QTest::qWait(500);
        }
        const QByteArray slow = request("GET", "/metrics", 200);
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
