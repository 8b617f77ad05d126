// The devices' layer-2 behaviour, driven with frames in memory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "l2/responder.h"

namespace {

using namespace devsim;

const mac_t server{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
const uint32_t server_ip = 0xC0A84D01;

struct harness {
    world_t world;
    std::string state = "/tmp/devsim-test-state-" + std::to_string(::getpid());
    event_log_t log{state};
    std::vector<frame_t> sent;
    l2::responder_t responder{world,
                              log,
                              [this](const frame_t& f) {
                                  sent.push_back(f);
                                  return true;
                              },
                              nullptr,
                              std::chrono::milliseconds(1000),
                              false};

    explicit harness(int devices)
    {
        world.interface = "vxd0";
        for (int k = 0; k < devices; ++k) {
            device_t d;
            d.index = k;
            d.mac = {0x00, 0x60, 0x2B, 0x10, 0x00, static_cast<uint8_t>(k + 1)};
            world.devices.push_back(d);
        }
    }
    ~harness() { std::remove(state.c_str()); }
    void feed(const frame_t& f) { responder.handle_frame(f.data(), f.size()); }
    std::string state_text()
    {
        std::ifstream in(state);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST(DevsimResponder, AdoptsARarpAddressAndAnnouncesIt)
{
    harness h(2);
    h.feed(build_rarp_reply(h.world.devices[1].mac, server, server_ip, 0xC0A84D1E));
    EXPECT_EQ(h.world.devices[1].ip, 0xC0A84D1Eu);
    EXPECT_EQ(h.world.devices[0].ip, 0u);
    ASSERT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(h.sent[0], build_announcement(mac_announce_group, h.world.devices[1].mac, 0xC0A84D1E));
    EXPECT_NE(h.state_text().find("device 1 00:60:2b:10:00:02 192.168.77.30"), std::string::npos);

    // Not addressed to a device, or not a reply: nothing.
    h.sent.clear();
    h.feed(build_rarp_reply(server, server, server_ip, 0x0A000001));
    auto request = build_rarp_reply(h.world.devices[0].mac, server, server_ip, 0x0A000001);
    request[21] = 3;
    h.feed(request);
    EXPECT_EQ(h.world.devices[0].ip, 0u);
    EXPECT_TRUE(h.sent.empty());
}

TEST(DevsimResponder, IgnoreRarpDeviceKeepsItsAddress)
{
    harness h(1);
    h.world.devices[0].quirks.insert(quirk::ignore_rarp);
    h.feed(build_rarp_reply(h.world.devices[0].mac, server, server_ip, 0xC0A84D1E));
    EXPECT_EQ(h.world.devices[0].ip, 0u);
    EXPECT_TRUE(h.sent.empty());
}

TEST(DevsimResponder, AnswersArpForOwnedAddressesOnly)
{
    harness h(3);
    h.world.devices[0].ip = 0xC0A84D14;
    h.world.devices[1].ip = 0xC0A84D14; // two devices on one address: both answer
    h.world.devices[2].ip = 0xC0A84D15;
    h.world.devices[2].quirks.insert(quirk::announce_zero);
    h.world.squatters.push_back({0xC0A84D16, {0x02, 0, 0, 0, 0xFF, 1}});

    h.feed(build_arp_request(server, server_ip, 0xC0A84D14));
    ASSERT_EQ(h.sent.size(), 2u);
    auto reply = parse_arp(h.sent[0].data(), h.sent[0].size());
    EXPECT_EQ(reply->opcode, 2);
    EXPECT_EQ(parse_ethernet(h.sent[0].data(), h.sent[0].size())->dst, server);
    EXPECT_EQ(reply->target_ip, server_ip);

    h.sent.clear();
    h.feed(build_arp_request(server, server_ip, 0xC0A84D15)); // announces zero, still answers
    EXPECT_EQ(h.sent.size(), 1u);
    h.sent.clear();
    h.feed(build_arp_request(server, server_ip, 0xC0A84D16));
    ASSERT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(parse_ethernet(h.sent[0].data(), h.sent[0].size())->src, h.world.squatters[0].mac);
    h.sent.clear();
    h.feed(build_arp_request(server, server_ip, 0xC0A84D63));
    h.feed(build_arp_request(server, server_ip, 0));
    EXPECT_TRUE(h.sent.empty());

    // Requests sent by our own stations are not answered.
    h.feed(build_arp_request(h.world.devices[2].mac, 0xC0A84D15, 0xC0A84D14));
    EXPECT_TRUE(h.sent.empty());
}

TEST(DevsimResponder, ReservationRequestIsRecordedAndAnsweredByEveryDevice)
{
    harness h(2);
    h.world.devices[0].quirks.insert(quirk::broadcast_announce);
    frame_t request(mac_reservation_group.begin(), mac_reservation_group.end());
    request.insert(request.end(), server.begin(), server.end());
    for (uint8_t b : {0x88, 0x19, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0})
        request.push_back(b);
    h.feed(request);
    EXPECT_EQ(h.world.reservations, 1u);
    ASSERT_EQ(h.sent.size(), 2u);
    EXPECT_EQ(parse_ethernet(h.sent[0].data(), h.sent[0].size())->dst, mac_broadcast);
    EXPECT_EQ(parse_ethernet(h.sent[1].data(), h.sent[1].size())->dst, mac_announce_group);
    EXPECT_NE(h.state_text().find("reservations 1"), std::string::npos);

    // The devices' own announcements, seen again, are nothing.
    h.sent.clear();
    h.feed(build_announcement(mac_reservation_group, h.world.devices[1].mac, 0));
    EXPECT_TRUE(h.sent.empty());
    EXPECT_EQ(h.world.reservations, 1u);
}

} // namespace
