// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settings_store.h"

#include <QSettings>

namespace lumora::platform {

namespace {

QString entry(const QString& section, const QString& key) {
    return section + u'/' + key;
}

} // namespace

bool IniSettingsStore::knownUnreadable(const QString& app, const QSettings& settings) {
    switch (settings.status()) {
    case QSettings::NoError:
        break;
    case QSettings::FormatError:
        unreadable_.insert(app, QStringLiteral("unreadable settings file ") + settings.fileName());
        break;
    case QSettings::AccessError:
        unreadable_.insert(app, QStringLiteral("cannot read ") + settings.fileName());
        break;
    }
    const auto known = unreadable_.constFind(app);
    if (known == unreadable_.cend())
        return false;
    setErrorString(*known);
    return true;
}

QString IniSettingsStore::read(const QString& app, const QString& section, const QString& key,
                              const QString& fallback) {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    if (knownUnreadable(app, settings))
        return fallback;
    const QVariant value = settings.value(entry(section, key));
    return value.isValid() ? value.toString() : fallback;
}

bool IniSettingsStore::isReadable(const QString& app) {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    return !knownUnreadable(app, settings);
}

bool IniSettingsStore::save(const QString& app, const QString& section, const QString& key,
                            const QString& value) {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    // Writing would replace what could not be read with this one value: the
    // user's file is worth more than the setting.
    if (knownUnreadable(app, settings)) {
        setErrorString(errorString() + QStringLiteral(", left as it is"));
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
