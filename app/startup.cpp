// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLoggingCategory>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcStartup, "lumora.startup")

namespace lumora::app {

namespace {

// The installed desktop entry and icon carry this name.
const QString kDesktopEntry = QStringLiteral("example.lumora.Sim7150R");

// Symbolic links and "/usr/bin/../bin" must not hide that two folders are one.
QString comparable(const QString& dir) {
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(dir).absolutePath()) : canonical;
}

} // namespace

void MakeLogFolder(const QString& programDir) {
    const QString path = QDir(programDir).filePath(QStringLiteral("Log"));
    // Anything of that name counts, a plain file too: it is left alone.
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        return;
    if (!QDir().mkpath(path))
        qCWarning(lcStartup).noquote() << QStringLiteral("cannot create folder ") + path;
}

QString logHome(const QString& programDir, const QString& installedBinDir) {
    if (installedBinDir.isEmpty() || comparable(programDir) != comparable(installedBinDir))
        return programDir;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    // Without a home folder there is no data folder either; beside the program
    // the failed writes at least name where they went.
    return data.isEmpty() ? programDir : data;
}

QString logHome(const QString& programDir) {
    // Installed also where an install put the programs under another prefix
    // than the one configured: its desktop entry then lies beside them.
    const QString entry =
        QStringLiteral("%1/../share/applications/%2.desktop").arg(programDir, kDesktopEntry);
    return logHome(programDir,
                   QFileInfo::exists(entry) ? programDir : QStringLiteral(LUMORA_INSTALLED_BINDIR));
}

std::unique_ptr<frmSim_7150R> Main(const Services& services) {
    // Lets the desktop show the window under its menu entry and icon.
    QGuiApplication::setDesktopFileName(kDesktopEntry);
    QApplication::setWindowIcon(QIcon::fromTheme(kDesktopEntry));
    MakeLogFolder(services.programDir);
    auto window = std::make_unique<frmSim_7150R>(services);
    window->Form_Load();
    window->show();
    return window;
}

} // namespace lumora::app
