// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/program.h"

#include "platform/widgets/display.h"
#include "viewer/arguments.h"
#include "viewer/export_run.h"
#include "viewer/measure_run.h"
#include "viewer/viewer.h"
#include "waveform/signal_window.h"

#include <QApplication>

#include <cstdio>

namespace lumora::viewer {

namespace {

void writeLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = (line + u'\n').toLocal8Bit();
    static_cast<void>(std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream));
    static_cast<void>(std::fflush(stream));
}

} // namespace

int runProgram(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const ParsedArguments parsed = parseArguments(arguments);
    switch (parsed.outcome) {
    case ParsedArguments::Outcome::Help:
        writeLine(stdout, helpText().chopped(1));
        return kDone;
    case ParsedArguments::Outcome::Version:
        writeLine(stdout, versionText());
        return kDone;
    case ParsedArguments::Outcome::UsageError:
        writeLine(stderr, QLatin1String(kProgramName) + QStringLiteral(": ") + parsed.error +
                              QStringLiteral(" (see --help)"));
        return kUsageError;
    case ParsedArguments::Outcome::Run:
        break;
    }

    // Numbers only: no application object, no display.
    if (parsed.options.measure)
        return runMeasure(parsed.options);
    const bool exporting = !parsed.options.exportPath.isEmpty();
    // An export draws into an image, never on a screen: it must run where
    // there is none, so the platform is chosen before the application reads it.
    if (exporting)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!exporting && !platform::widgets::displayAvailable()) {
        writeLine(stderr,
                  platform::widgets::noDisplayMessage(
                      QLatin1String(kProgramName), QLatin1String(kProgramName) + QStringLiteral(" FILE..."))
                      .chopped(1));
        return kUsageError;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QLatin1String(kProgramName));
    if (exporting)
        return runExport(parsed.options);

    Viewer viewer;
    viewer.open(parsed.options.files);
    viewer.window().show();
    return QApplication::exec();
}

} // namespace lumora::viewer
