// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settings_store.h"

#include <QSettings>
#include <QThread>

#include <utility>

namespace lumora::settings {

namespace {

QString entry(const QString& section, const QString& key) {
    return section + u'/' + key;
}

const QString kLeftAsItIs = QStringLiteral(", left as it is");

} // namespace

SettingsStore::Error SettingsStore::error() const {
    const QMutexLocker lock(&errorMutex_);
    return error_;
}

QString SettingsStore::errorString() const {
    const QMutexLocker lock(&errorMutex_);
    return errorString_;
}

void SettingsStore::setError(Error error, const QString& reason) {
    const QMutexLocker lock(&errorMutex_);
    error_ = error;
    errorString_ = reason;
}

IniSettingsStore::IniSettingsStore() = default;

IniSettingsStore::~IniSettingsStore() {
    if (!thread_)
        return;
    // Nothing typed is lost: what waits is written before the program ends.
    flush();
    thread_->quit();
    thread_->wait();
    writer_.reset();
}

IniSettingsStore::Failure IniSettingsStore::unreadable(const QString& app, const QSettings& settings) {
    const QMutexLocker lock(&mutex_);
    switch (settings.status()) {
    case QSettings::NoError:
        break;
    case QSettings::FormatError:
        unreadable_.insert(
            app, {Error::FormatError, QStringLiteral("unreadable settings file ") + settings.fileName()});
        break;
    case QSettings::AccessError:
        unreadable_.insert(app, {Error::AccessError, QStringLiteral("cannot read ") + settings.fileName()});
        break;
    }
    return unreadable_.value(app);
}

QString IniSettingsStore::read(const QString& app, const QString& section, const QString& key,
                               const QString& fallback) {
    {
        const QMutexLocker lock(&mutex_);
        // The newest first: saved since the write under way took its share.
        for (const auto* values : {&pending_, &writing_}) {
            const auto waiting = values->constFind(app);
            if (waiting != values->cend() && waiting->contains(entry(section, key)))
                return waiting->value(entry(section, key));
        }
    }
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    if (const Failure failure = unreadable(app, settings); failure.error != Error::NoError) {
        setError(failure.error, failure.reason);
        return fallback;
    }
    const QVariant value = settings.value(entry(section, key));
    return value.isValid() ? value.toString() : fallback;
}

bool IniSettingsStore::isReadable(const QString& app) {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, app);
    const Failure failure = unreadable(app, settings);
    if (failure.error == Error::NoError)
        return true;
    setError(failure.error, failure.reason);
    return false;
}

bool IniSettingsStore::save(const QString& app, const QString& section, const QString& key,
                            const QString& value) {
    // Only what is already known decides here: opening the file would wait
    // for a write under way, and parse a changed file, on the caller's thread.
    QMutexLocker lock(&mutex_);
    if (const auto known = unreadable_.constFind(app); known != unreadable_.cend()) {
        setError(known->error, known->reason + kLeftAsItIs);
        return false;
    }
    pending_[app].insert(entry(section, key), value);
    // One write waits at most; it takes everything saved until it starts.
    if (std::exchange(writeQueued_, true))
        return true;
    lock.unlock();
    if (!thread_) {
        thread_ = std::make_unique<QThread>();
        writer_ = std::make_unique<QObject>();
        writer_->moveToThread(thread_.get());
        thread_->start();
    }
    QMetaObject::invokeMethod(writer_.get(), [this] { writePending(); }, Qt::QueuedConnection);
    return true;
}

void IniSettingsStore::flush() {
    if (!thread_)
        return;
    // Behind every write already queued; takes what they left.
    QMetaObject::invokeMethod(writer_.get(), [this] { writePending(); }, Qt::BlockingQueuedConnection);
}

void IniSettingsStore::writePending() {
    QHash<QString, QMap<QString, QString>> pending;
    {
        const QMutexLocker lock(&mutex_);
        pending.swap(pending_);
        writing_ = pending;
        writeQueued_ = false;
    }
    for (auto app = pending.cbegin(); app != pending.cend(); ++app) {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, app.key());
        // Writing would replace what could not be read with these values: the
        // user's file is worth more than the settings.
        if (const Failure failure = unreadable(app.key(), settings); failure.error != Error::NoError) {
            setError(failure.error, failure.reason + kLeftAsItIs);
            Q_EMIT errorOccurred(failure.error);
            continue;
        }
        // Rewriting the file for values it already holds would only cost time
        // (every start sets each box from the store, which raises its change).
        bool changed = false;
        for (auto value = app->cbegin(); value != app->cend(); ++value) {
            const QVariant stored = settings.value(value.key());
            if (stored.isValid() && stored.toString() == value.value())
                continue;
            settings.setValue(value.key(), value.value());
            changed = true;
        }
        if (changed)
            settings.sync();
        if (settings.status() == QSettings::NoError) {
            Q_EMIT written();
        } else {
            setError(Error::WriteError, QStringLiteral("cannot write ") + settings.fileName());
            Q_EMIT errorOccurred(Error::WriteError);
        }
    }
    const QMutexLocker lock(&mutex_);
    writing_.clear();
}

} // namespace lumora::settings
