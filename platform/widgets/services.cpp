// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/widgets/services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QMessageBox>

namespace lumora::platform::widgets {

void SystemBeeper::beep() {
    QApplication::beep();
}

void SystemDialogs::critical(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    // The caller waits here for OK, and the event gate holds the window's
    // other handlers until it returns, but the box does not block the window:
    // with a unit that refuses every reply a new box follows each OK at once,
    // and End or closing the window must still reach it.
    box.setWindowModality(Qt::NonModal);
    QEventLoop untilClosed;
    QObject::connect(&box, &QDialog::finished, &untilClosed, &QEventLoop::quit);
    box.show();
    untilClosed.exec();
}

bool SystemShell::open(QWidget*, const QUrl& target) {
    if (!target.isValid()) {
        errorString_ = QStringLiteral("Invalid address: ") + target.toString();
        return false;
    }
    if (!QDesktopServices::openUrl(target)) {
        errorString_ = QStringLiteral("No program could be started to open ") + target.toString();
        return false;
    }
    return true;
}

} // namespace lumora::platform::widgets
