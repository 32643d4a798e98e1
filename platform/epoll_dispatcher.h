// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractEventDispatcher>
#include <QString>

#include <atomic>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace lumora::platform {

// The command line's event loop. Qt's own hands every socket to poll() at
// each wake-up, so with a thousand units polled, most of a wake-up went to
// sockets that had nothing to say. Here the kernel keeps the set (epoll),
// and a wake-up costs the descriptors that are ready and the timers that are
// due. Timers keep Qt's meanings: Precise to the millisecond, Coarse no
// looser (it fires when due), VeryCoarse in whole seconds. Posted events,
// nested event loops and wake-ups from other threads behave as with Qt's.
class EpollDispatcher : public QAbstractEventDispatcher {
    Q_OBJECT
public:
    explicit EpollDispatcher(QObject* parent = nullptr);
    ~EpollDispatcher() override;

    // Makes the kernel's descriptors; nothing works before.
    [[nodiscard]] bool open();
    [[nodiscard]] QString errorString() const { return error_; }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;

private:
    struct Watched {
        // Read, Write, Exception, as QSocketNotifier::Type numbers them.
        QSocketNotifier* notifiers[3] = {};
        // Waiting in pending_, so that a notifier is activated once a round.
        bool pending[3] = {};
        std::uint32_t events = 0;
        // A regular file or a device epoll refuses: poll() calls it ready
        // always, and so does this loop.
        bool alwaysReady = false;
    };
    struct TimerEntry {
        QObject* object = nullptr;
        qint64 intervalMs = 0;
        Qt::TimerType type = Qt::CoarseTimer;
        qint64 dueNs = 0;
        std::uint64_t order = 0;
        // Its event is being handled; a nested loop does not deliver it again.
        bool firing = false;
    };
    using Due = std::pair<qint64, std::uint64_t>;

    void rewatch(int fd, Watched& watched);
    void markReady(int fd, std::uint32_t events);
    int activateNotifiers();
    int activateTimers();
    void schedule(int timerId, TimerEntry& timer, qint64 dueNs);
    // Milliseconds until the first timer falls due; -1 with none.
    [[nodiscard]] int timerWaitMs() const;

    int epoll_ = -1;
    int wake_ = -1;
    QString error_;
    std::atomic<bool> wakeUpSent_{false};
    std::atomic<bool> interrupted_{false};

    std::unordered_map<int, Watched> watched_;
    int alwaysReadyCount_ = 0;
    // Activated in order; an entry unregistered meanwhile is set to null.
    std::vector<QSocketNotifier*> pending_;
    std::size_t pendingNext_ = 0;

    std::unordered_map<int, TimerEntry> timers_;
    // (due, order): equal deadlines fire in the order they were set.
    std::set<std::pair<Due, int>> queue_;
    std::uint64_t nextOrder_ = 0;
};

// Installs EpollDispatcher as the next application object's event loop,
// unless LUMORA_EVENT_DISPATCHER=qt asks for Qt's own (to compare) or the
// kernel refuses; called before the application object is made.
void installCommandLineDispatcher();

} // namespace lumora::platform
