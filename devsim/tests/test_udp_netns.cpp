// The UDP layer against the kernel of a real peer: a host in one namespace
// talks to simulated devices on the raw socket in the other. The kernel
// resolves each device by ARP and drops any datagram with a wrong checksum,
// so an answer proves both. Needs root.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "l2/link.h"
#include "l2/responder.h"
#include "netns.h"
#include "udp/stack.h"

namespace {

using namespace std::chrono_literals;
using namespace devsim;
using vx::test::netns_pair;

// The simulator's loop for a few devices, on a thread inside the device namespace.
class device_loop {
public:
    using setup_fn = std::function<void(world_t&, udp::stack_t&)>;

    // `setup` binds the services on the loop's thread before it starts.
    device_loop(const netns_pair& pair, int devices, setup_fn setup) : setup_(std::move(setup))
    {
        for (int k = 0; k < devices; ++k) {
            device_t d;
            d.index = k;
            d.mac = {0x00, 0x60, 0x2B, 0x10, 0x00, static_cast<uint8_t>(k + 1)};
            d.ip = 0xC0A84D0A + static_cast<uint32_t>(k); // 192.168.77.10 + k
            world_.devices.push_back(d);
        }
        thread_ = std::thread([this, &pair] { run(pair.ns(netns_pair::b), pair.interface(netns_pair::b)); });
        while (!ready_ && !failed_)
            std::this_thread::sleep_for(5ms);
    }
    ~device_loop()
    {
        stop_ = true;
        thread_.join();
    }
    bool ok() const { return ready_; }

private:
    void run(const std::string& ns, const std::string& interface)
    {
        try {
            serve(ns, interface);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "device loop: %s\n", e.what());
        }
        failed_ = true;
    }
    void serve(const std::string& ns, const std::string& interface)
    {
        vx::test::netns_scope scope(ns);
        if (!scope.ok())
            return;
        l2::link_t link(interface);
        auto send = [&link](const frame_t& f) { return link.send(f); };
        event_log_t log;
        l2::responder_t responder(world_, log, send, &link, std::chrono::milliseconds(60000), false);
        udp::stack_t stack(world_, send);
        responder.set_ipv4_handler([&](const uint8_t* f, size_t n, bool ready) { stack.handle_frame(f, n, ready); });
        setup_(world_, stack);
        ready_ = true;
        while (!stop_) {
            pollfd p{link.fd(), POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                responder.on_readable();
        }
    }

    world_t world_;
    setup_fn setup_;
    std::thread thread_;
    std::atomic<bool> ready_{false}, failed_{false}, stop_{false};
};

struct answer {
    std::string text;
    std::string from;
};

// One datagram from the host namespace; the first answer within the time-out.
std::optional<answer> exchange(const std::string& ip, uint16_t port, const std::string& text)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
    std::optional<answer> result;
    for (int attempt = 0; attempt < 3 && !result; ++attempt) { // the first may wait for ARP
        ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            continue;
        char buffer[1500];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t got = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0)
            continue;
        char address[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        result = answer{std::string(buffer, static_cast<size_t>(got)),
                        std::string(address) + ":" + std::to_string(ntohs(from.sin_port))};
    }
    ::close(fd);
    return result;
}

TEST(UdpNetns, DevicesAnswerFromTheirOwnAddressesAndPorts)
{
    if (!vx::test::running_as_root())
        GTEST_SKIP() << "needs root for network namespaces";
    netns_pair pair("vxh0", "vxd0");
    ASSERT_TRUE(pair.ok()) << pair.error();
    ASSERT_TRUE(pair.add_address(netns_pair::a, "192.168.77.1/24"));

    // Port 7 echoes from port 7; port 69 answers from a fresh port, which
    // then echoes once and is released, as a transfer would be.
    device_loop loop(pair, 3, [](world_t& world, udp::stack_t& stack) {
        for (auto& device : world.devices) {
            stack.bind(device, 7, [&stack](const udp::datagram_t& d) {
                std::string text = std::string(reinterpret_cast<const char*>(d.data), d.size) + " from " +
                    std::to_string(d.device.index);
                stack.reply(d, 7, reinterpret_cast<const uint8_t*>(text.data()), text.size());
            });
            stack.bind(device, 69, [&stack](const udp::datagram_t& d) {
                uint16_t port = stack.bind_any(d.device, [&stack](const udp::datagram_t& t) {
                    stack.reply(t, t.destination_port, t.data, t.size);
                    stack.release(t.device, t.destination_port);
                });
                std::string text = std::to_string(port);
                stack.reply(d, port, reinterpret_cast<const uint8_t*>(text.data()), text.size());
            });
        }
    });
    ASSERT_TRUE(loop.ok());

    pair.in_namespace(netns_pair::a, [] {
        for (int k = 0; k < 3; ++k) {
            std::string ip = "192.168.77." + std::to_string(10 + k);
            auto a = exchange(ip, 7, "hello");
            ASSERT_TRUE(a) << "device " << k << " did not answer";
            EXPECT_EQ(a->text, "hello from " + std::to_string(k));
            EXPECT_EQ(a->from, ip + ":7");
        }
        auto fresh = exchange("192.168.77.11", 69, "open");
        ASSERT_TRUE(fresh);
        uint16_t port = static_cast<uint16_t>(std::stoi(fresh->text));
        EXPECT_GE(port, 49152);
        EXPECT_EQ(fresh->from, "192.168.77.11:" + fresh->text);
        auto echoed = exchange("192.168.77.11", port, "data");
        ASSERT_TRUE(echoed);
        EXPECT_EQ(echoed->text, "data");
    });

    // ARP resolved each address once, to the device's own MAC.
    FILE* p = ::popen(("ip netns exec " + pair.ns(netns_pair::a) + " ip neigh show dev vxh0").c_str(), "r");
    std::string neighbours;
    char line[256];
    while (p && std::fgets(line, sizeof line, p))
        neighbours += line;
    if (p)
        ::pclose(p);
    for (int k = 0; k < 3; ++k)
        EXPECT_NE(neighbours.find("192.168.77." + std::to_string(10 + k) + " lladdr 00:60:2b:10:00:0" +
                                  std::to_string(k + 1)),
                  std::string::npos)
            << neighbours;
}

} // namespace
