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
// With --mqtt, serve also publishes to a broker of its own on loopback
// (Debian's mosquitto), watched by mosquitto_sub: the CPU then includes the
// MQTT side, a row tells how long after a unit's reply its changed input
// reached the subscriber, and the broker is restarted to time the republish
// of every topic and the memory it takes.
//
//   lumora-bench-exporter [--units N] [--seconds S] [--interval S] [--hostile tools/hostile-http.py] [--mqtt]

#include "bench_support.h"

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
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace {

constexpr int kFreshSeconds = 60;   // for every unit to answer once
constexpr int kScrapeEveryMs = 1000;
constexpr double kMsPerS = 1000.0;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr int kWatchedUnits = 10; // whose inputs time the MQTT side

struct Options {
    int units = 1000;
    int seconds = 60;
    double interval = 1.0;
    QString hostile;
    bool mqtt = false;
};

Options readOptions(const QStringList& arguments) {
    Options options;
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
    options.mqtt = arguments.contains(QStringLiteral("--mqtt"));
    return options;
}

// A broker on a port of loopback, and a subscriber to all its topics that
// notes when each message came (the wall clock, as serve's reply stamps).
struct MqttWatch {
    quint16 port = 0;
    QString conf;
    QProcess broker;
    QProcess watcher;
    QSet<QByteArray> topics;
    qint64 messages = 0;
    double firstAt = 0;
    double lastAt = 0;
    // Receipt time and unit of each changed input.
    std::vector<std::pair<double, QString>> inputs;

    // `filters`: what the subscriber takes. The broker sends each message
    // once per subscriber, on the same cores: the run watches a few units,
    // and only the republish all of them.
    bool start(const QStringList& filters) {
        broker.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), conf});
        if (!broker.waitForStarted())
            return false;
        QTest::qWait(300);
        topics.clear();
        messages = 0;
        firstAt = 0;
        QStringList arguments{QStringLiteral("-p"), QString::number(port), QStringLiteral("-F"),
                              QStringLiteral("%U %t %p")};
        for (const QString& filter : filters)
            arguments << QStringLiteral("-t") << filter;
        watcher.start(QStringLiteral("mosquitto_sub"), arguments);
        QObject::connect(&watcher, &QProcess::readyReadStandardOutput, &watcher, [this] {
            while (watcher.canReadLine()) {
                const QList<QByteArray> f = watcher.readLine().trimmed().split(' ');
                if (f.size() != 3)
                    continue;
                lastAt = f[0].toDouble();
                if (messages++ == 0)
                    firstAt = lastAt;
                topics.insert(f[1]);
                const QList<QByteArray> levels = f[1].split('/');
                if (levels.size() == 4 && levels[2] == "input")
                    inputs.emplace_back(lastAt, QString::fromUtf8(levels[1]));
            }
        });
        return watcher.waitForStarted();
    }
    void stop() {
        inputs.clear();
        for (QProcess* p : {&watcher, &broker}) {
            QObject::disconnect(p, nullptr, nullptr, nullptr);
            p->kill();
            p->waitForFinished();
        }
    }
};

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
    for (int attempt = 0; attempt < 5 && base == 0; ++attempt) {
        const auto tried = quint16(20000 + QRandomGenerator::global()->bounded(30000 - options.units));
        emulator.start(QStringLiteral(LUMORA_EMULATOR_PATH),
                       {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(tried), QStringLiteral("--units"),
                        QString::number(options.units), QStringLiteral("--quiet")});
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

    QStringList serveArguments{QStringLiteral("serve"),       QStringLiteral("--listen"),
                               QStringLiteral("127.0.0.1:0"), QStringLiteral("--interval"),
                               QString::number(options.interval), QStringLiteral("--units-file"),
                               units.fileName()};
    MqttWatch mqtt;
    if (options.mqtt) {
        mqtt.port = quint16(base + options.units); // the emulator's ports end just before
        mqtt.conf = scratch.filePath(QStringLiteral("mosquitto.conf"));
        QFile conf(mqtt.conf);
        if (!conf.open(QIODevice::WriteOnly) ||
            conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nmax_queued_messages 100000\n")
                           .arg(mqtt.port)
                           .toLatin1()) < 0)
            return 1;
        conf.close();
        QStringList watched;
        for (int i = 0; i < std::min(options.units, kWatchedUnits); ++i)
            watched << QStringLiteral("lumora/u%1/input/+").arg(i, 4, 10, QLatin1Char('0'));
        if (!mqtt.start(watched)) {
            err << "no mosquitto broker\n";
            return 1;
        }
        serveArguments << QStringLiteral("--mqtt") << QStringLiteral("127.0.0.1:%1").arg(mqtt.port);
    }
    QProcess serve;
    serve.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    serve.start(QStringLiteral(LUMORA_CLI_PATH), serveArguments);
    quint16 port = 0;
    static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    const bool said = QTest::qWaitFor(
        [&] {
            port = listening.match(QString::fromLatin1(serve.readAllStandardOutput())).captured(1).toUShort();
            return port != 0 || serve.state() == QProcess::NotRunning;
        },
        10000);
    if (!said || port == 0) {
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
    // A unit's replies come a steady interval apart (the period row), so its
    // last reply's stamp places every reply of the last seconds: an input
    // message's delay is its receipt past the reply before it.
    std::vector<double> delays;
    const double lastScrape = double(QDateTime::currentMSecsSinceEpoch()) / kMsPerS;
    for (const auto& [at, unit] : mqtt.inputs) {
        if (at < lastScrape - 5 || !lastAfter.contains(unit))
            continue;
        double delay = std::fmod(at - lastAfter.value(unit), options.interval);
        if (delay < 0)
            delay += options.interval;
        if (delay > options.interval * 0.9) // a reply a little early, not a late message
            delay -= options.interval;
        delays.push_back(delay * kMsPerS);
    }
    std::sort(delays.begin(), delays.end());
    // Every topic again at a new broker, as after any lost connection.
    double republishS = 0;
    double republishRss = 0;
    double republishPeak = 0;
    qsizetype republished = 0;
    const qsizetype allTopics = qsizetype(options.units) * 41 + 1;
    if (options.mqtt) {
        mqtt.stop();
        if (!mqtt.start({QStringLiteral("#")}))
            return 1;
        (void)QTest::qWaitFor([&] { return mqtt.topics.size() >= allTopics; }, 120000);
        republishS = mqtt.lastAt - mqtt.firstAt;
        republished = mqtt.topics.size();
        republishRss = processMemory(pid, "VmRSS");
        republishPeak = processMemory(pid, "VmHWM");
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

    serve.terminate();
    serve.waitForFinished(10000);
    mqtt.stop();
    emulator.terminate();
    emulator.waitForFinished(10000);

    const QString n = QString::number(options.units);
    // The MQTT run's rows stand beside the plain run's in one table.
    const QString exporter = options.mqtt ? QStringLiteral("exporter with MQTT") : QStringLiteral("exporter");
    // Every front of the gateway together has half as much again.
    const double cpuTarget = options.mqtt ? 0.15 : 0.1;
    const QString at = QString::number(options.interval);
    bench::printRow({QStringLiteral("%1, %2 units at %3 s: CPU").arg(exporter, n, at),
                     QStringLiteral("%1 % of a core").arg(fixed(cpuShare * 100, 1)), {},
                     QStringLiteral("%1x").arg(fixed(cpuShare / cpuTarget, 2)),
                     QStringLiteral("<= %1 % of a core").arg(cpuTarget * 100), bench::metText(cpuShare <= cpuTarget)});
    bench::printRow({QStringLiteral("%1, %2 units: resident memory (peak)").arg(exporter, n),
                     QStringLiteral("%1 MB (%2)").arg(fixed(rss / kMiB, 1), fixed(peak / kMiB, 1)), {},
                     QStringLiteral("%1x").arg(fixed(peak / (64 * kMiB), 2)), QStringLiteral("<= 64 MB"),
                     bench::metText(peak <= 64 * kMiB)});
    bench::printRow({QStringLiteral("%1, %2 units: poll period, every unit").arg(exporter, n),
                     QStringLiteral("%1 to %2 s").arg(fixed(shortest, 3), fixed(longest, 3)), {}, {},
                     QStringLiteral("%1 to %2 s").arg(fixed(options.interval, 3), fixed(options.interval * 1.1, 3)),
                     bench::metText(shortest >= options.interval * 0.999 && longest <= options.interval * 1.1)});
    bench::printRow({QStringLiteral("%1, %2 units: scrape, median (max)").arg(exporter, n),
                     QStringLiteral("%1 ms (%2)").arg(fixed(median, 1), fixed(worst, 1)), {},
                     QStringLiteral("%1x").arg(fixed(worst / 50, 2)), QStringLiteral("<= 50 ms"),
                     bench::metText(worst <= 50)});
    if (options.mqtt && !delays.empty()) {
        const double p99 = delays.at(delays.size() * 99 / 100);
        bench::printRow({QStringLiteral("MQTT, %1 units: reply to subscriber, median (p99, max)").arg(n),
                         QStringLiteral("%1 ms (%2, %3)")
                             .arg(fixed(delays.at(delays.size() / 2), 1), fixed(p99, 1), fixed(delays.back(), 1)),
                         {}, QStringLiteral("%1x").arg(fixed(p99 / 100, 2)), QStringLiteral("p99 <= 100 ms"),
                         bench::metText(p99 <= 100)});
        bench::printRow({QStringLiteral("MQTT, %1 units: every topic at a connect").arg(n),
                         QStringLiteral("%1 of %2 in %3 s").arg(republished).arg(allTopics).arg(fixed(republishS, 2)),
                         {}, {}, QStringLiteral("all"), bench::metText(republished == allTopics)});
        bench::printRow({QStringLiteral("MQTT, %1 units: resident memory after it (peak)").arg(n),
                         QStringLiteral("%1 MB (%2)").arg(fixed(republishRss / kMiB, 1), fixed(republishPeak / kMiB, 1)),
                         {}, {}, {}, {}});
    }
    if (!options.hostile.isEmpty())
        bench::printRow({QStringLiteral("exporter, %1 units, under hostile HTTP: scrape, median (max)").arg(n),
                         hostileRow, {}, {}, QStringLiteral("<= 100 ms; each attack closed within 15 s"),
                         bench::metText(hostileMet)});
    return 0;
}
