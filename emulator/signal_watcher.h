// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace lumora::emulator {

// Turns SIGINT and SIGTERM into a Qt signal. The handler only writes one byte
// into a socket pair; the event loop reads it, since nothing in Qt may be
// called from inside a signal handler.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // Only one watcher can be installed per process.
    [[nodiscard]] bool install();
    // Why the last install() failed.
    QString errorString() const { return error_; }

Q_SIGNALS:
    void stopRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
    QString error_;
};

} // namespace lumora::emulator
