// One walk of a 1000-device table the way the console refreshes it:
// device_first, then device_next until valid is 0, reading ip, mac, age and
// valid of each device. Timed over the local-server transport (socket pair,
// server loop in a child process, as Scoutline runs) and in process, in the
// same run, beside the floor of any call across the boundary: a bare
// SOCK_SEQPACKET ping-pong between two processes, once with both sides
// blocking in recv and once with both sides spinning briefly first.
//
//   scoutline_walk [devices=1000] [walks=20]
#include "discovery_bench.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

template <class I> CComPtr<I> as(IUnknown* object)
{
    CComPtr<I> p;
    if (object)
        object->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&p.p));
    return p;
}

// One walk; returns the devices seen.
size_t walk(Icom_adapter* adapter)
{
    size_t seen = 0;
    CComPtr<IDispatch> current;
    adapter->device_first(&current);
    while (auto device = as<Icom_device>(current)) {
        LONG valid = 0, age = 0;
        BSTR ip = nullptr, mac = nullptr;
        device->get_ip(&ip);
        device->get_mac(&mac);
        device->get_age(&age);
        device->get_valid(&valid);
        SysFreeString(ip);
        SysFreeString(mac);
        if (!valid)
            break;
        ++seen;
        CComPtr<IDispatch> next;
        adapter->device_next(current, &next);
        current = next;
    }
    return seen;
}

// Median seconds of `walks` walks.
double time_walks(Icom_adapter* adapter, int walks, size_t expected, bool& ok)
{
    std::vector<double> times;
    for (int i = 0; i < walks; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const size_t seen = walk(adapter);
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ok = ok && seen == expected;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// One side of the ping-pong: receive a message, then (echo side) send it
// back. Spinning sides poll without blocking for up to spin_us first.
bool receive(int fd, char* buf, size_t size, int spin_us)
{
    if (spin_us > 0) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(spin_us);
        do {
            if (recv(fd, buf, size, MSG_DONTWAIT) > 0)
                return true;
        } while (std::chrono::steady_clock::now() < until);
    }
    return recv(fd, buf, size, 0) > 0;
}

// Median microseconds per round trip of a 64-byte ping-pong with a child
// process.
double ping_pong(int spin_us, int rounds)
{
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(sv[0]);
        char buf[256];
        while (receive(sv[1], buf, sizeof buf, spin_us))
            if (send(sv[1], buf, 64, MSG_NOSIGNAL) != 64)
                break;
        _exit(0);
    }
    close(sv[1]);
    char buf[256] = {};
    std::vector<double> times;
    for (int run = 0; run < 7; ++run) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) {
            if (send(sv[0], buf, 64, MSG_NOSIGNAL) != 64 || !receive(sv[0], buf, sizeof buf, spin_us))
                break;
        }
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
                        rounds);
    }
    close(sv[0]);
    waitpid(child, nullptr, 0);
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int devices = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int walks = argc > 2 ? std::atoi(argv[2]) : 20;

    discovery_bench_t discovery(devices, false);
    if (!discovery.ok()) {
        std::fprintf(stderr, "cannot set up the discovery objects\n");
        return 1;
    }
    Icom_adapter* remote_adapter = discovery.remote_adapter;
    Icom_adapter* local_adapter = discovery.local_adapter;

    bool ok = true;
    walk(remote_adapter); // warm-up
    const double over_transport = time_walks(remote_adapter, walks, size_t(devices), ok);
    discovery.stop_server();
    walk(local_adapter);
    const double in_process = time_walks(local_adapter, walks, size_t(devices), ok);

    const double blocking_rt = ping_pong(0, 5000);
    const double spinning_rt = ping_pong(50, 20000);

    const double calls = 6.0 * devices + 2; // first/next, 4 reads, release per device
    std::printf("\nscoutline_walk: %d devices, median of %d walks\n", devices, walks);
    std::printf("  transport:  %9.3f ms per walk  (%6.2f us per call)\n", over_transport * 1e3,
                over_transport * 1e6 / calls);
    std::printf("  in process: %9.3f ms per walk  (%6.3f us per call)\n", in_process * 1e3, in_process * 1e6 / calls);
    std::printf("  floor, ping-pong blocking: %9.3f ms per walk  (%6.2f us per round trip)\n",
                blocking_rt * calls / 1e3, blocking_rt);
    std::printf("  floor, ping-pong spinning: %9.3f ms per walk  (%6.2f us per round trip)\n",
                spinning_rt * calls / 1e3, spinning_rt);
    std::printf("  ratio transport / in process: %.1f\n", over_transport / in_process);
    std::printf("  ratio transport / blocking floor: %.2f, / spinning floor: %.2f\n",
                over_transport * 1e6 / calls / blocking_rt, over_transport * 1e6 / calls / spinning_rt);
    if (!ok)
        std::printf("  WARNING: a walk did not see every device\n");

    return ok ? 0 : 1;
}
