// SPDX-License-Identifier: GPL-3.0-or-later
// Polls a unit with the real window for a long time, the way an operator
// leaves it running: offscreen, Repeat at 0.01 s, "List + File". Keeps what is
// needed to judge the run afterwards: every line the log list received (the
// list itself keeps only the last thousand), the process's resident memory
// once a second, and every moment the repetition stopped by itself.

#include "bench_support.h"

#include "log/recv_block.h"
#include "platform/widgets/services.h"
#include "settings/settings_store.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>

namespace {

constexpr int kDefaultSeconds = 600;
constexpr int kDefaultStallSeconds = 5;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kSampleIntervalMs = 1000;
constexpr int kWatchIntervalMs = 250;
constexpr int kMsPerSecond = 1000;
constexpr qint64 kBytesPerKib = 1024;
// The list is full (a thousand lines) well before this; memory from here on must stay flat.
constexpr int kSettledSecond = 30;
// Enough of the log before a stall to see what was last sent and received.
constexpr std::size_t kEvidenceLines = 12;
constexpr int kExitSetupFailed = 2;

constexpr int kStatusRequest = 0;
constexpr int kRepeat = 1;
constexpr int kListAndFile = 1;
const QString kInterval = QStringLiteral("0.01");
const QString kDefaultHost = QStringLiteral("127.0.0.1");

const QLatin1String kSendMark(" SEND : ");
const QLatin1String kWrongLengthStart("Different responce data length : ");
const QLatin1String kClosedEnd(" Socket Closed!!");
const QLatin1String kConnectedEnd(" Socket Connected!!");
const QLatin1String kSendFailEnd(" Socket Closed... Send Fail!!");
const QLatin1String kReconnectingEnd(" Socket Reconnecting.......");
const QLatin1String kConnectFailMark(" Socket Connect Fail!! ");
const QLatin1String kFileFailMark(" Log File Write Fail!! ");

struct Options {
    QString dir;
    QString host = kDefaultHost;
    quint16 port = 0;
    int seconds = kDefaultSeconds;
    int stallSeconds = kDefaultStallSeconds;
    bool recover = true;
};

// The daily files read back as decode reads them.
struct FiledBlocks {
    qint64 blocks = 0;
    qint64 skipped = 0;
    QString firstSkip;
};

FiledBlocks readDailyFiles(const QString& programDir) {
    FiledBlocks filed;
    const QDir logDir(QDir(programDir).filePath(QStringLiteral("Log")));
    for (const QString& name : logDir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name)) {
        QFile file(logDir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            ++filed.skipped;
            continue;
        }
        lumora::log::RecvBlockReader reader(file);
        for (auto found = reader.next(); found != lumora::log::RecvBlockReader::Found::End; found = reader.next()) {
            if (found == lumora::log::RecvBlockReader::Found::Block) {
                ++filed.blocks;
            } else if (filed.skipped++ == 0) {
                filed.firstSkip = QStringLiteral("%1:%2: %3").arg(name).arg(reader.line()).arg(reader.why());
            }
        }
    }
    return filed;
}

struct Tally {
    qint64 lines = 0;
    qint64 sends = 0;
    qint64 replies = 0;
    qint64 wrongLengths = 0;
    qint64 closes = 0;
    qint64 connects = 0;
    qint64 sendFails = 0;
    qint64 reconnects = 0;
    qint64 connectFails = 0;
    qint64 fileFails = 0;
};

class Soak : public QObject {
public:
    explicit Soak(const Options& options)
        : options_(options) {}

    ~Soak() override {
        // The window goes first: its last events may still reach the hooks.
        window_.reset();
    }

    bool start(QString* error);
    void finish();

private:
    lumora::app::Services services();
    template <typename W> W* find(const QString& name) const;
    QAbstractButton* button(const char* name) const { return find<QAbstractButton>(QLatin1String(name)); }
    QAbstractButton* button(const char* array, int index) const {
        return find<QAbstractButton>(lumora::app::indexedName(array, index));
    }
    bool openOutput(QFile& file, const QString& name, QString* error);
    lumora::app::ClientSession& session() const { return window_->session(); }
    bool connected() const {
        return session().isConnected();
    }
    double elapsedSeconds() const { return double(clock_.elapsed()) / kMsPerSecond; }

    void record(int first, int last);
    void count(const QString& line);
    void sample();
    void watch();
    void intervene();
    void note(const QString& text);

    Options options_;
    lumora::platform::SystemClock systemClock_;
    testsupport::FakeBeeper beeper_;
    testsupport::FakeDialogs dialogs_;
    testsupport::FakeShell shell_;
    testsupport::FakeIcmp icmp_;
    lumora::settings::IniSettingsStore settings_;
    std::unique_ptr<lumora::app::frmSim_7150R> window_;

    QFile lines_;
    QFile rss_;
    QFile events_;
    QTimer sampler_;
    QTimer watcher_;
    QElapsedTimer clock_;

    Tally tally_;
    std::deque<QString> recent_;
    qint64 lastSendOperationMs_ = 0;
    qint64 lastInterventionMs_ = 0;
    bool stalled_ = false;
    bool sendWhenConnected_ = false;
    int stalls_ = 0;
    int connectedStalls_ = 0;
    int closedStalls_ = 0;
    int interventions_ = 0;
    bool writeFailed_ = false;

    std::optional<qint64> rssStart_;
    std::optional<qint64> rssSettled_;
    std::optional<qint64> rssEnd_;
    qint64 rssMax_ = 0;
    int samples_ = 0;
};

lumora::app::Services Soak::services() {
    return {.clock = systemClock_,
            .beeper = beeper_,
            .dialogs = dialogs_,
            .shell = shell_,
            .settings = settings_,
            .icmp = icmp_,
            .programDir = options_.dir};
}

template <typename W> W* Soak::find(const QString& name) const {
    W* w = window_->findChild<W*>(name);
    if (w == nullptr)
        qFatal("no control %s", qPrintable(name));
    return w;
}

bool Soak::openOutput(QFile& file, const QString& name, QString* error) {
    file.setFileName(QDir(options_.dir).filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

bool Soak::start(QString* error) {
    if (!QDir().mkpath(options_.dir)) {
        *error = QStringLiteral("cannot make the folder %1").arg(options_.dir);
        return false;
    }
    if (!openOutput(lines_, QStringLiteral("lines.txt"), error) ||
        !openOutput(rss_, QStringLiteral("rss.csv"), error) ||
        !openOutput(events_, QStringLiteral("events.txt"), error))
        return false;
    if (rss_.write("second,rss_kib,lines,sends,replies\n") < 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(rss_.fileName(), rss_.errorString());
        return false;
    }

    clock_.start();
    window_ = lumora::app::Main(services());
    connect(window_.get(), &lumora::app::frmSim_7150R::endRequested, this, [] { QCoreApplication::exit(0); });
    const auto& log = session().logLines();
    connect(&log, &lumora::log::LogListModel::linesAppended, this,
            [this](int first, int last) { record(first, last); });

    bench::type(find<QLineEdit>(QStringLiteral("txtDestIP")), options_.host);
    bench::type(find<QLineEdit>(QStringLiteral("txtDestPort")), QString::number(options_.port));
    button("optLog", kListAndFile)->click();
    button("optInterval", kRepeat)->click();
    bench::type(find<QComboBox>(QStringLiteral("cboTime"))->lineEdit(), kInterval);
    button("optCommand", kStatusRequest)->click();
    button("cmdConnect")->click();
    if (!QTest::qWaitFor([this] { return connected() && button("cmdSend")->isEnabled(); },
                         kConnectTimeoutMs)) {
        *error = QStringLiteral("the window did not connect to %1:%2").arg(options_.host).arg(options_.port);
        return false;
    }

    connect(&sampler_, &QTimer::timeout, this, &Soak::sample);
    connect(&watcher_, &QTimer::timeout, this, &Soak::watch);
    clock_.restart();
    sample();
    sampler_.start(kSampleIntervalMs);
    watcher_.start(kWatchIntervalMs);
    lastSendOperationMs_ = clock_.elapsed();
    button("cmdSend")->click();
    QTimer::singleShot(options_.seconds * kMsPerSecond, this, [] { QCoreApplication::exit(0); });
    return true;
}

void Soak::record(int first, int last) {
    const auto& log = session().logLines();
    for (int row = first; row <= last; ++row) {
        const QString& line = log.line(row);
        QByteArray bytes = line.toUtf8();
        bytes.append('\n');
        if (lines_.write(bytes) != bytes.size())
            writeFailed_ = true;
        recent_.push_back(line);
        if (recent_.size() > kEvidenceLines)
            recent_.pop_front();
        count(line);
    }
}

void Soak::count(const QString& line) {
    ++tally_.lines;
    const bool sendOperation = line.contains(kSendMark) || line.endsWith(kSendFailEnd);
    if (line.contains(kSendMark))
        ++tally_.sends;
    else if (lumora::log::recvHeaderStamp(line.toLatin1()))
        ++tally_.replies;
    else if (line.startsWith(kWrongLengthStart))
        ++tally_.wrongLengths;
    else if (line.endsWith(kClosedEnd))
        ++tally_.closes;
    else if (line.endsWith(kConnectedEnd))
        ++tally_.connects;
    else if (line.endsWith(kSendFailEnd))
        ++tally_.sendFails;
    else if (line.endsWith(kReconnectingEnd))
        ++tally_.reconnects;
    else if (line.contains(kConnectFailMark))
        ++tally_.connectFails;
    else if (line.contains(kFileFailMark))
        ++tally_.fileFails;
    if (sendOperation) {
        lastSendOperationMs_ = clock_.elapsed();
        stalled_ = false;
    }
}

void Soak::sample() {
    const qint64 bytes = bench::residentBytes();
    if (bytes <= 0)
        return;
    const std::optional<qint64> kib = bytes / kBytesPerKib;
    const int second = samples_++;
    if (!rssStart_)
        rssStart_ = kib;
    if (second == kSettledSecond)
        rssSettled_ = kib;
    rssEnd_ = kib;
    rssMax_ = std::max(rssMax_, *kib);
    const QByteArray row = QStringLiteral("%1,%2,%3,%4,%5\n")
                               .arg(second)
                               .arg(*kib)
                               .arg(tally_.lines)
                               .arg(tally_.sends)
                               .arg(tally_.replies)
                               .toLatin1();
    if (rss_.write(row) != row.size() || !rss_.flush())
        writeFailed_ = true;
}

void Soak::note(const QString& text) {
    const QByteArray bytes = (text + QLatin1Char('\n')).toUtf8();
    if (events_.write(bytes) != bytes.size() || !events_.flush())
        writeFailed_ = true;
}

// A tick that finds the status-wait flag set sends nothing and logs nothing,
// so a request that is never answered stops the repetition without a trace in
// the log. Name it, with the log lines that led to it.
void Soak::watch() {
    if (sendWhenConnected_ && connected() && button("cmdSend")->isEnabled()) {
        sendWhenConnected_ = false;
        note(QStringLiteral("intervention\t%1\t%2\tSend").arg(elapsedSeconds(), 0, 'f', 3).arg(tally_.lines));
        button("cmdSend")->click();
        return;
    }
    const qint64 now = clock_.elapsed();
    const qint64 stallMs = qint64(options_.stallSeconds) * kMsPerSecond;
    if (stalled_) {
        // The operator's first try did not get it going (say the reconnect failed): try again.
        if (options_.recover && now - lastInterventionMs_ > stallMs)
            intervene();
        return;
    }
    if (now - lastSendOperationMs_ <= stallMs)
        return;
    stalled_ = true;
    ++stalls_;
    const bool isConnected = connected();
    if (isConnected)
        ++connectedStalls_;
    else
        ++closedStalls_;
    const QString kind = isConnected ? QStringLiteral("connected, nothing sent")
                                     : QStringLiteral("closed, no reconnect attempt");
    note(QStringLiteral("stall\t%1\t%2\t%3 for %4 s; socket state %5, status wait %6, repeat timer %7")
             .arg(elapsedSeconds(), 0, 'f', 3)
             .arg(tally_.lines)
             .arg(kind)
             .arg(options_.stallSeconds)
             .arg(int(session().Winsock1().state()))
             .arg(session().isStatusAwaited() ? QStringLiteral("set") : QStringLiteral("clear"))
             .arg(session().isRepeating() ? QStringLiteral("enabled") : QStringLiteral("disabled")));
    for (const QString& line : recent_)
        note(QStringLiteral("  | ") + line);
    if (options_.recover)
        intervene();
}

// What an operator at the window would do to get the polling going again,
// using only buttons that are enabled at that moment.
void Soak::intervene() {
    lastInterventionMs_ = clock_.elapsed();
    const QString at = QStringLiteral("%1\t%2").arg(elapsedSeconds(), 0, 'f', 3).arg(tally_.lines);
    if (connected()) {
        QAbstractButton* end = button("cmdEnd");
        QAbstractButton* send = button("cmdSend");
        const bool ended = end->isEnabled();
        if (ended)
            end->click();
        if (!send->isEnabled())
            return;
        ++interventions_;
        note(QStringLiteral("intervention\t%1\t%2")
                 .arg(at, ended ? QStringLiteral("End, Send") : QStringLiteral("Send")));
        send->click();
        return;
    }
    QAbstractButton* connectButton = button("cmdConnect");
    if (connectButton->isEnabled()) {
        ++interventions_;
        note(QStringLiteral("intervention\t%1\tConnect").arg(at));
        connectButton->click();
        sendWhenConnected_ = true;
    }
}

void Soak::finish() {
    sampler_.stop();
    watcher_.stop();
    sample();
    if (!lines_.flush())
        writeFailed_ = true;
    const double seconds = elapsedSeconds();
    // Lets a close in the last moments of the run be told from one the client never recovered from.
    note(QStringLiteral("end\t%1\t%2\t%3")
             .arg(seconds, 0, 'f', 3)
             .arg(tally_.lines)
             .arg(session().GetTimeStamp()));
    const auto kib = [](const std::optional<qint64>& v) {
        return v ? QString::number(*v) : QStringLiteral("-");
    };

    const FiledBlocks filed = readDailyFiles(options_.dir);
    QTextStream out(stdout);
    out << "blocks read back from the daily files: " << filed.blocks << '\n'
        << "damaged stretches in the daily files: " << filed.skipped << '\n';
    if (filed.skipped > 0)
        out << "first damage: " << filed.firstSkip << '\n';
    out << "seconds run: " << QString::number(seconds, 'f', 1) << '\n'
        << "lines recorded: " << tally_.lines << '\n'
        << "sends: " << tally_.sends << '\n'
        << "replies (RECV blocks): " << tally_.replies << '\n'
        << "wrong-length lines: " << tally_.wrongLengths << '\n'
        << "socket closed: " << tally_.closes << '\n'
        << "socket connected: " << tally_.connects << '\n'
        << "send fail lines: " << tally_.sendFails << '\n'
        << "reconnecting lines: " << tally_.reconnects << '\n'
        << "connect fail lines: " << tally_.connectFails << '\n'
        << "file write fail lines: " << tally_.fileFails << '\n'
        << "boxes shown: " << dialogs_.shown.size() << '\n'
        << "stalls: " << stalls_ << " (connected " << connectedStalls_ << ", closed " << closedStalls_
        << ")\n"
        << "interventions: " << interventions_ << '\n'
        << "rss start kib: " << kib(rssStart_) << '\n'
        << "rss at " << kSettledSecond << " s kib: " << kib(rssSettled_) << '\n'
        << "rss end kib: " << kib(rssEnd_) << '\n'
        << "rss max kib: " << rssMax_ << '\n'
        << "output write failures: " << (writeFailed_ ? "yes" : "no") << '\n';
    if (!dialogs_.shown.isEmpty()) {
        const testsupport::ShownBox& box = dialogs_.shown.first();
        out << "first box: " << box.title << " / "
            << QString(box.text).replace(QLatin1String("\r\n"), QLatin1String(" / ")) << '\n';
    }
}

} // namespace

int main(int argc, char** argv) {
    // The window saves what is typed into it; keep that away from the user's own settings.
    testsupport::isolateProcess();
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumora-soak"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Polls a unit with the window (offscreen, Repeat at 0.01 "
                                                    "s, List + File) and records the run into DIR: "
                                                    "lines.txt (every log line), rss.csv (memory once a "
                                                    "second), events.txt (stalls), Log/ (daily files)."));
    parser.addHelpOption();
    const QCommandLineOption dirOption(QStringLiteral("dir"), QStringLiteral("Program folder of the run."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("Unit address (default 127.0.0.1)."),
                                        QStringLiteral("ADDR"), kDefaultHost);
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Unit port."),
                                        QStringLiteral("PORT"));
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"), QStringLiteral("Length of the run (default %1).").arg(kDefaultSeconds),
        QStringLiteral("N"), QString::number(kDefaultSeconds));
    const QCommandLineOption stallOption(
        QStringLiteral("stall-seconds"),
        QStringLiteral("Time without a send after which the repetition counts as stalled (default %1).")
            .arg(kDefaultStallSeconds),
        QStringLiteral("N"), QString::number(kDefaultStallSeconds));
    const QCommandLineOption noRecoverOption(
        QStringLiteral("no-recover"),
        QStringLiteral("Leave a stalled window alone instead of restarting the polling."));
    parser.addOptions({dirOption, hostOption, portOption, secondsOption, stallOption, noRecoverOption});
    parser.process(application);

    Options options;
    bool portOk = false;
    bool secondsOk = false;
    bool stallOk = false;
    options.dir = parser.value(dirOption);
    options.host = parser.value(hostOption);
    const uint port = parser.value(portOption).toUInt(&portOk);
    options.seconds = parser.value(secondsOption).toInt(&secondsOk);
    options.stallSeconds = parser.value(stallOption).toInt(&stallOk);
    options.recover = !parser.isSet(noRecoverOption);
    if (options.dir.isEmpty() || !portOk || port == 0 || port > 0xFFFF || !secondsOk ||
        options.seconds <= 0 || !stallOk || options.stallSeconds <= 0) {
        std::fputs(
            "lumora-soak: --dir, --port (1..65535), a positive --seconds and --stall-seconds are needed\n",
            stderr);
        return kExitSetupFailed;
    }
    options.port = static_cast<quint16>(port);

    Soak soak(options);
    QString error;
    if (!soak.start(&error)) {
        std::fprintf(stderr, "lumora-soak: %s\n", qPrintable(error));
        return kExitSetupFailed;
    }
    const int code = QApplication::exec();
    soak.finish();
    return code;
}
