// SPDX-License-Identifier: GPL-3.0-or-later
// The floor for start-up: the smallest Qt window program, built in the same
// tree as the client and timed the same way (shown_probe.h). Its window
// has the client's size, so both pay the same for their first paint's pixels
// and the ratio is what the client's own work costs. With --text it shows
// one label as well, so that it starts the font system as any window with
// text must. Built once more loading the client's libraries as well
// (lumora-bench-bare-window-linked), it is the floor left for the client's
// own work.

#include "app/layout.h"
#include "shown_probe.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setFixedSize(lumora::app::toPixels(lumora::app::kClientWidthTwips), lumora::app::toPixels(lumora::app::kClientHeightTwips));
    if (application.arguments().contains(QStringLiteral("--text")))
        new QLabel(QStringLiteral("Destination IP"), &window);
    const auto probe = lumora::app::ShownProbe::attachIfAsked(window);
    window.show();
    return QApplication::exec();
}
