// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Network namespaces of a test's own: nothing a test sends leaves this machine. Programs get theirs from
// own_network.sh; a thread enters one here.

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

namespace testsupport {

// Runs the command given after it in a fresh namespace with only loopback up.
inline constexpr const char* kOwnNetwork = LUMORA_OWN_NETWORK;

inline bool bringLoopbackUp() {
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = control >= 0 && ::ioctl(control, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(control, SIOCSIFFLAGS, &request) == 0;
    return (control < 0 || ::close(control) == 0) && up;
}

inline bool writeProcFile(const char* path, const char* value) {
    std::ofstream file(path);
    return static_cast<bool>(file << value << '\n' << std::flush);
}

// The calling thread, and threads it starts, in a namespace where 127.0.0.1 is up but answers no echo
// request, until destruction.
class SilentLoopbackNamespace {
public:
    SilentLoopbackNamespace() {
        original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (original_ < 0 || ::unshare(CLONE_NEWNET) != 0) {
            failure_ = std::string("no network namespace here: ") + std::strerror(errno);
            return;
        }
        entered_ = true;
        if (!bringLoopbackUp() || !writeProcFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"))
            failure_ = "cannot prepare the namespace's loopback";
    }
    ~SilentLoopbackNamespace() {
        if (entered_)
            static_cast<void>(::setns(original_, CLONE_NEWNET));
        if (original_ >= 0)
            ::close(original_);
    }
    SilentLoopbackNamespace(const SilentLoopbackNamespace&) = delete;
    SilentLoopbackNamespace& operator=(const SilentLoopbackNamespace&) = delete;

    // Empty when the namespace is ready.
    const std::string& failure() const { return failure_; }

private:
    int original_ = -1;
    bool entered_ = false;
    std::string failure_;
};

} // namespace testsupport
