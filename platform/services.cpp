#include "platform/services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>

namespace platform {

void SystemBeeper::beep() {
    QApplication::beep();
}

void SystemDialogs::critical(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.exec();
}

std::optional<QString> SystemShell::open(QWidget*, const QUrl& target) {
    if (!target.isValid())
        return QStringLiteral("Invalid address: ") + target.toString();
    if (!QDesktopServices::openUrl(target))
        return QStringLiteral("No program could be started to open ") + target.toString();
    return std::nullopt;
}

} // namespace platform
