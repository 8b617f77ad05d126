// Test support: a thread in a network namespace of its own, with loopback up
// and nothing listening, so that a test's traffic reaches no server of the
// host and no server of the host answers it. Threads it starts (a job's)
// stay in the namespace. Needs root (CAP_SYS_ADMIN).
#pragma once

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace vx::test {

// Runs fn on a new thread inside a new network namespace; returns the reason
// when the namespace cannot be made (fn then does not run), else "".
inline std::string in_private_network(const std::function<void()>& fn)
{
    std::string why;
    std::thread worker([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            why = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
            return;
        }
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq ifr{};
        std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
        const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 &&
            (ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP), ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
        if (fd >= 0)
            ::close(fd);
        if (!up) {
            why = std::string("loopback up: ") + std::strerror(errno);
            return;
        }
        fn();
    });
    worker.join();
    return why;
}

} // namespace vx::test
