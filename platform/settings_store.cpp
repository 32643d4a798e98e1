#include "platform/settings_store.h"

#include <QSettings>

namespace platform {

namespace {

QString entry(const QString& section, const QString& key) {
    return section + u'/' + key;
}

} // namespace

QString IniSettingsStore::read(const QString& app, const QString& section, const QString& key,
                               const QString& fallback) {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    if (settings.status() != QSettings::NoError)
        return fallback;
    const QVariant value = settings.value(entry(section, key));
    return value.isValid() ? value.toString() : fallback;
}

std::optional<QString> IniSettingsStore::save(const QString& app, const QString& section, const QString& key,
                                              const QString& value) {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    // Rewriting the file for a value it already holds would only cost time
    // (every start sets each box from the store, which raises its change).
    const QVariant stored = settings.value(entry(section, key));
    if (settings.status() == QSettings::NoError && stored.isValid() && stored.toString() == value)
        return std::nullopt;
    settings.setValue(entry(section, key), value);
    settings.sync();
    switch (settings.status()) {
    case QSettings::NoError:
        return std::nullopt;
    case QSettings::AccessError:
        return QStringLiteral("cannot write ") + settings.fileName();
    case QSettings::FormatError:
        return QStringLiteral("unreadable settings file ") + settings.fileName();
    }
    return QStringLiteral("cannot write ") + settings.fileName();
}

} // namespace platform
