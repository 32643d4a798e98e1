#include "app/startup.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcStartup, "lumora.startup")

namespace app {

std::optional<QString> MakeLogFolder(const QString& programDir) {
    const QString path = QDir(programDir).filePath(QStringLiteral("Log"));
    // Anything of that name counts, a plain file too: it is left alone.
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        return std::nullopt;
    if (!QDir().mkdir(path))
        return QStringLiteral("cannot create folder ") + path;
    return std::nullopt;
}

std::unique_ptr<frmSim_7150R> Main(const Services& services) {
    if (const auto failure = MakeLogFolder(services.programDir))
        qCWarning(lcStartup).noquote() << *failure;
    auto window = std::make_unique<frmSim_7150R>(services);
    window->Form_Load();
    window->show();
    return window;
}

} // namespace app
