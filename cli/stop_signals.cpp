// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/stop_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/signalfd.h>
#include <unistd.h>

namespace lumora::cli {

namespace {

sigset_t caughtSet(bool reload) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (reload)
        sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

bool StopSignals::block(bool reload) {
    reload_ = reload;
    const sigset_t set = caughtSet(reload);
    if (const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
        error_ = Error::BlockError;
        errorString_ = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
    return true;
}

bool StopSignals::watch() {
    const sigset_t set = caughtSet(reload_);
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        error_ = Error::WatchError;
        errorString_ = QString::fromLocal8Bit(std::strerror(errno));
        // Nobody would read them: left blocked they could not stop the program.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        // A stop read with a reload wins: the reload would only delay it.
        bool stop = false;
        bool reload = false;
        signalfd_siginfo info{};
        while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info)) {
            if (info.ssi_signo == SIGHUP) {
                reload = true;
            } else {
                stop = true;
                stopSignal_ = static_cast<int>(info.ssi_signo);
            }
        }
        if (stop)
            Q_EMIT stopRequested();
        else if (reload)
            Q_EMIT reloadRequested();
    });
    return true;
}

StopSignals::~StopSignals() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace lumora::cli
