#include "platform/settings_store.h"

#include <QSettings>

namespace lumora::platform {

namespace {

QString entry(const QString& section, const QString& key) {
    return section + u'/' + key;
}

// Why the file could not be read, if it could not.
std::optional<QString> readFailure(const QSettings& settings) {
    switch (settings.status()) {
    case QSettings::NoError:
        return std::nullopt;
    case QSettings::FormatError:
        return QStringLiteral("unreadable settings file ") + settings.fileName();
    case QSettings::AccessError:
        break;
    }
    return QStringLiteral("cannot read ") + settings.fileName();
}

} // namespace

std::optional<QString> IniSettingsStore::unreadable(const QString& app, const QSettings& settings) {
    if (auto failure = readFailure(settings))
        unreadable_.insert(app, *failure);
    const auto known = unreadable_.constFind(app);
    return known != unreadable_.cend() ? std::optional<QString>(*known) : std::nullopt;
}

QString IniSettingsStore::read(const QString& app, const QString& section, const QString& key,
                              const QString& fallback) {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    if (unreadable(app, settings))
        return fallback;
    const QVariant value = settings.value(entry(section, key));
    return value.isValid() ? value.toString() : fallback;
}

bool IniSettingsStore::isReadable(const QString& app) {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    if (auto failure = unreadable(app, settings)) {
        setErrorString(*failure);
        return false;
    }
    return true;
}

bool IniSettingsStore::save(const QString& app, const QString& section, const QString& key,
                            const QString& value) {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    // Writing would replace what could not be read with this one value: the
    // user's file is worth more than the setting.
    if (auto failure = unreadable(app, settings)) {
        setErrorString(*failure + QStringLiteral(", left as it is"));
        return false;
    }
    // Rewriting the file for a value it already holds would only cost time
    // (every start sets each box from the store, which raises its change).
    const QVariant stored = settings.value(entry(section, key));
    if (stored.isValid() && stored.toString() == value)
        return true;
    settings.setValue(entry(section, key), value);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    setErrorString(QStringLiteral("cannot write ") + settings.fileName());
    return false;
}

} // namespace lumora::platform
