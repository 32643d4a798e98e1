// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/layout.h"
#include "app/shown_hook.h"
#include "app/startup.h"

#include <QApplication>
#include <QStyleFactory>

#include <cstdio>

namespace {

// Without a display Qt would abort with a terse message; say what to do.
bool displayAvailable() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fputs("lumora-7150r-sim: no display found (DISPLAY and WAYLAND_DISPLAY are empty).\n"
                   "Start it from a desktop session, or under a virtual display: xvfb-run -a "
                   "build/lumora-7150r-sim\n",
                   stderr);
        return 1;
    }
    QApplication application(argc, argv);
    // One look on every desktop, so the fixed layout holds everywhere.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    lumora::app::installFontFallbacks();

    lumora::platform::SystemClock clock;
    lumora::platform::widgets::SystemBeeper beeper;
    lumora::platform::widgets::SystemDialogs dialogs;
    lumora::platform::widgets::SystemShell shell;
    lumora::platform::IniSettingsStore settings;
    // Never destroyed: a ping tick's thread may still be waiting on it when
    // the program ends, and nothing waits for that thread.
    static lumora::platform::IcmpService* const icmp = lumora::platform::makeSystemIcmpService().release();

    const QString programDir = lumora::app::logHome(QCoreApplication::applicationDirPath());
    const auto window = lumora::app::Main({.clock = clock,
                                           .beeper = beeper,
                                           .dialogs = dialogs,
                                           .shell = shell,
                                           .settings = settings,
                                           .icmp = *icmp,
                                           .programDir = programDir,
                                           .endProgram = [] { QCoreApplication::exit(0); }});
    const auto shownHook = lumora::app::attachShownHook(*window);
    return QApplication::exec();
}
