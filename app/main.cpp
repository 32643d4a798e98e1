// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/layout.h"
#include "app/shown_hook.h"
#include "app/startup.h"
#include "platform/widgets/display.h"

#include <QApplication>
#include <QStyleFactory>

#include <cstdio>

int main(int argc, char** argv) {
    if (!lumora::platform::widgets::displayAvailable()) {
        std::fputs(lumora::platform::widgets::noDisplayMessage(QStringLiteral("lumora-7150r-sim"),
                                                               QStringLiteral("build/lumora-7150r-sim"))
                       .toLocal8Bit()
                       .constData(),
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
    lumora::settings::IniSettingsStore settings;
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
                                           .programDir = programDir});
    // Closing the window is the one way the program ends.
    QObject::connect(window.get(), &lumora::app::frmSim_7150R::endRequested, qApp, [] { QCoreApplication::exit(0); });
    const auto shownHook = lumora::app::attachShownHook(*window);
    return QApplication::exec();
}
