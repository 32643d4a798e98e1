// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>

class QSettings;
class QThread;

namespace lumora::settings {

// Per-user store of text values by application, section and key.
class SettingsStore : public QObject {
    Q_OBJECT
public:
    enum class Error {
        NoError,
        FormatError, // the application's store exists but cannot be parsed
        AccessError, // the application's store exists but cannot be opened
        WriteError,  // values taken could not be put on disk
    };
    Q_ENUM(Error)

    // The stored text, or fallback when the entry is absent or the
    // application's store cannot be read.
    [[nodiscard]] virtual QString read(const QString& app, const QString& section, const QString& key,
                                       const QString& fallback) = 0;
    // False when the application's store exists but cannot be read, so that
    // read() gives fallbacks; errorString() says why.
    [[nodiscard]] virtual bool isReadable(const QString& app) = 0;
    // False when the value is refused at once; errorString() says why. A
    // store that exists but cannot be read is left as it is: nothing is
    // written to it. A value taken goes to disk later: written() when it is
    // there, errorOccurred() when it could not be.
    [[nodiscard]] virtual bool save(const QString& app, const QString& section, const QString& key,
                                    const QString& value) = 0;
    // The last failure; a write's is set before its errorOccurred().
    [[nodiscard]] Error error() const;
    [[nodiscard]] QString errorString() const;

Q_SIGNALS:
    // Values taken by save() are on disk. Emitted from whichever thread did
    // the writing, as errorOccurred() is.
    void written();
    // Values taken by save() could not be stored.
    void errorOccurred(lumora::settings::SettingsStore::Error error);

protected:
    void setError(Error error, const QString& reason);

private:
    // Failures are set on the writing thread and read on the caller's.
    mutable QMutex errorMutex_;
    Error error_ = Error::NoError;
    QString errorString_;
};

// INI files in the user's configuration folder (honours XDG_CONFIG_HOME),
// one file per application name. Saving rewrites the whole file, which takes
// its time with a large one, so it happens on a thread of the store's own:
// save() returns at once, values saved while a write runs go out together in
// the next one, the latest of each key winning, and the destructor waits for
// whatever is still pending.
class IniSettingsStore final : public SettingsStore {
    Q_OBJECT
public:
    IniSettingsStore();
    ~IniSettingsStore() override;
    IniSettingsStore(const IniSettingsStore&) = delete;
    IniSettingsStore& operator=(const IniSettingsStore&) = delete;

    [[nodiscard]] QString read(const QString& app, const QString& section, const QString& key,
                               const QString& fallback) override;
    [[nodiscard]] bool isReadable(const QString& app) override;
    [[nodiscard]] bool save(const QString& app, const QString& section, const QString& key,
                            const QString& value) override;
    // Returns once every value saved before the call is on disk or failed.
    void flush();

private:
    struct Failure {
        Error error = Error::NoError;
        QString reason;
    };
    // Why the application's file cannot be read now or could not be once;
    // NoError when it can.
    Failure unreadable(const QString& app, const QSettings& settings);
    // On the writing thread: everything saved since the last write.
    void writePending();

    // Guards unreadable_, pending_, writing_ and writeQueued_, which both threads use.
    QMutex mutex_;
    // Why each application's file could not be read, once found. Remembered:
    // the settings library parses a file once and reports its error only to
    // the first reader, later ones get what it made of the file.
    QHash<QString, Failure> unreadable_;
    // Values not yet written: application, then "section/key".
    QHash<QString, QMap<QString, QString>> pending_;
    // What the write under way took from pending_: it is no value of the
    // file's until that write ends, and must not read as the fallback meanwhile.
    QHash<QString, QMap<QString, QString>> writing_;
    bool writeQueued_ = false;
    // Made on the first save: reading alone (the command line) needs no thread.
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<QObject> writer_;
};

} // namespace lumora::settings
