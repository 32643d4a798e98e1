// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/epoll_dispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace lumora::platform {

namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr qint64 kMsPerS = 1000;
// Ready descriptors taken per wake-up; more wait for the next, which the
// kernel reports at once.
constexpr int kBatch = 256;

// What wakes each kind of notifier, as Qt's own loop has it: a hang-up or an
// error wakes all three, so the owner finds out by reading or writing.
constexpr std::array<std::uint32_t, 3> kWakes = {EPOLLIN | EPOLLHUP | EPOLLERR, EPOLLOUT | EPOLLHUP | EPOLLERR,
                                                 EPOLLPRI | EPOLLHUP | EPOLLERR};
constexpr std::array<std::uint32_t, 3> kWatches = {EPOLLIN, EPOLLOUT, EPOLLPRI};

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

EpollDispatcher::EpollDispatcher(QObject* parent) : QAbstractEventDispatcher(parent) {}

EpollDispatcher::~EpollDispatcher() {
    if (wake_ >= 0)
        ::close(wake_);
    if (epoll_ >= 0)
        ::close(epoll_);
}

bool EpollDispatcher::open() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = wake_;
    if (wake_ < 0 || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event) != 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

bool EpollDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    interrupted_.store(false);
    Q_EMIT awake();
    QCoreApplication::sendPostedEvents();

    const bool withTimers = !flags.testFlag(QEventLoop::X11ExcludeTimers);
    const bool withNotifiers = !flags.testFlag(QEventLoop::ExcludeSocketNotifiers);
    const bool mayWait = flags.testFlag(QEventLoop::WaitForMoreEvents) && !interrupted_.load();
    if (mayWait)
        Q_EMIT aboutToBlock();
    if (interrupted_.load())
        return false;

    int timeoutMs = 0;
    if (mayWait && (alwaysReadyCount_ == 0 || !withNotifiers))
        timeoutMs = withTimers ? timerWaitMs() : -1;

    std::array<epoll_event, kBatch> ready{};
    int count = ::epoll_wait(epoll_, ready.data(), kBatch, timeoutMs);
    if (count < 0)
        count = 0; // a signal: the caller's loop asks again
    int handled = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = ready[std::size_t(i)].data.fd;
        if (fd == wake_) {
            // Cleared before the read: a wake-up sent in between writes again.
            wakeUpSent_.store(false);
            std::uint64_t value = 0;
            (void)!::read(wake_, &value, sizeof value);
            ++handled;
        } else if (withNotifiers) {
            markReady(fd, ready[std::size_t(i)].events);
        }
    }
    if (withNotifiers && alwaysReadyCount_ > 0) {
        for (auto& [fd, watched] : watched_)
            if (watched.alwaysReady)
                markReady(fd, EPOLLIN | EPOLLOUT);
    }
    handled += activateNotifiers();
    if (withTimers)
        handled += activateTimers();
    return handled > 0;
}

void EpollDispatcher::markReady(int fd, std::uint32_t events) {
    const auto it = watched_.find(fd);
    if (it == watched_.end())
        return;
    for (std::size_t type = 0; type < kWakes.size(); ++type) {
        QSocketNotifier* notifier = it->second.notifiers[type];
        // Once each: a second activation of a socket with nothing to read
        // would tell its owner the peer closed.
        if (notifier != nullptr && (events & kWakes[type]) != 0 && !it->second.pending[type]) {
            it->second.pending[type] = true;
            pending_.push_back(notifier);
        }
    }
}

int EpollDispatcher::activateNotifiers() {
    int activated = 0;
    // The index is the object's, not this call's: a nested loop started by
    // one of these handlers goes on with the same list.
    while (pendingNext_ < pending_.size()) {
        QSocketNotifier* notifier = pending_[pendingNext_++];
        if (notifier == nullptr)
            continue;
        const auto it = watched_.find(int(notifier->socket()));
        if (it != watched_.end())
            it->second.pending[notifier->type()] = false;
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &event);
        ++activated;
    }
    pending_.clear();
    pendingNext_ = 0;
    return activated;
}

void EpollDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    const int fd = int(notifier->socket());
    Watched& watched = watched_[fd];
    watched.notifiers[notifier->type()] = notifier;
    rewatch(fd, watched);
}

void EpollDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    const int fd = int(notifier->socket());
    const auto it = watched_.find(fd);
    const auto type = std::size_t(notifier->type());
    if (it == watched_.end() || it->second.notifiers[type] != notifier)
        return;
    if (it->second.pending[type]) {
        it->second.pending[type] = false;
        for (std::size_t i = pendingNext_; i < pending_.size(); ++i)
            if (pending_[i] == notifier)
                pending_[i] = nullptr;
    }
    it->second.notifiers[type] = nullptr;
    rewatch(fd, it->second);
}

void EpollDispatcher::rewatch(int fd, Watched& watched) {
    std::uint32_t wanted = 0;
    for (std::size_t type = 0; type < kWatches.size(); ++type)
        if (watched.notifiers[type] != nullptr)
            wanted |= kWatches[type];
    if (wanted == 0) {
        if (watched.alwaysReady)
            --alwaysReadyCount_;
        else if (watched.events != 0)
            (void)::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr); // fails once the descriptor is closed
        watched_.erase(fd);
        return;
    }
    if (watched.alwaysReady || wanted == watched.events)
        return;
    epoll_event event{};
    event.events = wanted;
    event.data.fd = fd;
    // The kernel forgets a descriptor when it is closed, and a new one may
    // come with the same number: whichever the kernel says, the other.
    int op = watched.events != 0 ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    int result = ::epoll_ctl(epoll_, op, fd, &event);
    if (result != 0 && (errno == ENOENT || errno == EEXIST)) {
        op = op == EPOLL_CTL_MOD ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
        result = ::epoll_ctl(epoll_, op, fd, &event);
    }
    if (result != 0 && errno == EPERM) {
        watched.alwaysReady = true;
        ++alwaysReadyCount_;
    } else if (result != 0) {
        qWarning("EpollDispatcher: descriptor %d not watched: %s", fd, std::strerror(errno));
    }
    watched.events = wanted;
}

void EpollDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject* object) {
    (void)unregisterTimer(timerId);
    TimerEntry timer;
    timer.object = object;
    timer.type = timerType;
    // Whole seconds, the nearest, as Qt's loop keeps them.
    timer.intervalMs = timerType == Qt::VeryCoarseTimer ? (interval + kMsPerS / 2) / kMsPerS * kMsPerS : interval;
    TimerEntry& kept = timers_.insert_or_assign(timerId, timer).first->second;
    schedule(timerId, kept, nowNs() + kept.intervalMs * kNsPerMs);
}

void EpollDispatcher::schedule(int timerId, TimerEntry& timer, qint64 dueNs) {
    queue_.erase({{timer.dueNs, timer.order}, timerId});
    timer.dueNs = dueNs;
    timer.order = nextOrder_++;
    queue_.insert({{timer.dueNs, timer.order}, timerId});
}

bool EpollDispatcher::unregisterTimer(int timerId) {
    const auto it = timers_.find(timerId);
    if (it == timers_.end())
        return false;
    queue_.erase({{it->second.dueNs, it->second.order}, timerId});
    timers_.erase(it);
    return true;
}

bool EpollDispatcher::unregisterTimers(QObject* object) {
    bool any = false;
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->second.object == object) {
            queue_.erase({{it->second.dueNs, it->second.order}, it->first});
            it = timers_.erase(it);
            any = true;
        } else {
            ++it;
        }
    }
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollDispatcher::registeredTimers(QObject* object) const {
    QList<TimerInfo> found;
    for (const auto& [id, timer] : timers_)
        if (timer.object == object)
            found.append(TimerInfo(id, int(timer.intervalMs), timer.type));
    return found;
}

int EpollDispatcher::remainingTime(int timerId) {
    const auto it = timers_.find(timerId);
    if (it == timers_.end())
        return -1;
    return int(std::max<qint64>(0, (it->second.dueNs - nowNs()) / kNsPerMs));
}

int EpollDispatcher::timerWaitMs() const {
    if (queue_.empty())
        return -1;
    const qint64 left = queue_.begin()->first.first - nowNs();
    // Rounded up: a wait that ends before the deadline only wakes twice.
    return left <= 0 ? 0 : int((left + kNsPerMs - 1) / kNsPerMs);
}

int EpollDispatcher::activateTimers() {
    if (queue_.empty())
        return 0;
    const qint64 now = nowNs();
    // Those due now, taken first: a handler may set, stop or restart any
    // timer, and one set with no interval waits for the next wake-up.
    std::vector<int> due;
    for (auto it = queue_.begin(); it != queue_.end() && it->first.first <= now; ++it)
        due.push_back(it->second);
    int fired = 0;
    for (const int id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.dueNs > now)
            continue;
        TimerEntry& timer = it->second;
        // Each tick a whole interval after the last keeps the phase; one
        // late by an interval or more starts again from now.
        qint64 next = timer.dueNs + timer.intervalMs * kNsPerMs;
        if (next < now)
            next = now + timer.intervalMs * kNsPerMs;
        schedule(id, timer, next);
        // Its handler sits in a nested loop: not into it again.
        if (timer.firing)
            continue;
        timer.firing = true;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(timer.object, &event);
        ++fired;
        it = timers_.find(id);
        if (it != timers_.end())
            it->second.firing = false;
    }
    return fired;
}

void EpollDispatcher::wakeUp() {
    if (!wakeUpSent_.exchange(true)) {
        const std::uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
    }
}

void EpollDispatcher::interrupt() {
    interrupted_.store(true);
    wakeUp();
}

void installCommandLineDispatcher() {
    if (qgetenv("LUMORA_EVENT_DISPATCHER") == "qt")
        return;
    auto dispatcher = std::make_unique<EpollDispatcher>();
    if (dispatcher->open())
        QCoreApplication::setEventDispatcher(dispatcher.release());
}

} // namespace lumora::platform
