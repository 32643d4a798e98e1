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

std::optional<QString> SystemShell::open(QWidget*, const QUrl& target) {
    if (!target.isValid())
        return QStringLiteral("Invalid address: ") + target.toString();
    if (!QDesktopServices::openUrl(target))
        return QStringLiteral("No program could be started to open ") + target.toString();
    return std::nullopt;
}

} // namespace lumora::platform::widgets