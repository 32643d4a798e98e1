// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/arguments.h"

#include "exporter/units.h"
#include "settings/conversions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>
#include <string_view>

namespace lumora::cli {

namespace {

using namespace Qt::StringLiterals;

constexpr int kMsPerSecond = 1000;
constexpr double kLongestSeconds = settings::kMaxIntervalMs / double(kMsPerSecond);

// Where --help puts a command's or option's name and its text; help2man
// reads the layout back into the manual page (docs/man/lumora-7150r-cli.h2m).
constexpr qsizetype kNameColumn = 2;
constexpr qsizetype kTextColumn = 26;

struct OptionEntry {
    const char* name;
    const char* valueName; // none for a switch
    // The commands it means something to, as a misplaced option's usage
    // error names them; the others refuse it. None: every command.
    const char* owners;
    const char* text; // as --help shows it, line by line
    const char* example; // none where a command's shows it
};

constexpr std::array<OptionEntry, 25> kOptions{{
    {"address", "HOST", nullptr,
     "Unit's host name or IPv4/IPv6 address. Default: the\naddress the client last stored, else 192.1.1.110.",
     "lumora-7150r-cli --address 10.0.0.7 status"},
    {"port", "N", nullptr,
     "Unit's TCP port, 0 to 65535 (a fraction rounds half to\neven). Default: the stored port, else 4000.",
     "lumora-7150r-cli --port 4000 status"},
    {"timeout", "SECONDS", nullptr,
     "Bound on connecting and on waiting for a reply\n(default 3, fractions allowed).", "lumora-7150r-cli --timeout 0.5 status"},
    {"json", nullptr, nullptr,
     "JSON instead of text: one object for status, one object\nper line for poll and decode.",
     "lumora-7150r-cli --json status"},
    {"csv", nullptr, "poll", "(poll) CSV with a header row instead of text.",
     "lumora-7150r-cli poll --interval 1 --csv"},
    {"vcd", nullptr, "decode",
     "(decode) A value change dump (VCD) for waveform viewers\ninstead of CSV: time 0 is the first block.",
     "lumora-7150r-cli decode --vcd Log/20261207.txt > day.vcd"},
    {"interval", "SECONDS", "poll and serve",
     "(poll) Time between requests, 0.001 to 86400; (serve)\nbetween a unit's requests (default 1).",
     "lumora-7150r-cli poll --interval 0.001 --duration 60 > /dev/null"},
    {"count", "N", "poll and ping", "(poll) Stop after N replies; (ping) send N requests.",
     "lumora-7150r-cli ping --count 10"},
    {"duration", "SECONDS", "poll", "(poll) Stop after SECONDS.", "lumora-7150r-cli poll --interval 1 --duration 60"},
    {"listen", "ADDR:PORT", "serve",
     "(serve) Where to serve HTTP: an IPv4 address or an IPv6\naddress in brackets. Default: 127.0.0.1:17150.",
     "lumora-7150r-cli serve --listen [::]:17150 lab7=10.0.0.7:4000"},
    {"units-file", "FILE", "serve",
     "(serve) Read units from FILE, one [NAME=]HOST:PORT a\nline, # comments; any UNIT arguments come after. "
     "A\nregular file of at most 16 MiB; SIGHUP reads it again.",
     "lumora-7150r-cli serve --units-file /etc/lumora-7150r/units"},
    {"web-config", "FILE", "serve",
     "(serve) TLS and passwords for HTTP, in the YAML of\nPrometheus' exporters: tls_server_config (cert_file,\n"
     "key_file, min_version TLS12 or TLS13) and\nbasic_auth_users (name: bcrypt hash).",
     "lumora-7150r-cli serve --web-config /etc/lumora-7150r/web.yml a=10.0.0.7:4000"},
    {"modbus", "ADDR:PORT", "serve",
     "(serve) Also serve the units over Modbus TCP there; unit\nidentifier k is the k-th unit. Off by default.",
     "lumora-7150r-cli serve --modbus 127.0.0.1:1502 lab7=10.0.0.7:4000"},
    {"modbus-writes", nullptr, "serve", "(serve) Let Modbus clients set outputs (coils).", nullptr},
    {"mqtt", "HOST:PORT", "serve",
     "(serve) Also publish the units to the MQTT broker there,\nretained. Off by default.",
     "lumora-7150r-cli serve --mqtt 127.0.0.1:1883 lab7=10.0.0.7:4000"},
    {"mqtt-prefix", "P", "serve", "(serve) What every topic starts with (default lumora).", nullptr},
    {"mqtt-user", "U", "serve", "(serve) The broker's user name; needs --mqtt-password-file.", nullptr},
    {"mqtt-password-file", "F", "serve", "(serve) The file whose first line is the broker's password.",
     nullptr},
    {"mqtt-cafile", "F", "serve", "(serve) Talk TLS to the broker, trusting the CAs in F.", nullptr},
    {"mqtt-writes", nullptr, "serve", "(serve) Let P/NAME/output/NN/set set outputs.", nullptr},
    {"junit", "FILE", "run",
     "(run) Also write the cases as JUnit XML to FILE, for a\nCI server; replaced whole, also after a signal.",
     "lumora-7150r-cli run station.yaml --junit results.xml"},
    {"tap", nullptr, "run", "(run) TAP version 13 on standard output instead of text.",
     "lumora-7150r-cli run station.yaml --tap > station.tap && prove -e cat station.tap"},
    {"stop-on-failure", nullptr, "run",
     "(run) Skip the cases after the first that fails or\nerrors; the teardown still runs.",
     "lumora-7150r-cli run station.yaml --stop-on-failure"},
    {"help", nullptr, nullptr, "Show this text.", nullptr},
    {"version", nullptr, nullptr, "Show the version.", nullptr},
}};

struct CommandEntry {
    const char* name;
    Command command;
    const char* synopsis;
    const char* text;
    const char* example;
};

constexpr std::array<CommandEntry, 8> kCommands{{
    {"status", Command::Status, "status",
     "Send the status request (52), read the 112-byte reply\nand print inputs, counters, time gaps and "
     "outputs.",
     "lumora-7150r-cli --address 127.0.0.1 --port 4000 status"},
    {"outputs", Command::Outputs, "outputs D1 D2 D3 D4",
     "Set the four outputs (each 0 or 1): sends 54 D1 D2 D3 D4.", "lumora-7150r-cli outputs 1 0 0 1"},
    {"reset", Command::Reset, "reset", "Reset the counters: sends 43 41.", "lumora-7150r-cli reset"},
    {"poll", Command::Poll, "poll --interval SECONDS [--count N] [--duration SECONDS] [--csv]",
     "Repeat the status request every SECONDS, each only once\nthe previous one is answered or timed out; "
     "one "
     "line per\nreply, a summary on standard error at the end. Stops\nafter N replies, after --duration, or "
     "on "
     "Ctrl-C/SIGTERM.",
     "lumora-7150r-cli poll --interval 0.5 --count 10 --csv"},
    {"ping", Command::Ping, "ping [--count N]",
     "The client's ping test: one ICMP echo request a second,\nN requests (default 4).",
     "lumora-7150r-cli --address 127.0.0.1 ping --count 2"},
    {"decode", Command::Decode, "decode [--vcd] FILE...",
     "Print the RECV blocks of daily log files (Log/YYYYMMDD.txt)\nas CSV, one row per block; - reads "
     "standard "
     "input.",
     "lumora-7150r-cli decode Log/20261207.txt > replies.csv"},
    {"serve", Command::Serve,
     "serve [--listen ADDR:PORT] [--interval SECONDS] [--units-file FILE]\n      [--web-config FILE] [--modbus ADDR:PORT] [--mqtt HOST:PORT] [UNIT...]",
     "Poll each UNIT ([NAME=]HOST:PORT) on its own connection\nand serve their metrics to Prometheus at "
     "/metrics, a\nstatus page at /. Runs until SIGTERM or Ctrl-C; SIGHUP\nreads the units again. At most "
     "1,500 units a second of\n--interval, 2,000 in all: more need one exporter\nper station.",
     "lumora-7150r-cli serve a=10.0.0.7:4000 b=10.0.0.8:4000"},
    {"run", Command::Run, "run PLAN [--junit FILE] [--tap] [--stop-on-failure]",
     "Run the YAML test plan PLAN: set outputs, reset counters,\nwait, and check inputs, counters and time gaps "
     "within\ntimes; one PASS or FAIL line per case. The teardown runs\nwhatever happens, Ctrl-C and SIGTERM "
     "included.",
     "lumora-7150r-cli run /usr/share/doc/lumora-7150r/examples/station.yaml"},
}};

const OptionEntry* findOption(QStringView name) {
    for (const OptionEntry& option : kOptions) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

QString nameOf(const OptionEntry& option) {
    return QLatin1String(option.name);
}

bool owns(const char* owners, std::optional<Command> command) {
    return !owners || (command && QString::fromLatin1(owners).split(u' ').contains(commandName(*command)));
}

bool isSecondsText(const QString& text) {
    static const QRegularExpression shape(u"^(\\d+\\.?\\d*|\\.\\d+)$"_s);
    return shape.match(text).hasMatch();
}

QString quoted(const QString& text) {
    return u'"' + text + u'"';
}

// The words the parser reads as options and their values: up to the "--"
// that ends the options, which is none given as an option's value
// ("--address -- status" names the host "--", as the parser reads it).
QStringList optionWords(const QStringList& words) {
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (words.at(i) == u"--")
            return words.first(i);
        const OptionEntry* option =
            words.at(i).startsWith(u"--") ? findOption(QStringView(words.at(i)).mid(2)) : nullptr;
        if (option && option->valueName)
            ++i; // its value, whatever it looks like
    }
    return words;
}

// The word that brought in an unknown name, as typed up to any "=":
// QCommandLineParser hands names back bare, and "-abc" as a, b and c.
QString unknownWord(const QStringList& words, const QString& name) {
    for (const QString& word : optionWords(words)) {
        QString typed = word.section(u'=', 0, 0);
        const bool dashes = typed.startsWith(u"--");
        const QStringView bare = QStringView(typed).mid(dashes ? 2 : 1);
        const bool known = dashes ? findOption(bare) != nullptr : bare == u"h" || bare == u"v";
        // A single-dash word is every letter of it to the parser.
        const bool bringsIn = dashes ? bare.startsWith(name) : bare.contains(name);
        if (typed.startsWith(u'-') && bringsIn && !known)
            return typed;
    }
    return (name.size() == 1 ? u"-"_s : u"--"_s) + name;
}

// The parser reads "-hx" as -h and -x, and "-help" as -h, -e, -l and -p:
// only "-h" and "-v" as typed are Qt's short help and version options; any
// other single-dash word that brings in h or v is an unknown option, as
// every single-dash word is.
std::optional<QString> runTogether(const QStringList& words) {
    for (const QString& word : optionWords(words)) {
        const QString typed = word.section(u'=', 0, 0);
        if (typed.startsWith(u'-') && !typed.startsWith(u"--") && typed != u"-h" && typed != u"-v" &&
            (typed.contains(u'h') || typed.contains(u'v')))
            return typed;
    }
    return std::nullopt;
}

// Every option in every part of the line, so that one given where it does
// not belong is named as misplaced rather than unknown.
void addOptions(QCommandLineParser& parser) {
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionEntry& option : kOptions) {
        if (option.name == std::string_view("help") || option.name == std::string_view("version"))
            continue;
        const QString text = QString::fromLatin1(option.text).replace(u'\n', u' ');
        parser.addOption(option.valueName ? QCommandLineOption(nameOf(option), text, QLatin1String(option.valueName))
                                        : QCommandLineOption(nameOf(option), text));
    }
}

bool parse(QCommandLineParser& parser, const QStringList& arguments) {
    return parser.parse(QStringList{QLatin1String(kProgramName)} + arguments);
}

// QCommandLineParser says why a value is wrong only in a sentence of its own;
// the usage error names the option the way this program always has. Runs
// only once the parser has refused the words and no name was unknown.
QString valueProblem(const QStringList& words) {
    for (const QString& word : optionWords(words)) {
        const qsizetype equals = word.indexOf(u'=');
        const OptionEntry* option =
            word.startsWith(u"--") && equals > 2 ? findOption(QStringView(word).mid(2, equals - 2)) : nullptr;
        if (option && !option->valueName)
            return u"option %1 takes no value"_s.arg(word.left(equals));
    }
    // A value can be missing only where the line ends.
    const QString last = words.value(words.size() - 1);
    const OptionEntry* option = last.startsWith(u"--") ? findOption(QStringView(last).mid(2)) : nullptr;
    if (option && option->valueName)
        return u"option %1 needs a value"_s.arg(last);
    return {};
}

// Whether a "--" among the words before the command ended the options, so
// that everything after the command is an operand.
bool endsOptions(const QStringList& head) {
    return optionWords(head).size() < head.size();
}

// The line is read in two parts: up to the command, and the command's own.
class Reader {
public:
    ParsedArguments read(const QStringList& arguments);

private:
    bool fail(const QString& error) {
        if (error_.isEmpty())
            error_ = error;
        return false;
    }
    bool accepted(const QCommandLineParser& part, bool parsed, const QStringList& words);
    bool placed(const QCommandLineParser& part, std::optional<Command> command);
    bool takeShared(const QCommandLineParser& part);
    bool takeCommand(const std::optional<QString>& word);
    bool takeCommandOptions(const QCommandLineParser& part);
    bool takeGateway(const QCommandLineParser& part);
    bool takeOperands(const QCommandLineParser& part);

    Invocation inv_;
    QString error_;
    bool json_ = false;
    bool csv_ = false;
    bool vcd_ = false;
};

ParsedArguments Reader::read(const QStringList& arguments) {
    ParsedArguments result;
    QCommandLineParser head;
    addOptions(head);
    // The first word that is no option is the command, and what follows it
    // comes back word for word, for the second part.
    head.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const bool headParsed = parse(head, arguments);
    QStringList tail = head.positionalArguments();
    std::optional<QString> word;
    if (!tail.isEmpty())
        word = tail.takeFirst();
    if (word && endsOptions(arguments.first(arguments.size() - tail.size() - 1)))
        tail.prepend(u"--"_s);
    QCommandLineParser own;
    addOptions(own);
    const bool ownParsed = word && parse(own, tail);

    // Help and version win over anything else on the line, as in most tools.
    const auto given = [&](const char* name) {
        return head.isSet(QLatin1String(name)) || (word && own.isSet(QLatin1String(name)));
    };
    const bool help = given("help") || given("help-all");
    if (help || given("version")) {
        const std::optional<QString> word = runTogether(arguments);
        result.error = word ? u"unknown option %1"_s.arg(*word) : QString();
        result.outcome = word   ? ParsedArguments::Outcome::UsageError
                         : help ? ParsedArguments::Outcome::Help
                                : ParsedArguments::Outcome::Version;
        return result;
    }

    const bool ok = accepted(head, headParsed, arguments) && placed(head, std::nullopt) && takeShared(head) &&
                    takeCommand(word) && accepted(own, ownParsed, tail) && placed(own, inv_.command) &&
                    takeShared(own) && takeCommandOptions(own) && takeOperands(own);
    result.invocation = inv_;
    result.error = error_;
    result.outcome = ok ? ParsedArguments::Outcome::Run : ParsedArguments::Outcome::UsageError;
    return result;
}

bool Reader::accepted(const QCommandLineParser& part, bool parsed, const QStringList& words) {
    if (parsed)
        return true;
    if (!part.unknownOptionNames().isEmpty())
        return fail(u"unknown option %1"_s.arg(unknownWord(words, part.unknownOptionNames().constFirst())));
    const QString problem = valueProblem(words);
    return fail(problem.isEmpty() ? part.errorText() : problem);
}

// A command's own options only after it, and only after a command they mean
// something to.
bool Reader::placed(const QCommandLineParser& part, std::optional<Command> command) {
    for (const OptionEntry& option : kOptions) {
        if (part.isSet(nameOf(option)) && !owns(option.owners, command)) {
            return fail(u"option --%1 belongs to %2; give it after the command"_s.arg(
                nameOf(option), QLatin1String(option.owners)));
        }
    }
    return true;
}

// Options of every command, before or after it; each value given must pass,
// and the last one counts.
bool Reader::takeShared(const QCommandLineParser& part) {
    json_ = json_ || part.isSet(u"json"_s);
    for (const QString& value : part.values(u"address"_s)) {
        if (value.isEmpty())
            return fail(u"option --address needs a host name or address"_s);
        inv_.address = value;
    }
    for (const QString& value : part.values(u"port"_s)) {
        if (!settings::portFromText(value))
            return fail(u"invalid port %1: expected a number from 0 to 65535"_s.arg(quoted(value)));
        inv_.portText = value;
    }
    for (const QString& value : part.values(u"timeout"_s)) {
        const std::optional<int> ms = secondsAsMs(value);
        if (!ms)
            return fail(
                u"invalid --timeout %1: expected seconds, more than 0 (e.g. 0.5)"_s.arg(quoted(value)));
        inv_.timeoutMs = *ms;
    }
    return true;
}

bool Reader::takeCommand(const std::optional<QString>& word) {
    if (!word)
        return fail(u"missing command (status, outputs, reset, poll, ping, decode, serve or run)"_s);
    for (const CommandEntry& known : kCommands) {
        if (*word == QLatin1String(known.name)) {
            inv_.command = known.command;
            return true;
        }
    }
    return fail(u"unknown command %1"_s.arg(quoted(*word)));
}

bool Reader::takeCommandOptions(const QCommandLineParser& part) {
    csv_ = part.isSet(u"csv"_s);
    vcd_ = part.isSet(u"vcd"_s);
    for (const QString& value : part.values(u"count"_s)) {
        const std::optional<qint64> count = countFromText(value);
        if (!count)
            return fail(u"invalid --count %1: expected a whole number of 1 or more"_s.arg(quoted(value)));
        inv_.count = *count;
    }
    for (const QString& value : part.values(u"interval"_s)) {
        const std::optional<int> ms = intervalAsMs(value);
        if (!ms)
            return fail(u"invalid --interval %1: expected seconds from 0.001 to 86400"_s.arg(quoted(value)));
        inv_.intervalMs = *ms;
    }
    for (const QString& value : part.values(u"duration"_s)) {
        const std::optional<int> ms = secondsAsMs(value);
        if (!ms)
            return fail(u"invalid --duration %1: expected seconds, more than 0"_s.arg(quoted(value)));
        inv_.durationMs = *ms;
    }
    for (const QString& value : part.values(u"listen"_s)) {
        QString why;
        inv_.listen = exporter::listenAddressFromText(value, why);
        if (!inv_.listen)
            return fail(u"invalid --listen %1: %2"_s.arg(quoted(value), why));
    }
    for (const QString& value : part.values(u"units-file"_s)) {
        if (value.isEmpty())
            return fail(u"option --units-file needs a file name"_s);
        inv_.unitsFile = value;
    }
    if (!takeGateway(part))
        return false;
    for (const QString& value : part.values(u"junit"_s)) {
        if (value.isEmpty())
            return fail(u"option --junit needs a file name"_s);
        inv_.junitFile = value;
    }
    inv_.tap = part.isSet(u"tap"_s);
    inv_.stopOnFailure = part.isSet(u"stop-on-failure"_s);
    return true;
}

// serve's other fronts. An option of a front that is not asked for is a
// mistake worth telling, not one to ignore.
bool Reader::takeGateway(const QCommandLineParser& part) {
    GatewayOptions& gw = inv_.gateway;
    for (const QString& value : part.values(u"web-config"_s)) {
        if (value.isEmpty())
            return fail(u"option --web-config needs a file name"_s);
        gw.webConfig = value;
    }
    for (const QString& value : part.values(u"modbus"_s)) {
        QString why;
        gw.modbus = exporter::listenAddressFromText(value, why);
        if (!gw.modbus)
            return fail(u"invalid --modbus %1: %2"_s.arg(quoted(value), why));
    }
    gw.modbusWrites = part.isSet(u"modbus-writes"_s);
    if (gw.modbusWrites && !gw.modbus)
        return fail(u"option --modbus-writes needs --modbus"_s);
    for (const QString& value : part.values(u"mqtt"_s)) {
        QString why;
        gw.mqtt = settings::hostPortFromText(value, why);
        if (!gw.mqtt || gw.mqtt->port == 0)
            return fail(u"invalid --mqtt %1: %2"_s.arg(quoted(value), gw.mqtt ? u"port 0 is no broker's"_s : why));
    }
    for (const QString& value : part.values(u"mqtt-prefix"_s)) {
        // A wildcard or an empty level would make topics no subscriber can tell apart.
        if (value.isEmpty() || value.contains(u'+') || value.contains(u'#') || value.contains(QChar(0)) ||
            value.startsWith(u'/') || value.endsWith(u'/') || value.contains(u"//"_s) || value.toUtf8().size() > 200)
            return fail(u"invalid --mqtt-prefix %1: expected topic levels without + or #, none empty"_s.arg(
                quoted(value)));
        gw.mqttPrefix = value;
    }
    const auto fileValue = [&](const char* name, QString& into) {
        for (const QString& value : part.values(QLatin1String(name))) {
            if (value.isEmpty())
                return fail(u"option --%1 needs a file name"_s.arg(QLatin1String(name)));
            into = value;
        }
        return true;
    };
    for (const QString& value : part.values(u"mqtt-user"_s))
        gw.mqttUser = value;
    if (!fileValue("mqtt-password-file", gw.mqttPasswordFile) || !fileValue("mqtt-cafile", gw.mqttCafile))
        return false;
    gw.mqttWrites = part.isSet(u"mqtt-writes"_s);
    for (const char* name : {"mqtt-prefix", "mqtt-user", "mqtt-password-file", "mqtt-cafile", "mqtt-writes"}) {
        if (!gw.mqtt && part.isSet(QLatin1String(name)))
            return fail(u"option --%1 needs --mqtt"_s.arg(QLatin1String(name)));
    }
    if (gw.mqttUser.isEmpty() != gw.mqttPasswordFile.isEmpty())
        return fail(u"options --mqtt-user and --mqtt-password-file go together"_s);
    return true;
}

bool Reader::takeOperands(const QCommandLineParser& part) {
    if (json_ && csv_)
        return fail(u"--json and --csv exclude each other"_s);
    if (vcd_ && (json_ || csv_))
        return fail(u"--vcd and --%1 exclude each other"_s.arg(json_ ? u"json"_s : u"csv"_s));
    inv_.format = vcd_ ? Format::Vcd : csv_ ? Format::Csv : json_ ? Format::Json : Format::Text;

    const QStringList operands = part.positionalArguments();
    switch (inv_.command) {
    case Command::Outputs:
        if (operands.size() != std::ssize(inv_.outputs))
            return fail(u"outputs needs four values, each 0 or 1 (e.g. outputs 1 0 0 1)"_s);
        for (std::size_t k = 0; k < inv_.outputs.size(); ++k) {
            const QString& value = operands.at(qsizetype(k));
            const std::optional<int> state = outputFromText(value);
            if (!state)
                return fail(u"invalid output %1 value %2: expected 0 or 1"_s.arg(k + 1).arg(quoted(value)));
            inv_.outputs.at(k) = *state;
        }
        return true;
    case Command::Decode:
        if (operands.isEmpty())
            return fail(u"decode needs at least one file (- for standard input)"_s);
        inv_.files = operands;
        return true;
    case Command::Poll:
        if (!part.isSet(u"interval"_s))
            return fail(u"poll needs --interval SECONDS"_s);
        break;
    case Command::Serve:
        // Each unit has its own address; one for all would mean nothing.
        if (inv_.address || inv_.portText)
            return fail(u"serve takes units as [NAME=]HOST:PORT, not --address or --port"_s);
        if (json_)
            return fail(u"serve answers in Prometheus' format; --json means nothing to it"_s);
        if (inv_.intervalMs == 0)
            inv_.intervalMs = kDefaultServeIntervalMs;
        inv_.units = operands;
        return true;
    case Command::Run:
        if (json_)
            return fail(u"run reports as text, TAP or JUnit; --json means nothing to it"_s);
        if (operands.size() != 1)
            return fail(operands.isEmpty() ? u"run needs a plan file"_s
                                           : u"unexpected argument %1"_s.arg(quoted(operands.at(1))));
        inv_.planFile = operands.constFirst();
        return true;
    case Command::Status:
    case Command::Reset:
    case Command::Ping:
        break;
    }
    if (!operands.isEmpty())
        return fail(u"unexpected argument %1"_s.arg(quoted(operands.constFirst())));
    return true;
}

// One command or option in --help: its name and its text beside it (below
// it when the name is too long).
QString helpEntry(const QString& name, const char* text) {
    QString entry = QString(kNameColumn, u' ') + name;
    if (entry.size() + kNameColumn > kTextColumn)
        entry += u'\n' + QString(kTextColumn, u' ');
    else
        entry = entry.leftJustified(kTextColumn);
    entry += QString::fromLatin1(text).replace(u"\n"_s, u'\n' + QString(kTextColumn, u' '));
    return entry + u'\n';
}

// A command line as typed at a shell prompt, which help2man sets apart.
QString exampleLine(const char* example) {
    return example ? u"  $ "_s + QLatin1String(example) + u'\n' : QString();
}

} // namespace

ParsedArguments parseArguments(const QStringList& arguments) {
    return Reader().read(arguments);
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

std::optional<int> intervalAsMs(const QString& text) {
    if (!isSecondsText(text) || settings::leadingNumber(text) > kLongestSeconds)
        return std::nullopt;
    const int ms = settings::intervalMsFromText(text);
    if (ms <= 0)
        return std::nullopt;
    return ms;
}

std::optional<qint64> countFromText(const QString& text) {
    static const QRegularExpression digits(u"^\\d+$"_s);
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 1)
        return std::nullopt;
    return value;
}

std::optional<int> outputFromText(const QString& text) {
    if (text == u"0")
        return 0;
    if (text == u"1")
        return 1;
    return std::nullopt;
}

QString commandName(Command command) {
    for (const CommandEntry& known : kCommands) {
        if (known.command == command)
            return QLatin1String(known.name);
    }
    return {};
}

QString versionText() {
    return u"%1 %2"_s.arg(QLatin1String(kProgramName), QStringLiteral(LUMORA_VERSION));
}

QString helpText() {
    QString commands;
    QString examples;
    for (const CommandEntry& command : kCommands) {
        commands += helpEntry(QLatin1String(command.synopsis), command.text);
        examples += exampleLine(command.example);
    }
    QString options;
    for (const OptionEntry& option : kOptions) {
        const QString name = u"--"_s + nameOf(option);
        options += helpEntry(option.valueName ? name + u' ' + QLatin1String(option.valueName) : name, option.text);
        examples += exampleLine(option.example);
    }
    // The headings are the ones help2man turns into the page's sections.
    return uR"(Usage: lumora-7150r-cli [--address HOST] [--port N] [--timeout SECONDS] [--json] COMMAND [ARGS]

Talks to a Lumora 7150R digital-I/O unit (twelve inputs with counters and time
gaps, four outputs) on TCP without a window, for scripts, test stations, SSH
sessions and CI: on the protocol, conversion, log and ping code of the client
lumora-7150r-sim, it sends the same bytes and shows every value as it does.

Commands:
%1
Options:
%2
Output: text by default. status prints four lines:
  inputs 00..11: s s s s s s s s s s s s   (0, 1 or 2 as the client shows them,
                                             ? for a value the client refuses)
  counters CH01..CH12: n ...
  time gaps CH01..CH12: t ...               (as the client shows them, e.g. 1.23)
  outputs 01..04: s s s s
poll prefixes each reply with the UTC time stamp [hh:mm:ss.mmm]. The CSV header
is time,DI00,...,DI11,CNT01,...,CNT12,GAP01,...,GAP12,DO01,...,DO04; a refused
value is an empty field in CSV and null in JSON. Diagnostics go to standard error.

Exit status:
  0  done
  1  usage error (nothing sent)
  2  cannot connect or resolve
  3  no reply, or a reply of the wrong length, within the timeout
  4  a reply decoded but holding values the client refuses
  5  ping got no answer, or ICMP is not available
  6  decode skipped a block or a file
  7  serve cannot listen on its address
  8  run: a case failed or errored (2: the unit could not be reached
     before the first step; 1: a plan error, reported as FILE:LINE:COLUMN)
  130, 143  run stopped by Ctrl-C or SIGTERM, after its teardown and reports
poll exits with the lowest of 2, 3 and 4 that happened during the run, else 0.
serve exits 0 on SIGTERM or Ctrl-C, and 1 on a bad unit, units file line or
web config (named as FILE:LINE) or more units than it serves, before any unit
is polled.

Files:
  $XDG_CONFIG_HOME/LM7100R_SIMUL.ini
                          The client's settings (usually in ~/.config): the
                          address and port stored there are the defaults of
                          --address and --port; read, never written.

Examples:
%3)"_s.arg(commands, options, examples);
}

} // namespace lumora::cli
