#pragma once

#include <QHash>
#include <QString>

#include <optional>

class QSettings;

namespace lumora::platform {

// Per-user store of text values by application, section and key.
class SettingsStore {
public:
    struct Reading {
        QString text;
        // Why a store that exists could not be read; text is then the fallback.
        std::optional<QString> failure;
    };

    virtual ~SettingsStore() = default;
    // The stored text, or fallback when the entry is absent (no error) or
    // the store cannot be read (with the reason).
    [[nodiscard]] virtual Reading read(const QString& app, const QString& section, const QString& key,
                                       const QString& fallback) = 0;
    // Gives the reason when the value could not be stored. A store that
    // exists but cannot be read is left as it is: nothing is written to it.
    [[nodiscard]] virtual std::optional<QString> save(const QString& app, const QString& section,
                                                      const QString& key, const QString& value) = 0;
};

// INI files in the user's configuration folder (honours XDG_CONFIG_HOME),
// one file per application name.
class IniSettingsStore final : public SettingsStore {
public:
    Reading read(const QString& app, const QString& section, const QString& key,
                 const QString& fallback) override;
    std::optional<QString> save(const QString& app, const QString& section, const QString& key,
                                const QString& value) override;

private:
    std::optional<QString> unreadable(const QString& app, const QSettings& settings);

    // Why each application's file could not be read, once found. Remembered:
    // the settings library parses a file once and reports its error only to
    // the first reader, later ones get what it made of the file.
    QHash<QString, QString> unreadable_;
};

} // namespace lumora::platform