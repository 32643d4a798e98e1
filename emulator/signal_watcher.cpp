// SPDX-License-Identifier: GPL-3.0-or-later
#include "emulator/signal_watcher.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace lumora::emulator {

namespace {

constexpr std::array<int, 2> kStopSignals{SIGINT, SIGTERM};

// Written by the handler, read by the event loop: the handler may touch
// nothing but this descriptor.
std::array<int, 2> g_pair{-1, -1};

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // If the write fails the pair already holds an unread byte, which wakes the
    // loop just the same; a handler has no safe way to report anything more.
    const ssize_t written = ::write(g_pair[1], &byte, 1);
    static_cast<void>(written);
    errno = savedErrno;
}

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SignalWatcher::SignalWatcher(QObject* parent)
    : QObject(parent) {}

SignalWatcher::~SignalWatcher() {
    if (!installed_) {
        return;
    }
    for (const int signalNumber : kStopSignals) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
    delete notifier_;
    ::close(g_pair[0]);
    ::close(g_pair[1]);
    g_pair = {-1, -1};
}

bool SignalWatcher::install() {
    if (g_pair[0] >= 0) {
        error_ = QStringLiteral("a signal watcher is already installed");
        return false;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_pair.data()) != 0) {
        error_ = systemError("socketpair");
        g_pair = {-1, -1};
        return false;
    }
    // From here on the destructor undoes whatever was done.
    installed_ = true;
    for (const int signalNumber : kStopSignals) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (sigaction(signalNumber, &action, nullptr) != 0) {
            error_ = systemError("sigaction");
            return false;
        }
    }
    notifier_ = new QSocketNotifier(g_pair[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalWatcher::readSignal);
    return true;
}

void SignalWatcher::readSignal() {
    unsigned char byte = 0;
    const ssize_t got = ::read(g_pair[0], &byte, 1);
    if (got == 1) {
        Q_EMIT stopRequested(byte);
    }
}

} // namespace lumora::emulator
