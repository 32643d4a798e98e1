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

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

bool StopSignals::block() {
    const sigset_t set = stopSet();
    if (const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
        error_ = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
    return true;
}

bool StopSignals::watch() {
    const sigset_t set = stopSet();
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        // Nobody would read them: left blocked they could not stop the program.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info{};
        while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info)) {
        }
        Q_EMIT stopRequested();
    });
    return true;
}

StopSignals::~StopSignals() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace lumora::cli
