// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commands.h"

#include "cli/exit_status.h"
#include "cli/plan_command.h"
#include "cli/poller.h"
#include "cli/report.h"
#include "cli/stop_signals.h"
#include "cli/unit_exchange.h"
#include "exporter/web_config.h"
#include "log/daily_log.h"
#include "log/recv_block.h"
#include "log/utc_moment.h"
#include "ping/ping_tick.h"
#include "platform/icmp_service.h"
#include "protocol/command_frame.h"
#include "protocol/status_reply.h"
#include "settings/conversions.h"
#include "settings/settings_keys.h"
#include "timeline/range_export.h"
#include "timeline/vcd_writer.h"

#include <QFile>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace lumora::cli {

namespace {

// A stretch of this much that is no log is told as it passes: a device of
// endless bytes (/dev/zero), read by mistake, says what it is doing.
constexpr qint64 kJunkReportBytes = qint64{1} << 20;

// Opens without waiting for a writer: a FIFO nobody writes to reads as
// empty, where open() would wait until someone does; one with a writer reads
// as it comes.
bool openToRead(QFile& file, const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // QFile says why in its own words, as for any file.
        file.setFileName(path);
        return file.open(QIODevice::ReadOnly);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 ||
        !file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        file.setFileName(path);
        return file.open(QIODevice::ReadOnly);
    }
    return true;
}

QString addressOf(const Invocation& invocation, settings::SettingsStore& store) {
    return invocation.address.value_or(store.read(settings::kApplication, settings::kSection,
                                                  settings::kAddressKey, settings::kDefaultAddress));
}

class Run {
public:
    Run(const Invocation& invocation, Console& console)
        : inv_(invocation)
        , console_(console)
        , name_(commandName(invocation.command)) {}

    int ping(const QString& address);
    int decode();

private:
    int fail(int exitStatus, const QString& line) {
        // After the rows before it, where a terminal shows both.
        flushRows();
        console_.fail(name_ + QStringLiteral(": ") + line);
        return exitStatus;
    }
    [[nodiscard]] bool decodeOne(const QString& path);
    void flushRows();

    const Invocation& inv_;
    Console& console_;
    QString name_;
    QByteArray rows_; // CSV rows not yet written
    timeline::VcdWriter* vcd_ = nullptr;
    QFile* vcdOut_ = nullptr;
};

// Watches what the ping tick learns, for the exit status; the tick itself
// and its lines are the window's.
class WatchedIcmp final : public platform::IcmpService {
public:
    explicit WatchedIcmp(platform::IcmpService& system)
        : system_(system) {}

    std::optional<platform::Ipv4> resolveFirstIpv4(const QByteArray& hostName) override {
        const std::optional<platform::Ipv4> address = system_.resolveFirstIpv4(hostName);
        unresolved = unresolved || !address;
        return address;
    }
    platform::EchoOutcome echo(platform::Ipv4 destination, int ttl, int timeoutMs) override {
        platform::EchoOutcome outcome = system_.echo(destination, ttl, timeoutMs);
        switch (outcome.kind) {
        case platform::EchoOutcome::Kind::Reply:
            ++replies;
            break;
        case platform::EchoOutcome::Kind::NotAvailable:
            notAvailable = outcome.reason;
            break;
        case platform::EchoOutcome::Kind::NoAnswer:
            break;
        }
        return outcome;
    }

    qint64 replies = 0;
    bool unresolved = false;
    std::optional<QString> notAvailable;

private:
    platform::IcmpService& system_;
};

int Run::ping(const QString& address) {
    const std::unique_ptr<platform::IcmpService> system = platform::makeSystemIcmpService();
    WatchedIcmp icmp(*system);
    const qint64 requests = inv_.count.value_or(kDefaultPingCount);
    // One tick a second, as the window's ping timer: a tick that waited
    // longer for its echo is followed at once by the next.
    constexpr auto kTick = std::chrono::seconds(1);
    auto due = std::chrono::steady_clock::now();
    for (qint64 n = 0; n < requests; ++n) {
        if (n > 0) {
            due = std::max(due + kTick, std::chrono::steady_clock::now());
            std::this_thread::sleep_until(due);
        }
        console_.out(ping::runTick(address, icmp));
    }
    if (icmp.replies > 0)
        return kDone;
    if (icmp.notAvailable)
        return fail(kNoEcho, QStringLiteral("ICMP is not available: %1").arg(*icmp.notAvailable));
    if (icmp.unresolved)
        return fail(kNoConnection, QStringLiteral("cannot resolve %1").arg(address.trimmed()));
    return fail(kNoEcho,
                QStringLiteral("no answer from %1 (%2 requests sent)").arg(address.trimmed()).arg(requests));
}

int Run::decode() {
    QFile standardOutput;
    std::optional<timeline::VcdWriter> vcd;
    if (inv_.format == Format::Vcd) {
        if (!standardOutput.open(stdout, QIODevice::WriteOnly))
            return fail(kBlockSkipped,
                        QStringLiteral("cannot write standard output: %1").arg(standardOutput.errorString()));
        vcd.emplace(standardOutput);
        vcdOut_ = &standardOutput;
    } else if (inv_.format != Format::Json) {
        console_.out(timeline::csvHeader());
    }
    vcd_ = vcd ? &*vcd : nullptr;
    bool everything = true;
    for (const QString& path : inv_.files)
        everything = decodeOne(path) && everything;
    flushRows();
    if (vcd && !(vcd->finish() && standardOutput.flush()))
        return fail(kBlockSkipped,
                    QStringLiteral("cannot write standard output: %1").arg(standardOutput.errorString()));
    return everything ? kDone : kBlockSkipped;
}

void Run::flushRows() {
    if (!rows_.isEmpty()) {
        console_.outLines(rows_);
        rows_.resize(0);
    }
    if (vcd_ && vcd_->flush())
        static_cast<void>(vcdOut_->flush());
}

bool Run::decodeOne(const QString& path) {
    const bool standardInput = path == u"-";
    const QString shown = standardInput ? QStringLiteral("(standard input)") : path;
    // Standard input has no name to take the date from: its rows carry the
    // time of day alone.
    std::optional<QDate> date;
    if (!standardInput) {
        date = log::dateOfDailyLog(path);
        if (!date) {
            fail(kBlockSkipped,
                 QStringLiteral("%1: not a daily log file (the name is not YYYYMMDD.txt), skipped")
                     .arg(shown));
            return false;
        }
    }
    QFile file;
    const bool opened = standardInput ? file.open(stdin, QIODevice::ReadOnly) : openToRead(file, path);
    if (!opened) {
        fail(kBlockSkipped, QStringLiteral("%1: cannot open it: %2, skipped").arg(shown, file.errorString()));
        return false;
    }

    bool everything = true;
    const auto skipped = [&](qint64 line, const QString& why) {
        everything = false;
        fail(kBlockSkipped, QStringLiteral("%1:%2: %3, skipped").arg(shown).arg(line).arg(why));
    };
    // The file was written in the zone the program runs in (TZ honoured).
    std::optional<log::FileDayMoments> moments;
    if (date)
        moments.emplace(*date, QTimeZone::systemTimeZone());
    log::RecvBlockReader reader(file);
    reader.setJunkReport(kJunkReportBytes);
    log::UtcMomentText times;
    // Rows are handed on in pieces, and whenever the reader is about to wait
    // for more: a script reading a stream still sees each reply as it comes.
    constexpr qsizetype kRowBytes = qsizetype{1} << 20;
    rows_.reserve(kRowBytes + kRowBytes / 8);
    for (log::RecvBlockReader::Found found; (found = reader.next()) != log::RecvBlockReader::Found::End;) {
        if (found == log::RecvBlockReader::Found::Skipped) {
            skipped(reader.line(), reader.why());
            continue;
        }
        const int msOfDay = reader.stamp().msecsSinceStartOfDay();
        // Standard input names no day: its stamps count as times of the
        // first day of 1970.
        qint64 ms = msOfDay;
        if (moments) {
            const std::optional<qint64> moment = moments->nextMs(msOfDay);
            if (!moment) {
                skipped(reader.line(),
                        QStringLiteral("the stamp %1 is no time of %2 in this time zone")
                            .arg(dateTimeText(QDate(), reader.stamp()), date->toString(Qt::ISODate)));
                continue;
            }
            ms = *moment;
        }
        if (vcd_) {
            vcd_->add(ms, reader.reply());
        } else if (inv_.format == Format::Json) {
            const QDateTime moment = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
            console_.out(statusJson(protocol::decodeStatusReply(reader.reply()),
                                    dateTimeText(moments ? moment.date() : QDate(), moment.time())));
        } else {
            const QByteArrayView time = times(ms);
            // The time of day alone, after "YYYY-MM-DD ".
            constexpr qsizetype kDateChars = 11;
            timeline::appendCsvRow(rows_, moments ? time : time.sliced(kDateChars),
                                   timeline::sampleOf(0, reader.reply()));
        }
        if (rows_.size() >= kRowBytes || reader.waitsNext())
            flushRows();
    }
    if (!reader.readToEnd()) {
        everything = false;
        fail(kBlockSkipped,
             QStringLiteral("%1: cannot read it to the end: %2").arg(shown, file.errorString()));
    }
    return everything;
}

} // namespace

CommandRun::CommandRun(const Invocation& invocation, settings::SettingsStore& settings, Console& console,
                       StopSignals& stopSignals, QObject* parent)
    : QObject(parent)
    , invocation_(invocation)
    , settings_(settings)
    , console_(console)
    , stopSignals_(stopSignals)
    , name_(commandName(invocation.command)) {}

CommandRun::~CommandRun() = default;

void CommandRun::end(int exitStatus) {
    // Queued: a command that ends at once (a connection refused, a decode)
    // must not end before the caller's event loop runs.
    QMetaObject::invokeMethod(
        this, [this, exitStatus] { Q_EMIT finished(exitStatus); }, Qt::QueuedConnection);
}

int CommandRun::fail(int exitStatus, const QString& line) {
    console_.fail(name_ + QStringLiteral(": ") + line);
    return exitStatus;
}

void CommandRun::start() {
    // What the command line leaves out comes from the window's store. A store
    // that exists but cannot be read is not guessed past: the default address
    // is a real unit's, and a guess could reach the wrong one.
    if (invocation_.command == Command::Serve) {
        serve();
        return;
    }
    // A plan's own unit stands in for the stored one; the command line
    // still wins. A bad plan ends the run before anything connects.
    Invocation given = invocation_;
    if (invocation_.command == Command::Run) {
        plan::PlanError error;
        plan_ = plan::readPlan(invocation_.planFile, error);
        if (!plan_) {
            console_.fail(error.text());
            end(kUsageError);
            return;
        }
        if (!given.address && plan_->host)
            given.address = plan_->host;
        if (!given.portText && plan_->port)
            given.portText = QString::number(*plan_->port);
    }
    const bool needsAddress = invocation_.command != Command::Decode && !given.address;
    const bool needsPort = invocation_.command != Command::Decode && invocation_.command != Command::Ping &&
                           !given.portText;
    if (needsAddress || needsPort) {
        if (!settings_.isReadable(settings::kApplication)) {
            console_.fail(
                QStringLiteral("the stored address and port cannot be read (%1); give --address HOST "
                               "and --port N")
                    .arg(settings_.errorString()));
            end(kUsageError);
            return;
        }
    }
    Run run(invocation_, console_);
    switch (invocation_.command) {
    case Command::Decode:
        end(run.decode());
        return;
    case Command::Ping:
        end(run.ping(addressOf(invocation_, settings_)));
        return;
    case Command::Status:
    case Command::Outputs:
    case Command::Reset:
    case Command::Poll:
    case Command::Serve:
    case Command::Run:
        break;
    }

    // The address and port as given, else as the window last stored them.
    const QString address = addressOf(given, settings_);
    if (address.isEmpty()) {
        console_.fail(QStringLiteral("the stored address is empty; give --address HOST"));
        end(kUsageError);
        return;
    }
    const QString portText = given.portText.value_or(settings_.read(
        settings::kApplication, settings::kSection, settings::kPortKey, settings::kDefaultPort));
    const std::optional<std::uint16_t> port = settings::portFromText(portText);
    if (!port) {
        console_.fail(QStringLiteral("the stored port \"%1\" is not a port from 0 to 65535; give --port N")
                          .arg(portText));
        end(kUsageError);
        return;
    }
    unit_ = Endpoint{address, *port};
    switch (invocation_.command) {
    case Command::Status:
        exchange({});
        return;
    case Command::Outputs:
        exchange(protocol::buildFrame(protocol::Command::OutputSetting, invocation_.outputs));
        return;
    case Command::Reset:
        exchange(protocol::buildFrame(protocol::Command::CounterReset, {}));
        return;
    case Command::Poll:
        poll();
        return;
    case Command::Run:
        runPlan();
        return;
    case Command::Ping:
    case Command::Decode:
    case Command::Serve:
        break;
    }
    end(kDone);
}

void CommandRun::exchange(const QByteArray& frame) {
    exchange_ = std::make_unique<UnitExchange>(unit_, invocation_.timeoutMs);
    connect(exchange_.get(), &UnitExchange::finished, this,
            [this, status = frame.isEmpty()](const ExchangeOutcome& outcome) {
                switch (outcome.failure) {
                case ExchangeOutcome::Failure::NoConnection:
                    end(fail(kNoConnection,
                             QStringLiteral("cannot connect to %1: %2").arg(unit_.text(), outcome.error)));
                    return;
                case ExchangeOutcome::Failure::NotSent:
                    end(fail(kNoConnection,
                             QStringLiteral("cannot send to %1: %2").arg(unit_.text(), outcome.error)));
                    return;
                case ExchangeOutcome::Failure::None:
                    break;
                }
                if (status)
                    judgeStatus(outcome);
                else
                    end(kDone);
            });
    if (frame.isEmpty())
        exchange_->requestStatus();
    else
        exchange_->send(frame);
}

void CommandRun::judgeStatus(const ExchangeOutcome& outcome) {
    using Failure = platform::UnitSession::ReplyFailure;
    const QString within = platform::secondsText(invocation_.timeoutMs);
    // Nothing came: timed out, or closed.
    if (outcome.replyFailure && outcome.replyBytes == 0) {
        end(fail(kNoReply,
                 outcome.replyFailure == Failure::CutShort
                     ? QStringLiteral("no reply from %1: it closed the connection").arg(unit_.text())
                     : QStringLiteral("no reply from %1 within %2").arg(unit_.text(), within)));
        return;
    }
    if (outcome.replyFailure) {
        end(fail(kNoReply, QStringLiteral("reply of %1 bytes from %2 within %3, expected %4")
                               .arg(outcome.replyBytes)
                               .arg(unit_.text(), within)
                               .arg(protocol::kStatusReplySize)));
        return;
    }

    const protocol::DecodedReply reply = protocol::decodeStatusReply(outcome.reply);
    if (invocation_.format == Format::Json) {
        console_.out(statusJson(reply));
    } else {
        for (const QString& group : statusGroups(reply))
            console_.out(group);
    }
    const QStringList refused = refusedValues(reply);
    if (!refused.isEmpty()) {
        end(fail(kRefusedValues, QStringLiteral("reply from %1 holds values the window refuses: %2")
                                     .arg(unit_.text(), refused.join(QStringLiteral(", ")))));
        return;
    }
    end(kDone);
}

void CommandRun::poll() {
    if (!stopSignals_.watch())
        console_.fail(unstoppablePollText(stopSignals_.errorString()));
    poller_ = std::make_unique<Poller>(invocation_, unit_, console_);
    connect(&stopSignals_, &StopSignals::stopRequested, poller_.get(), &Poller::stop);
    connect(poller_.get(), &Poller::finished, this, &CommandRun::end);
    poller_->start();
}

void CommandRun::runPlan() {
    if (!stopSignals_.watch())
        console_.fail(QStringLiteral("run: Ctrl-C and SIGTERM end it without its teardown: ") +
                      stopSignals_.errorString());
    planCommand_ = std::make_unique<PlanCommand>(std::move(*plan_), invocation_, unit_, console_);
    connect(&stopSignals_, &StopSignals::stopRequested, planCommand_.get(),
            [this] { planCommand_->interrupt(stopSignals_.stopSignal()); });
    connect(planCommand_.get(), &PlanCommand::finished, this, &CommandRun::end);
    if (!planCommand_->start())
        end(kUsageError);
}

void CommandRun::serve() {
    QString why;
    const std::optional<QList<exporter::Unit>> units = exporter::loadUnits(
        invocation_.unitsFile, invocation_.units, exporter::mostUnits(invocation_.intervalMs), why);
    if (!units) {
        end(fail(kUsageError, why));
        return;
    }
    const exporter::ListenAddress listen = invocation_.listen.value_or(exporter::defaultListenAddress());
    const std::optional<exporter::ListenAddress>& modbusAt = invocation_.gateway.modbus;
    const qint64 modbusClients = modbusAt ? modbus::ModbusLimits{}.maxConnections : 0;
    if (!exporter::raiseDescriptorLimit(exporter::descriptorsWanted(units->size(), limits_) + modbusClients, why))
        console_.fail(name_ + QStringLiteral(": ") + why + QStringLiteral("; some units may not be polled"));

    exporter::PollTiming timing;
    timing.intervalMs = invocation_.intervalMs;
    timing.timeoutMs = invocation_.timeoutMs;
    std::optional<exporter::WebConfig> web = exporter::WebConfig();
    if (!invocation_.gateway.webConfig.isEmpty() && !(web = exporter::loadWebConfig(invocation_.gateway.webConfig, why))) {
        end(fail(kUsageError, why));
        return;
    }
    exporter_ = std::make_unique<exporter::Exporter>(*units, timing, limits_);
    exporter_->setWebConfig(*web);
    if (!exporter_->listen(listen.address, listen.port)) {
        end(fail(kCannotServe, exporter_->errorString()));
        return;
    }
    if (modbusAt) {
        modbus_ = std::make_unique<modbus::ModbusFront>(*exporter_, invocation_.gateway.modbusWrites);
        if (!modbus_->listen(modbusAt->address, modbusAt->port)) {
            end(fail(kCannotServe, modbus_->errorString()));
            return;
        }
        exporter_->addFront(*modbus_);
        if (const std::optional<QString> note = modbus::unitsBeyondNote(units->size()))
            console_.fail(*note);
    }
    if (const GatewayOptions& gateway = invocation_.gateway; gateway.mqtt) {
        mqtt_ = std::make_unique<mqtt::MqttFront>(
            *exporter_, mqtt::MqttFront::Options{gateway.mqtt->host, gateway.mqtt->port, gateway.mqttPrefix.toUtf8(),
                                                 gateway.mqttUser, gateway.mqttPasswordFile, gateway.mqttCafile,
                                                 gateway.mqttWrites});
        if (!mqtt_->start()) {
            end(fail(kCannotServe, mqtt_->errorString()));
            return;
        }
        exporter_->addFront(*mqtt_);
    }
    if (!stopSignals_.watch())
        console_.fail(name_ + QStringLiteral(": SIGTERM and Ctrl-C end it at once: ") +
                      stopSignals_.errorString());
    connect(&stopSignals_, &StopSignals::stopRequested, this, [this] {
        if (mqtt_)
            mqtt_->stop();
        exporter_->stop();
        end(kDone);
    });
    connect(&stopSignals_, &StopSignals::reloadRequested, this, &CommandRun::reloadUnits);
    console_.out(QStringLiteral("listening on ") +
                 exporter::ListenAddress::text(listen.address, exporter_->serverPort()));
    if (modbus_)
        console_.out(QStringLiteral("Modbus TCP listening on ") + modbus_->address());
    exporter_->start();
}

void CommandRun::reloadUnits() {
    const QString file =
        invocation_.unitsFile.isEmpty() ? QStringLiteral("the command line") : invocation_.unitsFile;
    QString why;
    const std::optional<QList<exporter::Unit>> units = exporter::loadUnits(
        invocation_.unitsFile, invocation_.units, exporter::mostUnits(invocation_.intervalMs), why);
    if (!units) {
        console_.fail(name_ + QStringLiteral(": ") + why +
                      QStringLiteral("; still polling the units read before"));
        return;
    }
    const qint64 modbusClients = modbus_ ? modbus::ModbusLimits{}.maxConnections : 0;
    if (!exporter::raiseDescriptorLimit(exporter::descriptorsWanted(units->size(), limits_) + modbusClients, why))
        console_.fail(name_ + QStringLiteral(": ") + why + QStringLiteral("; some units may not be polled"));
    const exporter::Exporter::Change change = exporter_->setUnits(*units);
    const auto names = [](const QStringList& list) {
        return list.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(list.join(QStringLiteral(", ")));
    };
    console_.out(QStringLiteral("reloaded %1: %2 kept, %3 added%4, %5 dropped%6")
                     .arg(file)
                     .arg(change.kept)
                     .arg(change.added.size())
                     .arg(names(change.added))
                     .arg(change.dropped.size())
                     .arg(names(change.dropped)));
}

} // namespace lumora::cli
