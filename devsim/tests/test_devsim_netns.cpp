// The simulator as a program on a veth pair, and the namespace support the
// netns tests share. Needs root.
#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "l2/frames.h"
#include "l2/link.h"
#include "netns.h"

namespace {

using namespace std::chrono_literals;
using namespace devsim;
using vx::test::netns_pair;

#define REQUIRE_ROOT()                                                                                                 \
    do {                                                                                                               \
        if (!vx::test::running_as_root()) {                                                                            \
            GTEST_SKIP() << "needs root for network namespaces";                                                       \
        }                                                                                                              \
    } while (0)

bool namespace_exists(const std::string& name)
{
    FILE* p = ::popen("ip netns list", "r");
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p))
        out += buffer;
    ::pclose(p);
    return out.find(name + " ") != std::string::npos || out.find(name + "\n") != std::string::npos;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Frames seen on the host end until `done` or the time-out.
bool receive_until(l2::link_t& link, std::chrono::milliseconds timeout,
                   const std::function<bool(const uint8_t*, size_t)>& done)
{
    auto until = std::chrono::steady_clock::now() + timeout;
    uint8_t buffer[2048];
    while (std::chrono::steady_clock::now() < until) {
        pollfd p{link.fd(), POLLIN, 0};
        ::poll(&p, 1, 50);
        long got;
        while ((got = link.receive(buffer, sizeof buffer)) >= 0)
            if (done(buffer, static_cast<size_t>(got)))
                return true;
    }
    return false;
}

TEST(NetnsSupport, PairIsUsableAndRemovedAfterwards)
{
    REQUIRE_ROOT();
    std::string a, b;
    {
        netns_pair pair("vxt0", "vxt1");
        ASSERT_TRUE(pair.ok()) << pair.error();
        a = pair.ns(netns_pair::a);
        b = pair.ns(netns_pair::b);
        EXPECT_TRUE(namespace_exists(a));
        EXPECT_EQ(pair.run(netns_pair::a, "ip link show vxt0 | grep -q 'state UP'"), 0);
        EXPECT_EQ(pair.run(netns_pair::b, "test -e /sys/class/net/vxt1 && ! test -e /sys/class/net/vxt0"), 0);
        EXPECT_EQ(pair.run(netns_pair::b, "exit 7"), 7);
        EXPECT_EQ(pair.mac(netns_pair::a).size(), 17u);
        EXPECT_NE(pair.mac(netns_pair::a), pair.mac(netns_pair::b));
        EXPECT_EQ(pair.in_child(netns_pair::b, [] { return if_nametoindex("vxt1") != 0 ? 5 : 6; }), 5);
        EXPECT_TRUE(pair.in_namespace(netns_pair::a, [] { return if_nametoindex("vxt0") != 0; }));
        EXPECT_EQ(if_nametoindex("vxt0"), 0u) << "the calling thread must stay where it was";

        auto sleeper = pair.spawn(netns_pair::a, {"sh", "-c", "echo ready; exec sleep 30"});
        EXPECT_TRUE(sleeper->wait_for_line("ready", 30s));
        EXPECT_TRUE(sleeper->running());
        EXPECT_EQ(sleeper->kill(), 128 + SIGTERM);
        EXPECT_FALSE(sleeper->running());
    }
    EXPECT_FALSE(namespace_exists(a));
    EXPECT_FALSE(namespace_exists(b));
}

class DevsimNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_ROOT();
        pair_ = std::make_unique<netns_pair>("vxh0", "vxd0");
        ASSERT_TRUE(pair_->ok()) << pair_->error();
        state_ = "/tmp/devsim-netns-state-" + std::to_string(::getpid());
        scope_ = std::make_unique<vx::test::netns_scope>(pair_->ns(netns_pair::a));
        ASSERT_TRUE(scope_->ok());
        host_ = std::make_unique<l2::link_t>("vxh0");
    }
    void TearDown() override
    {
        devsim_.reset();
        host_.reset();
        scope_.reset();
        pair_.reset();
        std::remove(state_.c_str());
    }
    void start(std::vector<std::string> options)
    {
        std::vector<std::string> argv{vx::test::devsim_path(), "-i", "vxd0", "--state-file", state_};
        argv.insert(argv.end(), options.begin(), options.end());
        devsim_ = pair_->spawn(netns_pair::b, argv);
        ASSERT_TRUE(devsim_->wait_for_line("started vxd0", 30s));
    }

    std::unique_ptr<netns_pair> pair_;
    std::unique_ptr<vx::test::netns_scope> scope_;
    std::unique_ptr<l2::link_t> host_;
    std::unique_ptr<vx::test::background_process> devsim_;
    std::string state_;
};

TEST_F(DevsimNetns, RecordsReservationRequestsAndAnswersThemAtOnce)
{
    start({"-n", "2", "--period", "60000"}); // no periodic announcement within the test
    // The start-up announcements.
    int seen = 0;
    receive_until(*host_, 30s, [&](const uint8_t* f, size_t n) { return !announced_ips(f, n).empty() && ++seen == 2; });
    ASSERT_EQ(seen, 2);

    frame_t request(mac_reservation_group.begin(), mac_reservation_group.end());
    request.reserve(64);
    request.insert(request.end(), host_->own_mac().begin(), host_->own_mac().end());
    for (uint8_t b : {0x88, 0x19, 1, 2, 3, 4, 0,    0,    0,    0, 3, 8, 0, 0, 0, 0, 4, 0x40, 0x10,
                      0x10, 0,    0, 0, 0, 6, 0x60, 0x10, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0,    0})
        request.push_back(b);
    ASSERT_EQ(request.size(), 50u);
    ASSERT_TRUE(host_->send(request));
    EXPECT_TRUE(devsim_->wait_for_line("reservation " + hex_text(request.data(), request.size()), 30s));
    seen = 0;
    EXPECT_TRUE(receive_until(*host_, 30s, [&](const uint8_t* f, size_t n) {
        return !announced_ips(f, n).empty() && ++seen == 2;
    })) << "every device answers a reservation request";
    EXPECT_NE(read_file(state_).find("reservations 1"), std::string::npos);

    EXPECT_EQ(devsim_->kill(), 0);
    EXPECT_TRUE(devsim_->wait_for_line("stopped", 30s));
}

TEST_F(DevsimNetns, IgnoreRarpDeviceAndSquatter)
{
    start({"-n", "2", "--quirk", "0=ignore-rarp", "--squatter", "192.168.77.40=02:00:00:00:ff:07"});
    const mac_t dev0{0x00, 0x60, 0x2B, 0x10, 0x00, 0x01};
    const mac_t dev1{0x00, 0x60, 0x2B, 0x10, 0x00, 0x02};
    ASSERT_TRUE(host_->send(build_rarp_reply(dev0, host_->own_mac(), 0xC0A84D01, 0xC0A84D1E)));
    ASSERT_TRUE(host_->send(build_rarp_reply(dev1, host_->own_mac(), 0xC0A84D01, 0xC0A84D1F)));
    EXPECT_TRUE(devsim_->wait_for_line("rarp-ignored 00:60:2b:10:00:01 192.168.77.30", 30s));
    EXPECT_TRUE(devsim_->wait_for_line("assigned 00:60:2b:10:00:02 192.168.77.31", 30s));
    auto state = read_file(state_);
    EXPECT_NE(state.find("device 0 00:60:2b:10:00:01 0.0.0.0"), std::string::npos) << state;
    EXPECT_NE(state.find("device 1 00:60:2b:10:00:02 192.168.77.31"), std::string::npos) << state;

    ASSERT_TRUE(host_->send(build_arp_request(host_->own_mac(), 0xC0A84D01, 0xC0A84D28)));
    EXPECT_TRUE(receive_until(*host_, 30s, [&](const uint8_t* f, size_t n) {
        auto arp = parse_arp(f, n);
        return arp && arp->opcode == 2 && arp->sender_ip == 0xC0A84D28u &&
            parse_ethernet(f, n)->src == mac_t{0x02, 0, 0, 0, 0xFF, 0x07} &&
            parse_ethernet(f, n)->dst == host_->own_mac();
    })) << "the squatter answers for its address";
    EXPECT_TRUE(devsim_->wait_for_line("arp-reply 02:00:00:00:ff:07 192.168.77.40 squatter", 30s));
}

} // namespace
