// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <memory>

namespace lumora::cli {

// What a poll says when it cannot catch the signals.
inline QString unstoppablePollText(const QString& reason) {
    return QStringLiteral("poll: Ctrl-C and SIGTERM end the program without a summary: ") + reason;
}

// SIGINT and SIGTERM as a Qt signal, and SIGHUP as another when asked for.
// block() must run before any thread starts (before the application object,
// which may be created after this one), so that every thread inherits the
// mask and the signals wait in the descriptor for the event loop instead of
// ending the program.
class StopSignals : public QObject {
    Q_OBJECT
public:
    enum class Error {
        NoError,
        BlockError, // the signals could not be held back
        WatchError, // no descriptor to read them from
    };
    Q_ENUM(Error)

    // `reload`: SIGHUP too, told by reloadRequested(); else it ends the
    // program as it would anyway.
    [[nodiscard]] bool block(bool reload = false);
    // Starts watching; false when no descriptor could be had, and the
    // signals then end the program as they would anyway.
    [[nodiscard]] bool watch();
    // Why the last block() or watch() failed.
    [[nodiscard]] Error error() const { return error_; }
    [[nodiscard]] QString errorString() const { return errorString_; }
    // The number of the signal that asked to stop last, 0 before any.
    int stopSignal() const { return stopSignal_; }
    ~StopSignals() override;

Q_SIGNALS:
    void stopRequested();
    void reloadRequested();

private:
    bool reload_ = false;
    int fd_ = -1;
    int stopSignal_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
    Error error_ = Error::NoError;
    QString errorString_;
};

} // namespace lumora::cli
