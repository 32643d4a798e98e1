// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/arguments.h"

#include "settings/conversions.h"

#include <QRegularExpression>

#include <cmath>

namespace lumora::cli {

namespace {

constexpr int kMsPerSecond = 1000;
constexpr double kLongestSeconds = settings::kMaxIntervalMs / double(kMsPerSecond);

struct CommandName {
    const char* name;
    Command command;
};

constexpr std::array<CommandName, 6> kCommands{{
    {"status", Command::Status},
    {"outputs", Command::Outputs},
    {"reset", Command::Reset},
    {"poll", Command::Poll},
    {"ping", Command::Ping},
    {"decode", Command::Decode},
}};

bool isSecondsText(const QString& text) {
    static const QRegularExpression shape(QStringLiteral("^(\\d+\\.?\\d*|\\.\\d+)$"));
    return shape.match(text).hasMatch();
}

std::optional<qint64> positiveCount(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^\\d+$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 1)
        return std::nullopt;
    return value;
}

QString quoted(const QString& text) {
    return u'"' + text + u'"';
}

class Parser {
public:
    explicit Parser(const QStringList& arguments)
        : args_(arguments) {}

    ParsedArguments run();

private:
    // The value of an option: "--name=value" or the next argument.
    std::optional<QString> takeValue(const QString& name, const std::optional<QString>& inlineValue);
    bool takeOption(const QString& name, const std::optional<QString>& inlineValue);
    bool takeCommandOption(const QString& name, const std::optional<QString>& inlineValue);
    bool takePositional(const QString& argument);
    bool finish();
    bool fail(const QString& error) {
        if (result_.error.isEmpty())
            result_.error = error;
        return false;
    }

    const QStringList& args_;
    qsizetype next_ = 0;
    ParsedArguments result_;
    Invocation& inv_ = result_.invocation;
    std::optional<Command> command_;
    QStringList commandArgs_;
    bool json_ = false;
    bool csv_ = false;
    bool intervalGiven_ = false;
};

ParsedArguments Parser::run() {
    // Help and version win over anything else on the line, as in most tools.
    for (const QString& argument : args_) {
        if (argument == u"--")
            break;
        if (argument == u"--help" || argument == u"-h") {
            result_.outcome = ParsedArguments::Outcome::Help;
            return result_;
        }
        if (argument == u"--version") {
            result_.outcome = ParsedArguments::Outcome::Version;
            return result_;
        }
    }

    bool optionsEnded = false;
    while (next_ < args_.size()) {
        const QString argument = args_.at(next_++);
        bool ok = true;
        if (!optionsEnded && argument == u"--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.startsWith(u'-') && argument != u"-") {
            const qsizetype equals = argument.indexOf(u'=');
            const QString name = equals < 0 ? argument : argument.left(equals);
            std::optional<QString> inlineValue;
            if (equals >= 0)
                inlineValue = argument.mid(equals + 1);
            ok = takeOption(name, inlineValue);
        } else {
            ok = takePositional(argument);
        }
        if (!ok)
            return result_;
    }
    if (finish())
        result_.outcome = ParsedArguments::Outcome::Run;
    return result_;
}

std::optional<QString> Parser::takeValue(const QString& name, const std::optional<QString>& inlineValue) {
    if (inlineValue)
        return inlineValue;
    if (next_ >= args_.size()) {
        fail(QStringLiteral("option %1 needs a value").arg(name));
        return std::nullopt;
    }
    return args_.at(next_++);
}

bool Parser::takeOption(const QString& name, const std::optional<QString>& inlineValue) {
    if (name == u"--json" || name == u"--csv") {
        if (inlineValue)
            return fail(QStringLiteral("option %1 takes no value").arg(name));
        if (name == u"--csv" && command_ != Command::Poll)
            return fail(QStringLiteral("option --csv belongs to poll; give it after the command"));
        (name == u"--json" ? json_ : csv_) = true;
        return true;
    }
    if (name == u"--address") {
        const auto value = takeValue(name, inlineValue);
        if (!value)
            return false;
        if (value->isEmpty())
            return fail(QStringLiteral("option --address needs a host name or address"));
        inv_.address = *value;
        return true;
    }
    if (name == u"--port") {
        const auto value = takeValue(name, inlineValue);
        if (!value)
            return false;
        if (!settings::portFromText(*value))
            return fail(
                QStringLiteral("invalid port %1: expected a number from 0 to 65535").arg(quoted(*value)));
        inv_.portText = *value;
        return true;
    }
    if (name == u"--timeout") {
        const auto value = takeValue(name, inlineValue);
        if (!value)
            return false;
        const std::optional<int> ms = secondsAsMs(*value);
        if (!ms)
            return fail(QStringLiteral("invalid --timeout %1: expected seconds, more than 0 (e.g. 0.5)")
                            .arg(quoted(*value)));
        inv_.timeoutMs = *ms;
        return true;
    }
    if (takeCommandOption(name, inlineValue))
        return true;
    if (!result_.error.isEmpty())
        return false;
    return fail(QStringLiteral("unknown option %1").arg(name));
}

// The options that only mean something to one command. Returns false with no
// error set when the name is none of them.
bool Parser::takeCommandOption(const QString& name, const std::optional<QString>& inlineValue) {
    const bool interval = name == u"--interval";
    const bool duration = name == u"--duration";
    const bool count = name == u"--count";
    if (!interval && !duration && !count)
        return false;
    const bool belongs = command_ == Command::Poll || (count && command_ == Command::Ping);
    if (!belongs) {
        return fail(QStringLiteral("option %1 belongs to %2; give it after the command")
                        .arg(name, count ? QStringLiteral("poll and ping") : QStringLiteral("poll")));
    }
    const auto value = takeValue(name, inlineValue);
    if (!value)
        return false;
    if (count) {
        const std::optional<qint64> n = positiveCount(*value);
        if (!n)
            return fail(QStringLiteral("invalid --count %1: expected a whole number of 1 or more")
                            .arg(quoted(*value)));
        inv_.count = *n;
        return true;
    }
    if (interval) {
        // The window's own conversion, so 0.0005 rounds as it would there;
        // 0 ms would never tick.
        const int ms = isSecondsText(*value) ? settings::intervalMsFromText(*value) : 0;
        if (ms <= 0 || settings::leadingNumber(*value) > kLongestSeconds)
            return fail(QStringLiteral("invalid --interval %1: expected seconds from 0.001 to 86400")
                            .arg(quoted(*value)));
        inv_.intervalMs = ms;
        intervalGiven_ = true;
        return true;
    }
    const std::optional<int> ms = secondsAsMs(*value);
    if (!ms)
        return fail(
            QStringLiteral("invalid --duration %1: expected seconds, more than 0").arg(quoted(*value)));
    inv_.durationMs = *ms;
    return true;
}

bool Parser::takePositional(const QString& argument) {
    if (command_) {
        commandArgs_.append(argument);
        return true;
    }
    for (const CommandName& known : kCommands) {
        if (argument == QLatin1String(known.name)) {
            command_ = known.command;
            inv_.command = known.command;
            return true;
        }
    }
    return fail(QStringLiteral("unknown command %1").arg(quoted(argument)));
}

bool Parser::finish() {
    if (!command_)
        return fail(QStringLiteral("missing command (status, outputs, reset, poll, ping or decode)"));
    if (json_ && csv_)
        return fail(QStringLiteral("--json and --csv exclude each other"));
    inv_.format = csv_ ? Format::Csv : json_ ? Format::Json : Format::Text;

    switch (*command_) {
    case Command::Outputs: {
        if (commandArgs_.size() != 4)
            return fail(QStringLiteral("outputs needs four values, each 0 or 1 (e.g. outputs 1 0 0 1)"));
        for (int k = 0; k < 4; ++k) {
            const QString& value = commandArgs_.at(k);
            if (value != u"0" && value != u"1")
                return fail(QStringLiteral("invalid output %1 value %2: expected 0 or 1")
                                .arg(k + 1)
                                .arg(quoted(value)));
            inv_.outputs[static_cast<std::size_t>(k)] = value == u"1" ? 1 : 0;
        }
        return true;
    }
    case Command::Decode:
        if (commandArgs_.isEmpty())
            return fail(QStringLiteral("decode needs at least one file (- for standard input)"));
        inv_.files = commandArgs_;
        return true;
    case Command::Poll:
        if (!intervalGiven_)
            return fail(QStringLiteral("poll needs --interval SECONDS"));
        break;
    case Command::Status:
    case Command::Reset:
    case Command::Ping:
        break;
    }
    if (!commandArgs_.isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(quoted(commandArgs_.constFirst())));
    return true;
}

} // namespace

ParsedArguments parseArguments(const QStringList& arguments) {
    return Parser(arguments).run();
}

std::optional<int> secondsAsMs(const QString& text) {
    if (!isSecondsText(text))
        return std::nullopt;
    const double seconds = settings::leadingNumber(text);
    if (!(seconds > 0.0) || seconds > kLongestSeconds)
        return std::nullopt;
    // Anything above 0 waits at least a millisecond.
    return std::max(1, static_cast<int>(std::nearbyint(seconds * kMsPerSecond)));
}

QString commandName(Command command) {
    for (const CommandName& known : kCommands) {
        if (known.command == command)
            return QLatin1String(known.name);
    }
    return {};
}

QString versionText() {
    return QStringLiteral("%1 %2").arg(QLatin1String(kProgramName), QStringLiteral(LUMORA_VERSION));
}

QString helpText() {
    return QStringLiteral(
        R"(Usage: lumora-7150r-cli [--address HOST] [--port N] [--timeout SECONDS] [--json] COMMAND [ARGS]

Talks to a Lumora 7150R digital-I/O unit on TCP without a window, on the same
protocol, conversion, log and ping code as the client lumora-7150r-sim.

Commands:
  status                  Send the status request (52), read the 112-byte reply
                          and print inputs, counters, time gaps and outputs.
                            lumora-7150r-cli --address 127.0.0.1 --port 4000 status
  outputs D1 D2 D3 D4     Set the four outputs (each 0 or 1): sends 54 D1 D2 D3 D4.
                            lumora-7150r-cli outputs 1 0 0 1
  reset                   Reset the counters: sends 43 41.
                            lumora-7150r-cli reset
  poll --interval SECONDS [--count N] [--duration SECONDS] [--csv]
                          Repeat the status request every SECONDS, each only once
                          the previous one is answered or timed out; one line per
                          reply, a summary on standard error at the end. Stops
                          after N replies, after --duration, or on Ctrl-C/SIGTERM.
                            lumora-7150r-cli poll --interval 0.5 --count 10 --csv
  ping [--count N]        The client's ping test: one ICMP echo request a second,
                          N requests (default 4).
                            lumora-7150r-cli --address 127.0.0.1 ping --count 2
  decode FILE...          Print the RECV blocks of daily log files (Log/YYYYMMDD.txt)
                          as CSV, one row per block; - reads standard input.
                            lumora-7150r-cli decode Log/20261207.txt > replies.csv

Options:
  --address HOST          Unit's host name or IPv4/IPv6 address. Default: the
                          address the client last stored, else 192.1.1.110.
                            --address 10.0.0.7
  --port N                Unit's TCP port, 0 to 65535 (a fraction rounds half to
                          even). Default: the stored port, else 4000.
                            --port 4000
  --timeout SECONDS       Bound on connecting and on waiting for a reply
                          (default 3, fractions allowed).
                            --timeout 0.5
  --json                  JSON instead of text: one object for status, one object
                          per line for poll and decode.
                            lumora-7150r-cli --json status
  --csv                   (poll) CSV with a header row instead of text.
                            lumora-7150r-cli poll --interval 1 --csv
  --interval SECONDS      (poll) Time between requests, 0.001 to 86400.
                            poll --interval 0.001
  --count N               (poll) Stop after N replies; (ping) send N requests.
                            ping --count 10
  --duration SECONDS      (poll) Stop after SECONDS.
                            poll --interval 1 --duration 60
  --help                  Show this text.
                            lumora-7150r-cli --help
  --version               Show the version.
                            lumora-7150r-cli --version

Output: text by default. status prints four lines:
  inputs 00..11: s s s s s s s s s s s s   (0, 1 or 2 as the client shows them,
                                             ? for a value the client refuses)
  counters CH01..CH12: n ...
  time gaps CH01..CH12: t ...               (as the client shows them, e.g. 1.23)
  outputs 01..04: s s s s
poll prefixes each reply with the UTC time stamp [hh:mm:ss.mmm]. The CSV header
is time,DI00,...,DI11,CNT01,...,CNT12,GAP01,...,GAP12,DO01,...,DO04; a refused
value is an empty field in CSV and null in JSON. Diagnostics go to standard error.

Settings: the address and port the client stores in LM7100R_SIMUL.ini in
$XDG_CONFIG_HOME (usually ~/.config) are read, never written.

Exit status:
  0  done
  1  usage error (nothing sent)
  2  cannot connect or resolve
  3  no reply, or a reply of the wrong length, within the timeout
  4  a reply decoded but holding values the client refuses
  5  ping got no answer, or ICMP is not available
  6  decode skipped a block or a file
poll exits with the lowest of 2, 3 and 4 that happened during the run, else 0.
)");
}

} // namespace lumora::cli
