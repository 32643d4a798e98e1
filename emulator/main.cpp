// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/command_line.h"
#include "emulator/signal_watcher.h"
#include "emulator/text.h"
#include "emulator/unit_group.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

constexpr int kExitListenFailed = 1;
constexpr int kExitBadArguments = 2;
constexpr int kExitNoSignalWatch = 3;

bool writeLine(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    return std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream) ==
               static_cast<std::size_t>(bytes.size()) &&
           std::fflush(stream) == 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(lumora::emulator::kProgramName));

    const lumora::emulator::CommandLine commandLine = lumora::emulator::parseCommandLine(QCoreApplication::arguments());
    switch (commandLine.outcome) {
    case lumora::emulator::CommandLine::Outcome::Help:
    case lumora::emulator::CommandLine::Outcome::Version:
        return writeLine(stdout, commandLine.text.trimmed()) ? 0 : kExitBadArguments;
    case lumora::emulator::CommandLine::Outcome::Error:
        writeLine(stderr, QStringLiteral("lumora-7150r-unit: %1 (see --help)").arg(commandLine.text));
        return kExitBadArguments;
    case lumora::emulator::CommandLine::Outcome::Run:
        break;
    }
    const lumora::emulator::Options& options = commandLine.options;

    // A script that stops reading our output must not kill the unit with SIGPIPE;
    // the failed write is reported instead.
    std::signal(SIGPIPE, SIG_IGN);
    bool stdoutBroken = false;
    auto sink = [&stdoutBroken](const QString& line) {
        if (!writeLine(stdout, line) && !stdoutBroken) {
            stdoutBroken = true;
            writeLine(stderr, QStringLiteral(
                                  "lumora-7150r-unit: cannot write to standard output, going on silently"));
        }
    };

    // Without the watcher a stop signal would end the unit without its last
    // line and with a status scripts take for a crash: refuse to start instead.
    lumora::emulator::SignalWatcher watcher;
    if (!watcher.install()) {
        writeLine(stderr, QStringLiteral("lumora-7150r-unit: cannot watch for signals: %1")
                              .arg(watcher.errorString()));
        return kExitNoSignalWatch;
    }

    const lumora::emulator::SinceStartClock sinceStart;
    if (options.units > 1) {
        lumora::emulator::raiseDescriptorLimit();
    }
    lumora::emulator::UnitGroup server(
        options.behaviour, options.units, sinceStart, sink);
    if (!server.listen(options.address, options.port)) {
        writeLine(stderr, QStringLiteral("lumora-7150r-unit: cannot listen on %1: %2")
                              .arg(lumora::emulator::endpointText(options.address, server.failedPort()),
                                   server.errorString()));
        return kExitListenFailed;
    }

    QObject::connect(&watcher, &lumora::emulator::SignalWatcher::stopRequested, &app, [&server] {
        server.report(QStringLiteral("stopped by signal, exiting"));
        server.close();
        QCoreApplication::exit(0);
    });
    return QCoreApplication::exec();
}
