// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>

class QSettings;

namespace lumora::platform {

// Per-user store of text values by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or fallback when the entry is absent or the
    // application's store cannot be read.
    [[nodiscard]] virtual QString read(const QString& app, const QString& section, const QString& key,
                                       const QString& fallback) = 0;
    // False when the application's store exists but cannot be read, so that
    // read() gives fallbacks; errorString() says why.
    [[nodiscard]] virtual bool isReadable(const QString& app) = 0;
    // False when the value could not be stored; errorString() says why. A
    // store that exists but cannot be read is left as it is: nothing is
    // written to it.
    [[nodiscard]] virtual bool save(const QString& app, const QString& section, const QString& key,
                                    const QString& value) = 0;
    QString errorString() const { return errorString_; }

protected:
    void setErrorString(const QString& reason) { errorString_ = reason; }

private:
    QString errorString_;
};

// INI files in the user's configuration folder (honours XDG_CONFIG_HOME),
// one file per application name.
class IniSettingsStore final : public SettingsStore {
public:
    [[nodiscard]] QString read(const QString& app, const QString& section, const QString& key,
                               const QString& fallback) override;
    [[nodiscard]] bool isReadable(const QString& app) override;
    [[nodiscard]] bool save(const QString& app, const QString& section, const QString& key,
                            const QString& value) override;

private:
    // True when the application's file cannot be read now or could not be
    // once; errorString() then says why.
    bool knownUnreadable(const QString& app, const QSettings& settings);

    // Why each application's file could not be read, once found. Remembered:
    // the settings library parses a file once and reports its error only to
    // the first reader, later ones get what it made of the file.
    QHash<QString, QString> unreadable_;
};

} // namespace lumora::platform
