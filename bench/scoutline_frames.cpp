// Discovery frames per second through the receive filter, the raw packet
// library, the engine's receive thread, parser and device table, on one
// core, against a bare AF_PACKET read loop on the same veth in the same run.
//
//   scoutline_frames [bare|engine: that run only]
//
// Needs root (two private network namespaces joined by a veth pair). A sender
// in the far namespace floods device announcements from 256 MACs; each
// receiver counts what it gets through in a fixed window.
#include <scoutline/adapter.h>
#include <scoutline/frames.h>

#include <netns.h>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr auto window = 3s;

void pin_to(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

int raw_socket(const char* interface)
{
    const int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
    if (fd < 0)
        return -1;
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = int(if_nametoindex(interface));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    const int size = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return fd;
}

// Floods announcements until told to stop.
void sender(const vx::test::netns_pair& pair, std::atomic<bool>& stop, std::atomic<uint64_t>& sent)
{
    vx::test::netns_scope scope(pair.ns(vx::test::netns_pair::b));
    if (!scope.ok())
        return;
    pin_to(1);
    const int fd = raw_socket(pair.interface(vx::test::netns_pair::b).c_str());
    if (fd < 0)
        return;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 256; ++i) {
        std::vector<uint8_t> f = {0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x00, 0x00, 0x60, 0x2B, 0x20,       0x00, uint8_t(i),
                                  0x88, 0x19, 1,    2,    3,    0x08, 10,   1,    0,    uint8_t(i), 0,    0};
        f.resize(60, 0);
        frames.push_back(f);
    }
    uint64_t n = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        const auto& f = frames[n % frames.size()];
        if (send(fd, f.data(), f.size(), 0) > 0)
            ++n;
    }
    sent = n;
    close(fd);
}

// The bare peer: one recv per frame, nothing else.
uint64_t bare_loop(const vx::test::netns_pair& pair)
{
    return pair.in_namespace(vx::test::netns_pair::a, [&]() -> uint64_t {
        pin_to(0);
        const int fd = raw_socket(pair.interface(vx::test::netns_pair::a).c_str());
        if (fd < 0)
            return 0;
        uint8_t buffer[1514];
        uint64_t frames = 0;
        const auto end = clock_type::now() + window;
        while (clock_type::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0)
                ++frames;
        }
        close(fd);
        return frames;
    });
}

// The engine's own receive thread (ten reads outstanding, waited
// round-robin, every frame parsed into the device table), counted by the
// frames it parsed within the window.
uint64_t engine_loop(const vx::test::netns_pair& pair, size_t& devices)
{
    qm::vx::adapter_info_t info;
    info.name = "[0] bench";
    info.open_name = "\\Device\\" + pair.interface(vx::test::netns_pair::a);
    info.ip.assign_text("192.168.77.1");
    info.mask.assign_text("255.255.255.0");
    // Opened and started on a thread pinned to core 0, so the library's
    // completion thread and the engine's threads share that core.
    auto engine = pair.in_namespace(vx::test::netns_pair::a, [&] {
        pin_to(0);
        auto opened = std::make_unique<qm::vx::adapter_t>(info);
        if (opened->is_open())
            opened->start();
        return opened;
    });
    if (!engine->is_open())
        return 0;
    std::this_thread::sleep_for(100ms);
    const uint64_t before = engine->frames_parsed();
    std::this_thread::sleep_for(window);
    const uint64_t frames = engine->frames_parsed() - before;
    engine->stop();
    devices = engine->device_count();
    return frames;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string only = argc > 1 ? argv[1] : "";
    if (argc > 2 || (!only.empty() && only != "bare" && only != "engine")) {
        std::fprintf(stderr, "usage: scoutline_frames [bare|engine]\n");
        return 2;
    }
    if (!vx::test::running_as_root()) {
        std::printf("scoutline_frames: needs root (network namespaces); skipped\n");
        return 0;
    }
    vx::test::netns_pair pair("vxbh0", "vxbd0");
    if (!pair.ok()) {
        std::printf("scoutline_frames: %s\n", pair.error().c_str());
        return 1;
    }
    pair.add_address(vx::test::netns_pair::a, "192.168.77.1/24");

    auto run = [&](auto&& receive) {
        std::atomic<bool> stop{false};
        std::atomic<uint64_t> sent{0};
        std::thread flood([&] { sender(pair, stop, sent); });
        std::this_thread::sleep_for(200ms);
        const uint64_t received = receive();
        stop = true;
        flood.join();
        return std::pair<uint64_t, uint64_t>(received, sent.load());
    };

    std::pair<uint64_t, uint64_t> bare{0, 0}, engine{0, 0};
    size_t devices = 0;
    if (only != "engine")
        bare = run([&] { return bare_loop(pair); });
    if (only != "bare")
        engine = run([&] { return engine_loop(pair, devices); });

    const double seconds = std::chrono::duration<double>(window).count();
    const double bare_rate = double(bare.first) / seconds;
    const double engine_rate = double(engine.first) / seconds;
    std::printf("\nsender offered:      %10.0f frames/s (bare run), %10.0f frames/s (engine run)\n",
                double(bare.second) / (seconds + 0.2), double(engine.second) / (seconds + 0.2));
    std::printf("bare AF_PACKET read: %10.0f frames/s\n", bare_rate);
    std::printf("scoutline engine:    %10.0f frames/s (filter, library, parse, table; %zu devices)\n", engine_rate,
                devices);
    std::printf("ratio engine/bare:   %10.3f\n", bare_rate > 0 ? engine_rate / bare_rate : 0.0);
    return 0;
}
