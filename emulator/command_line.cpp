// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace lumora::emulator {

namespace {

constexpr int kMaxReplyBytes = 65536;
constexpr int kDecimal = 10;

const QString kListen = QStringLiteral("listen");
const QString kSeed = QStringLiteral("seed");
const QString kQuiet = QStringLiteral("quiet");
const QString kSplit = QStringLiteral("split");
const QString kNoReply = QStringLiteral("no-reply");
const QString kReplyBytes = QStringLiteral("reply-bytes");
const QString kCloseAfter = QStringLiteral("close-after");
const QString kChaos = QStringLiteral("chaos");
const QString kBadInput = QStringLiteral("bad-input");
const QString kFlood = QStringLiteral("flood");
const QString kNeverRead = QStringLiteral("never-read");
const QString kUnits = QStringLiteral("units");
const QString kWire = QStringLiteral("wire");
const QString kWireDelay = QStringLiteral("wire-delay");
const QString kBounce = QStringLiteral("bounce");
const QString kPulse = QStringLiteral("pulse");

constexpr int kMaxBounce = 1000;
constexpr double kMaxWireDelaySeconds = 60;
constexpr double kMsPerSecond = 1000;

std::optional<int> intIn(const QString& text, int lowest, int highest) {
    bool ok = false;
    const int value = text.toInt(&ok, kDecimal);
    if (!ok || value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> seedFrom(const QString& text) {
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, kDecimal);
    // toULongLong accepts a leading '-' and wraps; a seed is never negative.
    if (!ok || text.trimmed().startsWith(QLatin1Char('-'))) {
        return std::nullopt;
    }
    return value;
}

struct Endpoint {
    QHostAddress address;
    quint16 port = 0;
};

std::optional<Endpoint> endpointFrom(const QString& text) {
    QString host;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QStringLiteral("]:"));
        if (close < 0) {
            return std::nullopt;
        }
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            return std::nullopt;
        }
        host = text.left(colon);
        port = text.mid(colon + 1);
        // A bare IPv6 address would be ambiguous about where the port starts.
        if (host.contains(QLatin1Char(':'))) {
            return std::nullopt;
        }
    }
    Endpoint endpoint;
    if (!endpoint.address.setAddress(host)) {
        return std::nullopt;
    }
    const std::optional<int> number = intIn(port, 0, std::numeric_limits<quint16>::max());
    if (!number) {
        return std::nullopt;
    }
    endpoint.port = static_cast<quint16>(*number);
    return endpoint;
}

// A channel as the window captions it: "03", or "3".
std::optional<int> channelFrom(const QString& text, int lowest, int highest) {
    if (text.isEmpty() || text.size() > 2 ||
        !std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); })) {
        return std::nullopt;
    }
    return intIn(text, lowest, highest);
}

QString channelName(int channel) {
    return QStringLiteral("%1").arg(channel, 2, kDecimal, QLatin1Char('0'));
}

// "01=00,02=01+05" into wiring.drives; what is wrong with it, or nothing.
QString readWires(const QString& text, Wiring& wiring) {
    QString malformed = QStringLiteral("invalid value \"%1\" for --wire: expected OUT=IN[+IN...] "
                                       "separated by commas, such as 01=00,02=01+05")
                            .arg(text);
    for (const QString& entry : text.split(QLatin1Char(','))) {
        const QStringList sides = entry.split(QLatin1Char('='));
        if (sides.size() != 2) {
            return malformed;
        }
        const std::optional<int> output = channelFrom(sides.at(0), 1, kOutputCount);
        if (!output) {
            return sides.at(0).isEmpty()
                       ? malformed
                       : QStringLiteral("--wire: there is no output \"%1\"; outputs are 01 to %2")
                             .arg(sides.at(0), channelName(kOutputCount));
        }
        for (const QString& name : sides.at(1).split(QLatin1Char('+'))) {
            const std::optional<int> input = channelFrom(name, 0, kInputCount - 1);
            if (!input) {
                return name.isEmpty()
                           ? malformed
                           : QStringLiteral("--wire: there is no input \"%1\"; inputs are 00 to %2")
                                 .arg(name, channelName(kInputCount - 1));
            }
            wiring.drives[std::size_t(*output - 1)] |= std::uint16_t(1U << *input);
        }
    }
    return {};
}

// "03=100,04=0.5" into wiring.pulseMilliHz; what is wrong with it, or nothing.
QString readPulses(const QString& text, Wiring& wiring) {
    for (const QString& entry : text.split(QLatin1Char(','))) {
        const QStringList sides = entry.split(QLatin1Char('='));
        const std::optional<int> input =
            sides.size() == 2 ? channelFrom(sides.at(0), 0, kInputCount - 1) : std::nullopt;
        if (!input) {
            return QStringLiteral("invalid value \"%1\" for --pulse: expected IN=HZ separated by commas, "
                                  "inputs 00 to %2, such as 03=100")
                .arg(text, channelName(kInputCount - 1));
        }
        bool ok = false;
        const double hertz = sides.at(1).toDouble(&ok);
        const double milliHz = std::round(hertz * kMilliHzPerHz);
        if (!ok || !std::isfinite(hertz) || milliHz < 1 || milliHz > double(kMaxPulseMilliHz)) {
            return QStringLiteral(
                       "--pulse: rate \"%1\" of input %2 is not a number of hertz from 0.001 to %3")
                .arg(sides.at(1), channelName(*input))
                .arg(kMaxPulseMilliHz / kMilliHzPerHz);
        }
        std::int64_t& rate = wiring.pulseMilliHz[std::size_t(*input)];
        if (rate != 0) {
            return QStringLiteral("--pulse: input %1 is given twice").arg(channelName(*input));
        }
        rate = std::int64_t(milliHz);
    }
    return {};
}

CommandLine failure(const QString& text) {
    CommandLine result;
    result.outcome = CommandLine::Outcome::Error;
    result.text = text;
    return result;
}

QString badValue(const QString& option, const QString& value, const QString& expected) {
    return QStringLiteral("invalid value \"%1\" for --%2: expected %3").arg(value, option, expected);
}

} // namespace

CommandLine parseCommandLine(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays a Lumora 7150R digital-I/O unit on TCP, so the test client can be tried\n"
                       "without hardware. Prints every frame received and every reply sent."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({
        {kListen,
         QStringLiteral("Address and port to listen on, port 0 for any free one (default 127.0.0.1:4000); an "
                        "IPv6 address goes in brackets, such as [::1]:4000."),
         QStringLiteral("addr:port")},
        {kSeed, QStringLiteral("Seed of the input pattern (default %1).").arg(kDefaultSeed),
         QStringLiteral("n")},
        {kQuiet, QStringLiteral("Do not print a line per frame.")},
        {kSplit, QStringLiteral("Send the first n bytes of each reply, the rest a moment later."),
         QStringLiteral("n")},
        {kNoReply, QStringLiteral("Never answer a status request.")},
        {kReplyBytes,
         QStringLiteral("Answer with n bytes instead of %1 (zero-padded).").arg(kStatusReplySize),
         QStringLiteral("n")},
        {kCloseAfter, QStringLiteral("Close a connection once it has sent n frames."), QStringLiteral("n")},
        {kChaos,
         QStringLiteral("Misbehave now and then, at random from this seed: split, wrong-length and missing "
                        "replies and closed connections."),
         QStringLiteral("seed")},
        {kBadInput, QStringLiteral("Answer with input 00 set to 05, a value the client refuses to show.")},
        {kFlood,
         QStringLiteral("After the first reply, send zero bytes for as long as the client takes them.")},
        {kNeverRead,
         QStringLiteral("Accept connections but never read from them, with a small receive buffer. Not "
                        "with --no-reply, --flood or --bad-input.")},
        {kUnits,
         QStringLiteral("Play n units (1 to %1, default 1) on n consecutive ports from the --listen one, "
                        "which must then not be 0, up to port 65535; unit i (from 0) plays the input pattern "
                        "of seed + i, and every other option applies to each. If one of the ports cannot be "
                        "had, none is kept.")
             .arg(kMaxUnits),
         QStringLiteral("n")},
        {kWire,
         QStringLiteral("Wire outputs (01 to 04) back to inputs (00 to 11), such as 01=00,02=01+05: output "
                        "01 drives input 00, output 02 inputs 01 and 05. An input driven by several outputs "
                        "is high while any of them is on (not 00)."),
         QStringLiteral("out=in[+in...][,...]")},
        {kWireDelay,
         QStringLiteral("Time from an output setting to the wired inputs, 0 to %1, to the millisecond "
                        "(default %2); counted from the end of the millisecond in which the setting "
                        "arrived, so a wire is never faster.")
             .arg(kMaxWireDelaySeconds)
             .arg(double(kDefaultWireDelayMs) / kMsPerSecond),
         QStringLiteral("seconds")},
        {kBounce,
         QStringLiteral("After each wired rise, n extra pulses of 1 ms low and 1 ms high, each counted "
                        "(0 to %1, default 0).")
             .arg(kMaxBounce),
         QStringLiteral("n")},
        {kPulse,
         QStringLiteral("A square wave on these inputs, such as 03=100, low for the first half of each "
                        "period from the start, 0.001 to %1 Hz. An input both wired and pulsed is "
                        "refused.")
             .arg(kMaxPulseMilliHz / kMilliHzPerHz),
         QStringLiteral("in=hz[,...]")},
    });

    if (!parser.parse(args)) {
        return failure(parser.errorText());
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        CommandLine result;
        result.outcome = CommandLine::Outcome::Help;
        // Qt's usage line names the program by the path it was started from.
        result.text = parser.helpText().replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                                                QStringLiteral("Usage: ") + QLatin1String(kProgramName)) +
                      QStringLiteral(R"(
Exit status:
  0  stopped by SIGINT or SIGTERM, or the help or version was printed
  1  it could not listen on the address and port (with --units, on one of the
     ports)
  2  an option or its value was not understood; the message says which
  3  it could not watch for SIGINT and SIGTERM, so it did not start
)");
        return result;
    }
    if (parser.isSet(version)) {
        CommandLine result;
        result.outcome = CommandLine::Outcome::Version;
        result.text = QLatin1String(kProgramName) + QStringLiteral(" " LUMORA_VERSION);
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return failure(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst()));
    }

    CommandLine result;
    Options& options = result.options;
    Behaviour& behaviour = options.behaviour;
    if (parser.isSet(kListen)) {
        const QString value = parser.value(kListen);
        const std::optional<Endpoint> endpoint = endpointFrom(value);
        if (!endpoint) {
            return failure(
                badValue(kListen, value, QStringLiteral("ADDR:PORT such as 127.0.0.1:4000 or [::1]:4000")));
        }
        options.address = endpoint->address;
        options.port = endpoint->port;
    }
    if (parser.isSet(kSeed)) {
        const std::optional<std::uint64_t> seed = seedFrom(parser.value(kSeed));
        if (!seed) {
            return failure(badValue(kSeed, parser.value(kSeed), QStringLiteral("an unsigned 64-bit number")));
        }
        behaviour.seed = *seed;
    }
    if (parser.isSet(kChaos)) {
        const std::optional<std::uint64_t> seed = seedFrom(parser.value(kChaos));
        if (!seed) {
            return failure(
                badValue(kChaos, parser.value(kChaos), QStringLiteral("an unsigned 64-bit number")));
        }
        behaviour.chaosSeed = *seed;
    }
    behaviour.quiet = parser.isSet(kQuiet);
    behaviour.noReply = parser.isSet(kNoReply);
    behaviour.badInput = parser.isSet(kBadInput);
    behaviour.flood = parser.isSet(kFlood);
    behaviour.neverRead = parser.isSet(kNeverRead);
    if (parser.isSet(kReplyBytes)) {
        const std::optional<int> bytes = intIn(parser.value(kReplyBytes), 1, kMaxReplyBytes);
        if (!bytes) {
            return failure(badValue(kReplyBytes, parser.value(kReplyBytes),
                                    QStringLiteral("a number from 1 to %1").arg(kMaxReplyBytes)));
        }
        behaviour.replyBytes = *bytes;
    }
    if (parser.isSet(kSplit)) {
        const std::optional<int> split = intIn(parser.value(kSplit), 1, behaviour.replyBytes - 1);
        if (!split) {
            return failure(badValue(kSplit, parser.value(kSplit),
                                    QStringLiteral("a number from 1 to %1 (one less than the reply length)")
                                        .arg(behaviour.replyBytes - 1)));
        }
        behaviour.splitAt = *split;
    }
    if (parser.isSet(kCloseAfter)) {
        const std::optional<int> frames =
            intIn(parser.value(kCloseAfter), 1, std::numeric_limits<int>::max());
        if (!frames) {
            return failure(
                badValue(kCloseAfter, parser.value(kCloseAfter), QStringLiteral("a positive number")));
        }
        behaviour.closeAfterFrames = *frames;
    }
    if (parser.isSet(kUnits)) {
        const std::optional<int> units = intIn(parser.value(kUnits), 1, kMaxUnits);
        if (!units) {
            return failure(badValue(kUnits, parser.value(kUnits),
                                    QStringLiteral("a number from 1 to %1").arg(kMaxUnits)));
        }
        options.units = *units;
    }
    Wiring& wiring = behaviour.wiring;
    if (parser.isSet(kWire)) {
        if (const QString why = readWires(parser.value(kWire), wiring); !why.isEmpty()) {
            return failure(why);
        }
    }
    if (parser.isSet(kPulse)) {
        if (const QString why = readPulses(parser.value(kPulse), wiring); !why.isEmpty()) {
            return failure(why);
        }
    }
    for (int k = 0; k < kInputCount; ++k) {
        if (wiring.driversOf(k) != 0 && wiring.pulsed(k)) {
            return failure(
                QStringLiteral("input %1 is both wired (--wire) and pulsed (--pulse)").arg(channelName(k)));
        }
    }
    if (parser.isSet(kWireDelay)) {
        bool ok = false;
        const double seconds = parser.value(kWireDelay).toDouble(&ok);
        if (!ok || !(seconds >= 0 && seconds <= kMaxWireDelaySeconds)) {
            return failure(badValue(kWireDelay, parser.value(kWireDelay),
                                    QStringLiteral("seconds from 0 to %1").arg(kMaxWireDelaySeconds)));
        }
        wiring.delayMs = std::llround(seconds * kMsPerSecond);
    }
    if (parser.isSet(kBounce)) {
        const std::optional<int> bounce = intIn(parser.value(kBounce), 0, kMaxBounce);
        if (!bounce) {
            return failure(badValue(kBounce, parser.value(kBounce),
                                    QStringLiteral("a number from 0 to %1").arg(kMaxBounce)));
        }
        wiring.bounce = *bounce;
    }
    // Any free port for each would scatter the units; a rack is found by its first port.
    if (options.units > 1 && options.port == 0) {
        return failure(QStringLiteral("--units above 1 needs a port other than 0 in --listen"));
    }
    if (options.port + options.units - 1 > std::numeric_limits<quint16>::max()) {
        return failure(QStringLiteral("--units %1 from port %2 runs past port %3")
                           .arg(options.units)
                           .arg(options.port)
                           .arg(std::numeric_limits<quint16>::max()));
    }
    if (behaviour.noReply && (parser.isSet(kSplit) || parser.isSet(kReplyBytes))) {
        return failure(QStringLiteral("--no-reply cannot be combined with --split or --reply-bytes"));
    }
    if (behaviour.neverRead && (behaviour.noReply || behaviour.flood || behaviour.badInput)) {
        return failure(QStringLiteral("--never-read answers nothing: it cannot be combined with --no-reply, "
                                      "--flood or --bad-input"));
    }
    return result;
}

} // namespace lumora::emulator
