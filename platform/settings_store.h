#pragma once

#include <QString>

#include <optional>

namespace platform {

// Per-user store of text values by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or fallback when the entry is absent or unreadable.
    virtual QString read(const QString& app, const QString& section, const QString& key,
                         const QString& fallback) = 0;
    // Gives the reason when the value could not be stored.
    virtual std::optional<QString> save(const QString& app, const QString& section, const QString& key,
                                        const QString& value) = 0;
};

// INI files in the user's configuration folder (honours XDG_CONFIG_HOME),
// one file per application name.
class IniSettingsStore final : public SettingsStore {
public:
    QString read(const QString& app, const QString& section, const QString& key,
                 const QString& fallback) override;
    std::optional<QString> save(const QString& app, const QString& section, const QString& key,
                                const QString& value) override;
};

} // namespace platform
