// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The client's settings file in the test process's own store (see
// testsupport.h), written, read and damaged as a user or a disk leaves it.

#include "settings/settings_keys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace testsupport {

inline QSettings clientSettings() {
    return {QSettings::IniFormat, QSettings::UserScope, lumora::settings::kApplication};
}
inline QString settingsPath() {
    return clientSettings().fileName();
}

inline void removeSettings() {
    QDir(settingsPath()).removeRecursively();
    QFile::remove(settingsPath());
}

inline bool writeSettingsFile(const QByteArray& content) {
    QFile ini(settingsPath());
    return QDir().mkpath(QFileInfo(ini).path()) && ini.open(QIODevice::WriteOnly) &&
           ini.write(content) == content.size();
}

inline QByteArray readSettingsFile() {
    QFile ini(settingsPath());
    return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
}

inline QString storedSetting(const QString& key) {
    return clientSettings().value(lumora::settings::kSection + u'/' + key).toString();
}

} // namespace testsupport
