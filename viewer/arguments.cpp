// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/arguments.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

namespace lumora::viewer {

using namespace Qt::StringLiterals;

namespace {

QString quoted(const QString& text) {
    return u'"' + text + u'"';
}

constexpr auto kExport = "export";
constexpr auto kMeasure = "measure";
constexpr auto kFrom = "from";
constexpr auto kTo = "to";
constexpr auto kSize = "size";

// The word that brought in an unknown name, as typed up to any "=";
// QCommandLineParser hands names back bare.
QString typedWord(const QStringList& words, const QString& name) {
    for (const QString& word : words) {
        if (word == u"--")
            break;
        QString typed = word.section(u'=', 0, 0);
        if (typed == u"-"_s + name || typed == u"--"_s + name)
            return typed;
    }
    return u"--"_s + name;
}

struct BuiltIns {
    QCommandLineOption help;
    QCommandLineOption version;
};

// The line's options and their help, for reading the line and for --help.
BuiltIns describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        u"Shows the status replies in daily log files (YYYYMMDD.txt) of the Lumora 7150R\n"
        u"client as signals over time: the inputs and outputs as logic lanes, the\n"
        u"counters and time gaps as steps, on one UTC time axis. Several files are one\n"
        u"timeline. With --export it writes the timeline, or a span of it, to OUT and\n"
        u"shows no window (it needs no display); with --measure it prints the span's\n"
        u"measurements as JSON."_s);
    // "-from" is the option "from" mistyped, not f, r, o and m.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    BuiltIns builtIns{parser.addHelpOption(), parser.addVersionOption()};
    parser.addOptions({
        {QLatin1String(kExport),
         u"Write to OUT by its extension: .png or .svg, a picture as the window draws it; .csv, the "
         u"columns of lumora-7150r-cli decode; .vcd, a value change dump for waveform viewers, as "
         u"lumora-7150r-cli decode --vcd writes it."_s,
         u"OUT"_s},
        {QLatin1String(kMeasure),
         u"Print the span's measurements as one JSON object: per input its edges, time high, duty, "
         u"period and high width; per counter its pulses, rate and the pulses the polls missed; per "
         u"time gap its min, mean and max; and the findings missed_pulses and counter_stuck."_s},
        {QLatin1String(kFrom),
         u"Start of the span: a UTC time of day hh:mm:ss[.mmm] on the UTC day of the first reply "
         u"(default: the earliest reply). Only with --export or --measure."_s,
         u"TIME"_s},
        {QLatin1String(kTo),
         u"End of the span, likewise; a time before --from is on the next day (default: just after "
         u"the latest reply). Only with --export or --measure."_s,
         u"TIME"_s},
        {QLatin1String(kSize),
         u"Size of an exported picture in pixels, each side from 1 to %1 (default %2x%3). Only with "
         u"--export."_s.arg(kLargestSide)
             .arg(kDefaultPictureSize.width())
             .arg(kDefaultPictureSize.height()),
         u"WxH"_s},
    });
    parser.addPositionalArgument(u"FILE"_s, u"A daily log file; several are one timeline."_s, u"[FILE...]"_s);
    return builtIns;
}

QString parseProblem(const QCommandLineParser& parser, const QStringList& words) {
    if (!parser.unknownOptionNames().isEmpty())
        return u"unknown option %1"_s.arg(typedWord(words, parser.unknownOptionNames().constFirst()));
    // Otherwise a value is missing, which can happen only where the line ends.
    const QString last = words.value(words.size() - 1);
    for (const char* name : {kExport, kFrom, kTo, kSize}) {
        if (last == u"--"_s + QLatin1String(name))
            return u"option %1 needs a value"_s.arg(last);
    }
    return parser.errorText();
}

} // namespace

std::optional<QTime> timeOfDayFromText(const QString& text) {
    static const QRegularExpression shape(u"^\\d\\d:\\d\\d:\\d\\d(\\.\\d\\d\\d)?$"_s);
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    const QTime time = QTime::fromString(text, text.size() > 8 ? u"hh:mm:ss.zzz"_s : u"hh:mm:ss"_s);
    if (!time.isValid())
        return std::nullopt;
    return time;
}

std::optional<QSize> pictureSizeFromText(const QString& text) {
    static const QRegularExpression shape(u"^(\\d{1,5})x(\\d{1,5})$"_s);
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QSize size(match.captured(1).toInt(), match.captured(2).toInt());
    if (size.width() < 1 || size.height() < 1 || size.width() > kLargestSide || size.height() > kLargestSide)
        return std::nullopt;
    return size;
}

bool knownExportExtension(const QString& path) {
    const QString suffix = QFileInfo(path).suffix();
    return suffix == u"png" || suffix == u"svg" || suffix == u"csv" || suffix == u"vcd";
}

ParsedArguments parseArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    const BuiltIns builtIns = describe(parser);

    ParsedArguments result;
    const auto usageError = [&result](const QString& error) {
        result.outcome = ParsedArguments::Outcome::UsageError;
        result.error = error;
        return result;
    };
    if (!parser.parse(QStringList{QLatin1String(kProgramName)} + arguments))
        return usageError(parseProblem(parser, arguments));
    // Help and version win over anything else on the line.
    if (parser.isSet(builtIns.help) || parser.isSet(u"help-all"_s)) {
        result.outcome = ParsedArguments::Outcome::Help;
        return result;
    }
    if (parser.isSet(builtIns.version)) {
        result.outcome = ParsedArguments::Outcome::Version;
        return result;
    }

    Options& options = result.options;
    options.files = parser.positionalArguments();
    const bool exporting = parser.isSet(QLatin1String(kExport));
    options.measure = parser.isSet(QLatin1String(kMeasure));
    if (exporting && options.measure)
        return usageError(u"--export and --measure cannot go together"_s);
    for (const char* name : {kFrom, kTo, kSize}) {
        if (parser.isSet(QLatin1String(name)) && !exporting && (name == kSize || !options.measure))
            return usageError(u"option --%1 is for --export OUT%2 only"_s.arg(
                QLatin1String(name), name == kSize ? QString() : u" or --measure"_s));
    }
    if (!exporting && !options.measure)
        return result;

    if (exporting) {
        // The last value given counts, as with the command line's options.
        options.exportPath = parser.value(QLatin1String(kExport));
        if (options.exportPath.isEmpty())
            return usageError(u"option --export needs a file name"_s);
        if (!knownExportExtension(options.exportPath))
            return usageError(
                u"cannot tell what to write to %1: its name must end in .png, .svg, .csv or .vcd"_s.arg(
                    quoted(options.exportPath)));
    }
    if (options.files.isEmpty())
        return usageError(
            u"--%1 needs at least one file to read"_s.arg(QLatin1String(exporting ? kExport : kMeasure)));
    for (const char* name : {kFrom, kTo}) {
        if (!parser.isSet(QLatin1String(name)))
            continue;
        const QString text = parser.value(QLatin1String(name));
        const std::optional<QTime> time = timeOfDayFromText(text);
        if (!time)
            return usageError(u"invalid --%1 %2: expected a UTC time of day hh:mm:ss"_s.arg(
                QLatin1String(name), quoted(text)));
        (name == kFrom ? options.from : options.to) = time;
    }
    if (options.from && options.to && *options.from == *options.to)
        return usageError(u"--from and --to are the same time: the span would be empty"_s);
    if (parser.isSet(QLatin1String(kSize))) {
        const QString text = parser.value(QLatin1String(kSize));
        const std::optional<QSize> size = pictureSizeFromText(text);
        if (!size)
            return usageError(u"invalid --size %1: expected WIDTHxHEIGHT in pixels, each from 1 to %2 "
                              u"(e.g. 1600x900)"_s.arg(quoted(text))
                                  .arg(kLargestSide));
        options.size = *size;
    }
    return result;
}

QString versionText() {
    return u"%1 %2"_s.arg(QLatin1String(kProgramName), QStringLiteral(LUMORA_VERSION));
}

QString helpText() {
    QCommandLineParser parser;
    static_cast<void>(describe(parser));
    // Qt's usage line names the program as it was started, or not at all
    // before an application object exists, and knows one form of the line.
    QString text = parser.helpText();
    text.replace(QRegularExpression(u"^Usage: [^\n]*\n"_s),
                 u"Usage: lumora-7150r-view [FILE...]\n"
                 u"  or:  lumora-7150r-view FILE... --export OUT [--from TIME --to TIME] [--size WxH]\n"
                 u"  or:  lumora-7150r-view FILE... --measure [--from TIME --to TIME]\n\n"_s);
    return text + uR"(
A block that is torn or damaged, and a file that cannot be read, are skipped
and named on standard error as FILE:LINE: why, skipped.

Exit status:
  0  done
  1  usage error (nothing written)
  6  a block or a file was skipped (the rest was written), or OUT could not be
     written
)"_s;
}

} // namespace lumora::viewer
