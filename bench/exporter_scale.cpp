// SPDX-License-Identifier: GPL-3.0-or-later
// The exporter at scale: N emulated units in one emulator process, one
// `lumora-7150r-cli serve` polling them all at 1 s, and a scraper fetching
// /metrics once a second as Prometheus would. Prints the exporter's CPU share
// of one core, its resident memory, every unit's poll period and the scrape
// time.
//
// With --hostile, tools/hostile-http.py then attacks the same exporter while
// it scrapes, and a row tells how the scrapes fared.
//
// --interval polls faster or slower than 1 s, to find the unit rate (units
// per second) at which poll periods and scrapes stop holding.
//
// With --gateway, serve also runs its Modbus TCP and MQTT fronts: a private
// mosquitto broker on a free loopback port, one Modbus client reading units
// 1 to 247 (all, when fewer) once a second, input registers 0 to 63, one read
// after the other, and mosquitto_sub on lumora/#. Rows: the read's median and
// longest time, and how long after the unit changed an input the subscriber
// heard of it, the change's moment worked out from the unit's seeded input
// pattern (on the emulator's clock, taken from its start, so each figure is
// over rather than under by at most the emulator's start-up).
//
// With --station, the units change as a test station's do: inputs 00 to 09
// wired to outputs that stay off, input 10 a 0.5 Hz square wave, input 11 at
// 2 Hz; the emulator's own pattern moves about half of every unit's inputs
// between two polls, and most of its counters and gaps with them.
//
// LUMORA_EVENT_DISPATCHER=qt in the environment runs serve on Qt's own event
// loop, to compare.
//
//   lumora-bench-exporter [--units N] [--seconds S] [--interval S] [--hostile tools/hostile-http.py] [--gateway [--station]]

#include "bench_support.h"
#include "emulator/unit_simulation.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <unistd.h>

namespace {

constexpr int kFreshSeconds = 60;   // for every unit to answer once
constexpr int kScrapeEveryMs = 1000;
constexpr double kMsPerS = 1000.0;
constexpr double kMiB = 1024.0 * 1024.0;

struct Options {
    int units = 1000;
    int seconds = 60;
    double interval = 1.0;
    QString hostile;
    bool gateway = false;
    // Units as a test station's: inputs 00 to 09 wired to outputs that stay
    // off, input 10 a 0.5 Hz square wave, input 11 2 Hz (faster than the poll
    // sees: its counter moves, its level seldom does).
    bool station = false;
};

Options readOptions(const QStringList& arguments) {
    Options options;
    options.gateway = arguments.contains(QStringLiteral("--gateway"));
    options.station = arguments.contains(QStringLiteral("--station"));
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == u"--units")
            options.units = arguments.at(i + 1).toInt();
        else if (arguments.at(i) == u"--seconds")
            options.seconds = arguments.at(i + 1).toInt();
        else if (arguments.at(i) == u"--interval")
            options.interval = arguments.at(i + 1).toDouble();
        else if (arguments.at(i) == u"--hostile")
            options.hostile = arguments.at(i + 1);
    }
    return options;
}

// CPU seconds a process has used, from /proc/PID/stat.
double processCpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    constexpr int kUtime = 11; // utime and stime are fields 14 and 15 of the whole line
    if (fields.size() <= kUtime + 1)
        return 0;
    return (fields.at(kUtime).toDouble() + fields.at(kUtime + 1).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// A "VmRSS:" or "VmHWM:" line of /proc/PID/status, in bytes.
double processMemory(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpression line(QStringLiteral("%1:\\s+(\\d+) kB").arg(QLatin1String(field)));
    return line.match(QString::fromLatin1(status.readAll())).captured(1).toDouble() * 1024;
}

struct Scrape {
    QByteArray body;
    double ms = 0;
};

std::optional<Scrape> scrape(QNetworkAccessManager& network, quint16 port) {
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)));
    QElapsedTimer clock;
    clock.start();
    QNetworkReply* reply = network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    Scrape result{reply->readAll(), double(clock.nsecsElapsed()) / 1e6};
    const bool ok = reply->isFinished() && reply->error() == QNetworkReply::NoError;
    reply->deleteLater();
    if (!ok)
        return std::nullopt;
    return result;
}

// One value per unit of a family without other labels: unit -> value.
QHash<QString, double> perUnit(const QByteArray& body, const char* family) {
    QHash<QString, double> values;
    const QByteArray prefix = QByteArray(family) + "{unit=\"";
    for (const QByteArray& line : body.split('\n')) {
        if (!line.startsWith(prefix))
            continue;
        const qsizetype close = line.indexOf("\"}", prefix.size());
        if (close < 0)
            continue;
        values.insert(QString::fromUtf8(line.mid(prefix.size(), close - prefix.size())),
                      line.mid(close + 3).toDouble());
    }
    return values;
}

qsizetype unitsUp(const QByteArray& body) {
    const QHash<QString, double> up = perUnit(body, "lumora_unit_up");
    return std::count_if(up.begin(), up.end(), [](double v) { return v == 1.0; });
}

QString fixed(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

// A loopback port no one holds now.
quint16 freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

double medianOf(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

namespace emulator = lumora::emulator;

// Reads input registers 0 to 63 of units 1 to N once a round, one read after the other, on one connection.
class ModbusReader : public QObject {
public:
    ModbusReader(quint16 port, int units) : units_(std::min(units, kLastUnitId)) {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        connect(&socket_, &QTcpSocket::readyRead, this, [this] { take(); });
        connect(&round_, &QTimer::timeout, this, [this] {
            if (unit_ == 0)
                next();
        });
        round_.start(kScrapeEveryMs);
    }
    std::vector<double> readMs;
    int failures = 0;

private:
    static constexpr int kLastUnitId = 247;
    static constexpr int kRegisters = 64;
    static constexpr qsizetype kReplyBytes = 7 + 2 + 2 * kRegisters;

    void next() {
        if (unit_ == units_) {
            unit_ = 0;
            return;
        }
        ++unit_;
        ++transaction_;
        // MBAP: transaction, protocol 0, length of what follows, unit id; then function 4, address, count.
        const char request[] = {char(transaction_ >> 8), char(transaction_), 0, 0, 0, 6, char(unit_), 4, 0, 0,
                                0, char(kRegisters)};
        clock_.start();
        socket_.write(request, sizeof request);
    }
    void take() {
        arrived_ += socket_.readAll();
        // The MBAP header's length counts what follows its first six bytes.
        while (arrived_.size() >= 8) {
            const qsizetype whole = 6 + ((qsizetype(quint8(arrived_.at(4))) << 8) | quint8(arrived_.at(5)));
            if (arrived_.size() < whole)
                return;
            const bool ours = quint8(arrived_.at(0)) == quint8(transaction_ >> 8) &&
                              quint8(arrived_.at(1)) == quint8(transaction_);
            if (ours && whole == kReplyBytes && arrived_.at(7) == 4)
                readMs.push_back(double(clock_.nsecsElapsed()) / 1e6);
            else
                ++failures;
            arrived_.remove(0, whole);
            next();
        }
    }

    QTcpSocket socket_;
    QTimer round_;
    QElapsedTimer clock_;
    QByteArray arrived_;
    int units_ = 0;
    int unit_ = 0;
    quint16 transaction_ = 0;
};

// mosquitto_sub on lumora/#: how long after its unit changed an input each message came, in ms.
class InputWatch : public QObject {
public:
    // unitStartMs: the wall clock's time when `unitClock` started.
    InputWatch(quint16 broker, int units, const QElapsedTimer& unitClock, qint64 unitStartMs, bool station)
        : unitClock_(unitClock)
        , unitStartMs_(unitStartMs)
        , station_(station) {
        for (int i = 0; i < units; ++i)
            for (int channel = 0; channel < emulator::kInputCount; ++channel)
                tracks_.push_back({emulator::InputTrack(emulator::kDefaultSeed + std::uint64_t(i), channel)});
        connect(&sub_, &QProcess::readyReadStandardOutput, this, [this] { take(); });
        sub_.start(QStringLiteral("mosquitto_sub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                                                    QStringLiteral("-p"), QString::number(broker),
                                                    QStringLiteral("-t"), QStringLiteral("lumora/#"),
                                                    QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-F"),
                                                    QStringLiteral("%U %t %p")});
    }
    ~InputWatch() override {
        sub_.terminate();
        sub_.waitForFinished(5000);
    }
    // From now on messages count; the retained ones and the first round are behind.
    void count() { counting_ = true; }
    std::vector<double> lateMs;

private:
    struct Track {
        emulator::InputTrack track;
        std::uint64_t toggles = 0;
        std::int64_t lastMs = 0;     // the latest toggle so far
        std::int64_t previousMs = 0; // the one before
    };
    void take() {
        while (sub_.canReadLine()) {
            // "SECONDS.NANOSECONDS lumora/NAME/input/NN PAYLOAD", NAME u0000 for the first unit: the
            // subscriber's own time of arrival, so that this process's own stalls (a scrape's
            // parsing) do not count.
            QList<QByteArray> words = sub_.readLine().trimmed().split(' ');
            const std::int64_t now =
                words.size() == 3 ? std::int64_t(words.takeFirst().toDouble() * 1000) - unitStartMs_
                                  : unitClock_.elapsed();
            const QList<QByteArray> topic = words.value(0).split('/');
            if (!counting_ || topic.size() != 4 || topic.at(2) != "input" || words.size() != 2)
                continue;
            const int unit = topic.at(1).mid(1).toInt();
            const int channel = topic.at(3).toInt();
            const std::size_t at = std::size_t(unit) * emulator::kInputCount + std::size_t(channel);
            if (at >= tracks_.size() || (words.at(1) != "0" && words.at(1) != "1"))
                continue;
            if (station_) {
                // Only input 10 changes where a poll sees it: high in every odd second from the start.
                if (channel != kStationInput)
                    continue;
                const std::int64_t second = now / 1000;
                const bool high = words.at(1) == "1";
                lateMs.push_back(double(now - 1000 * (((second % 2) == 1) == high ? second : second - 1)));
                continue;
            }
            Track& t = tracks_[at];
            while (t.lastMs + t.track.interval(t.toggles) <= now) {
                t.previousMs = t.lastMs;
                t.lastMs += t.track.interval(t.toggles++);
            }
            // The level now is the message's, or the input toggled again since.
            const bool level = t.track.at(now).level;
            lateMs.push_back(double(now - (level == (words.at(1) == "1") ? t.lastMs : t.previousMs)));
        }
    }

    static constexpr int kStationInput = 10;
    const QElapsedTimer& unitClock_;
    const qint64 unitStartMs_;
    const bool station_;
    std::vector<Track> tracks_;
    QProcess sub_;
    bool counting_ = false;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options options = readOptions(app.arguments());
    QTextStream err(stderr);
    QTemporaryDir scratch;

    // N consecutive free ports: the emulator takes all of them or none.
    QProcess emulator;
    emulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    quint16 base = 0;
    // The units' inputs follow the clock the emulator starts at once.
    QElapsedTimer unitClock;
    qint64 unitStartMs = 0;
    for (int attempt = 0; attempt < 5 && base == 0; ++attempt) {
        unitClock.start();
        unitStartMs = QDateTime::currentMSecsSinceEpoch();
        const auto tried = quint16(20000 + QRandomGenerator::global()->bounded(30000 - options.units));
        QStringList unitArguments{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(tried),
                                  QStringLiteral("--units"), QString::number(options.units), QStringLiteral("--quiet")};
        if (options.station)
            unitArguments << QStringLiteral("--wire") << QStringLiteral("01=00+01+02+03+04,02=05+06+07+08+09")
                          << QStringLiteral("--pulse") << QStringLiteral("10=0.5,11=2");
        emulator.start(QStringLiteral(LUMORA_EMULATOR_PATH), unitArguments);
        const bool listening = QTest::qWaitFor(
            [&] { return emulator.state() == QProcess::NotRunning || emulator.canReadLine(); }, 30000);
        if (listening && emulator.state() == QProcess::Running)
            base = tried;
        else
            emulator.waitForFinished();
    }
    if (base == 0) {
        err << "the emulator found no " << options.units << " free ports\n";
        return 1;
    }
    // Its lines, one or two per unit, are not needed once it listens.
    QObject::connect(&emulator, &QProcess::readyReadStandardOutput, &emulator,
                     [&emulator] { emulator.readAllStandardOutput(); });

    QFile units(scratch.filePath(QStringLiteral("units")));
    if (!units.open(QIODevice::WriteOnly))
        return 1;
    for (int i = 0; i < options.units; ++i)
        units.write(QStringLiteral("u%1=127.0.0.1:%2\n").arg(i, 4, 10, QLatin1Char('0')).arg(base + i).toLatin1());
    units.close();

    QProcess broker;
    const quint16 brokerPort = options.gateway ? freePort() : 0;
    const quint16 modbusPort = options.gateway ? freePort() : 0;
    if (options.gateway) {
        QFile conf(scratch.filePath(QStringLiteral("mosquitto.conf")));
        if (!conf.open(QIODevice::WriteOnly))
            return 1;
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(brokerPort).toLatin1());
        conf.close();
        broker.setStandardOutputFile(QProcess::nullDevice());
        broker.setStandardErrorFile(QProcess::nullDevice());
        broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
        const bool up = QTest::qWaitFor(
            [&] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, brokerPort);
                return probe.waitForConnected(100);
            },
            10000);
        if (!up) {
            err << "the mosquitto broker did not start\n";
            return 1;
        }
    }

    QProcess serve;
    serve.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    quint16 port = 0;
    const auto startServe = [&](bool fronts) {
        QStringList arguments{QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                              QStringLiteral("--interval"), QString::number(options.interval),
                              QStringLiteral("--units-file"), units.fileName()};
        if (fronts)
            arguments << QStringLiteral("--modbus") << QStringLiteral("127.0.0.1:%1").arg(modbusPort)
                      << QStringLiteral("--mqtt") << QStringLiteral("127.0.0.1:%1").arg(brokerPort);
        serve.start(QStringLiteral(LUMORA_CLI_PATH), arguments);
        static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        port = 0;
        (void)QTest::qWaitFor(
            [&] {
                port = listening.match(QString::fromLatin1(serve.readAllStandardOutput())).captured(1).toUShort();
                return port != 0 || serve.state() == QProcess::NotRunning;
            },
            10000);
    };
    bool gateway = options.gateway;
    startServe(gateway);
    if (gateway && serve.state() == QProcess::NotRunning) {
        err << "serve refuses --modbus and --mqtt (their fronts have not landed): the gateway rows are skipped\n";
        gateway = false;
        broker.terminate();
        startServe(false);
    }
    if (port == 0) {
        err << "serve did not say where it listens\n";
        return 1;
    }

    QNetworkAccessManager network;
    QElapsedTimer waited;
    waited.start();
    std::optional<Scrape> first;
    while (waited.elapsed() < qint64{kFreshSeconds} * 1000) {
        first = scrape(network, port);
        if (first && unitsUp(first->body) == options.units)
            break;
        QTest::qWait(kScrapeEveryMs);
    }
    if (!first || unitsUp(first->body) != options.units) {
        err << "only " << (first ? unitsUp(first->body) : 0) << " of " << options.units << " units came up\n";
        return 1;
    }

    std::unique_ptr<ModbusReader> reader;
    std::unique_ptr<InputWatch> watch;
    if (gateway) {
        reader = std::make_unique<ModbusReader>(modbusPort, options.units);
        watch = std::make_unique<InputWatch>(brokerPort, options.units, unitClock, unitStartMs, options.station);
        // The retained messages and the first round of reads, with its connection, are behind.
        QTest::qWait(2 * kScrapeEveryMs);
        watch->count();
        reader->readMs.clear();
    }

    const qint64 pid = serve.processId();
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = processCpuSeconds(pid);
    const QHash<QString, double> repliesBefore = perUnit(first->body, "lumora_replies_total");
    const QHash<QString, double> lastBefore = perUnit(first->body, "lumora_last_reply_timestamp_seconds");
    std::vector<double> scrapeMs;
    std::optional<Scrape> last;
    while (wall.elapsed() < qint64(options.seconds) * 1000) {
        // Once a second on average, at any moment of the units' cycle.
        QTest::qWait(kScrapeEveryMs / 2 + int(QRandomGenerator::global()->bounded(kScrapeEveryMs)));
        last = scrape(network, port);
        if (!last) {
            err << "a scrape failed\n";
            return 1;
        }
        scrapeMs.push_back(last->ms);
    }
    const double cpuShare = (processCpuSeconds(pid) - cpuBefore) / (double(wall.elapsed()) / kMsPerS);
    const double rss = processMemory(pid, "VmRSS");
    const double peak = processMemory(pid, "VmHWM");

    // A unit's mean period between the replies the two scrapes saw last.
    const QHash<QString, double> repliesAfter = perUnit(last->body, "lumora_replies_total");
    const QHash<QString, double> lastAfter = perUnit(last->body, "lumora_last_reply_timestamp_seconds");
    double shortest = 1e9;
    double longest = 0;
    for (auto it = repliesAfter.begin(); it != repliesAfter.end(); ++it) {
        const double replies = it.value() - repliesBefore.value(it.key());
        const double period = replies > 0 ? (lastAfter.value(it.key()) - lastBefore.value(it.key())) / replies : 1e9;
        shortest = std::min(shortest, period);
        longest = std::max(longest, period);
    }
    std::sort(scrapeMs.begin(), scrapeMs.end());
    const double median = scrapeMs.at(scrapeMs.size() / 2);
    const double worst = scrapeMs.back();

    // The attack, its report passed on, and its scrape figures as a row.
    QString hostileRow;
    bool hostileMet = false;
    if (!options.hostile.isEmpty()) {
        QProcess attack;
        attack.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        attack.start(QStringLiteral("python3"), {options.hostile, QString::number(port), QStringLiteral("--seconds"),
                                                 QStringLiteral("30")});
        (void)QTest::qWaitFor([&] { return attack.state() == QProcess::NotRunning; }, 120000);
        const QString report = QString::fromUtf8(attack.readAllStandardOutput());
        err << report;
        static const QRegularExpression scrapes(
            QStringLiteral("latency ms median ([\\d.]+) p95 [\\d.]+ max ([\\d.]+); over 100 ms: (\\d+)"));
        const QRegularExpressionMatch m = scrapes.match(report);
        hostileMet = attack.exitStatus() == QProcess::NormalExit && attack.exitCode() == 0;
        hostileRow = m.hasMatch() ? QStringLiteral("%1 ms (%2), %3 over 100 ms")
                                        .arg(m.captured(1), m.captured(2), m.captured(3))
                                  : QStringLiteral("no report");
    }

    const std::vector<double> readMs = reader ? reader->readMs : std::vector<double>{};
    const int readFailures = reader ? reader->failures : 0;
    const std::vector<double> lateMs = watch ? watch->lateMs : std::vector<double>{};
    reader.reset();
    watch.reset();
    serve.terminate();
    serve.waitForFinished(10000);
    broker.terminate();
    broker.waitForFinished(10000);
    emulator.terminate();
    emulator.waitForFinished(10000);

    const QString n = QString::number(options.units);
    const QString at = QString::number(options.interval);
    // With the three fronts, the gateway's targets.
    const QString what = gateway ? QStringLiteral("gateway") : QStringLiteral("exporter");
    const double cpuTarget = gateway ? 0.15 : 0.1;
    const double memoryTarget = (gateway ? 96 : 64) * kMiB;
    bench::printRow({QStringLiteral("%1, %2 units at %3 s: CPU").arg(what, n, at),
                     QStringLiteral("%1 % of a core").arg(fixed(cpuShare * 100, 1)), {},
                     QStringLiteral("%1x").arg(fixed(cpuShare / cpuTarget, 2)),
                     QStringLiteral("<= %1 % of a core").arg(cpuTarget * 100), bench::metText(cpuShare <= cpuTarget)});
    bench::printRow({QStringLiteral("%1, %2 units: resident memory (peak)").arg(what, n),
                     QStringLiteral("%1 MB (%2)").arg(fixed(rss / kMiB, 1), fixed(peak / kMiB, 1)), {},
                     QStringLiteral("%1x").arg(fixed(peak / memoryTarget, 2)),
                     QStringLiteral("<= %1 MB").arg(memoryTarget / kMiB), bench::metText(peak <= memoryTarget)});
    if (gateway) {
        const double readMedian = medianOf(readMs);
        const double readWorst = readMs.empty() ? 0 : *std::max_element(readMs.begin(), readMs.end());
        bench::printRow({QStringLiteral("gateway, %1 units: Modbus read of 64 registers, median (max)").arg(n),
                         QStringLiteral("%1 ms (%2), %3 reads, %4 failed")
                             .arg(fixed(readMedian, 2), fixed(readWorst, 1))
                             .arg(readMs.size())
                             .arg(readFailures),
                         {}, QStringLiteral("%1x").arg(fixed(readMedian / 5, 2)), QStringLiteral("median <= 5 ms"),
                         bench::metText(!readMs.empty() && readFailures == 0 && readMedian <= 5)});
        const double lateMedian = medianOf(lateMs);
        const double lateWorst = lateMs.empty() ? 0 : *std::max_element(lateMs.begin(), lateMs.end());
        const double lateTarget = options.interval * kMsPerS + 100;
        bench::printRow({QStringLiteral("gateway, %1 units: input change to the MQTT subscriber, median (max)").arg(n),
                         QStringLiteral("%1 ms (%2), %3 changes").arg(fixed(lateMedian, 0), fixed(lateWorst, 0))
                             .arg(lateMs.size()),
                         {}, QStringLiteral("%1x").arg(fixed(lateWorst / lateTarget, 2)),
                         QStringLiteral("<= %1 ms").arg(lateTarget),
                         bench::metText(!lateMs.empty() && lateWorst <= lateTarget)});
    }
    bench::printRow({QStringLiteral("exporter, %1 units: poll period, every unit").arg(n),
                     QStringLiteral("%1 to %2 s").arg(fixed(shortest, 3), fixed(longest, 3)), {}, {},
                     QStringLiteral("%1 to %2 s").arg(fixed(options.interval, 3), fixed(options.interval * 1.1, 3)),
                     bench::metText(shortest >= options.interval * 0.999 && longest <= options.interval * 1.1)});
    bench::printRow({QStringLiteral("exporter, %1 units: scrape, median (max)").arg(n),
                     QStringLiteral("%1 ms (%2)").arg(fixed(median, 1), fixed(worst, 1)), {},
                     QStringLiteral("%1x").arg(fixed(worst / 50, 2)), QStringLiteral("<= 50 ms"),
                     bench::metText(worst <= 50)});
    if (!options.hostile.isEmpty())
        bench::printRow({QStringLiteral("exporter, %1 units, under hostile HTTP: scrape, median (max)").arg(n),
                         hostileRow, {}, {}, QStringLiteral("<= 100 ms; each attack closed within 15 s"),
                         bench::metText(hostileMet)});
    return 0;
}
