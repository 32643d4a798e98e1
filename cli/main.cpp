// SPDX-License-Identifier: GPL-3.0-or-later
// lumora-7150r-cli: the client's protocol, ping and log code for scripts and
// test stations, with no window system.

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/stop_signals.h"
#include "platform/epoll_dispatcher.h"
#include "settings/settings_store.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    lumora::cli::Console console;
    const lumora::cli::ParsedArguments parsed = lumora::cli::parseArguments(arguments);
    switch (parsed.outcome) {
    case lumora::cli::ParsedArguments::Outcome::Help:
        console.out(lumora::cli::helpText().chopped(1));
        return lumora::cli::kDone;
    case lumora::cli::ParsedArguments::Outcome::Version:
        console.out(lumora::cli::versionText());
        return lumora::cli::kDone;
    case lumora::cli::ParsedArguments::Outcome::UsageError:
        console.fail(parsed.error + QStringLiteral(" (see --help)"));
        return lumora::cli::kUsageError;
    case lumora::cli::ParsedArguments::Outcome::Run:
        break;
    }

    // Before the application object, so no thread escapes the mask.
    lumora::cli::StopSignals stopSignals;
    const bool runsUntilStopped = parsed.invocation.command == lumora::cli::Command::Poll ||
                                  parsed.invocation.command == lumora::cli::Command::Serve ||
                                  parsed.invocation.command == lumora::cli::Command::Run;
    if (runsUntilStopped && !stopSignals.block(parsed.invocation.command == lumora::cli::Command::Serve))
        console.fail(parsed.invocation.command == lumora::cli::Command::Run
                         ? QStringLiteral("run: Ctrl-C and SIGTERM end it without its teardown: ") +
                               stopSignals.errorString()
                         : lumora::cli::unstoppablePollText(stopSignals.errorString()));
    lumora::platform::installCommandLineDispatcher();
    QCoreApplication app(argc, argv);
    lumora::settings::IniSettingsStore settings;
    lumora::cli::CommandRun run(parsed.invocation, settings, console, stopSignals);
    QObject::connect(&run, &lumora::cli::CommandRun::finished, &app, &QCoreApplication::exit);
    run.start();
    return QCoreApplication::exec();
}
