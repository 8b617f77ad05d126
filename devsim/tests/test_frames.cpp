// The simulator's frames: exact bytes of what the devices send, and the
// parsing of what the server sends them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "l2/frames.h"
#include "options.h"

namespace {

using namespace devsim;

const mac_t dev{0x00, 0x60, 0x2B, 0x10, 0x00, 0x01};
const mac_t server{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

frame_t bytes(std::initializer_list<uint8_t> b) { return frame_t(b); }

frame_t header(const mac_t& dst, const mac_t& src, uint16_t type)
{
    frame_t f(dst.begin(), dst.end());
    f.insert(f.end(), src.begin(), src.end());
    f.push_back(static_cast<uint8_t>(type >> 8));
    f.push_back(static_cast<uint8_t>(type));
    return f;
}

frame_t cat(frame_t a, const frame_t& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(DevsimFrames, AnnouncementCarriesTheIpTagExactly)
{
    auto f = build_announcement(mac_announce_group, dev, 0xC0A84D14);
    EXPECT_EQ(
        f, cat(header(mac_announce_group, dev, 0x8819), bytes({0x01, 0x02, 0x03, 0x08, 192, 168, 77, 20, 0x00, 0x00})));
    auto unaddressed = build_announcement(mac_announce_group, dev, 0);
    EXPECT_EQ(announced_ips(unaddressed.data(), unaddressed.size()), std::vector<uint32_t>{0u});
}

TEST(DevsimFrames, OddShapesAreWhatTheirNamesSay)
{
    const uint32_t ip = 0x0A000005;
    auto tags = [&](announce_shape s) {
        auto f = build_announcement(mac_announce_group, dev, ip, s);
        return frame_t(f.begin() + 14, f.end());
    };
    EXPECT_EQ(tags(announce_shape::zero_length_tag), bytes({1, 2, 0, 5, 3, 8, 10, 0, 0, 5, 0, 0}));
    EXPECT_EQ(tags(announce_shape::truncated_tag), bytes({1, 2, 3, 8, 10, 0, 0, 5, 0x40, 0x20, 0x10, 0x10}));
    EXPECT_EQ(tags(announce_shape::short_ip_tag), bytes({1, 2, 2, 8, 10, 0, 0, 0}));
    EXPECT_EQ(tags(announce_shape::bad_byte15), bytes({1, 3, 3, 8, 10, 0, 0, 5, 0, 0}));
    EXPECT_EQ(tags(announce_shape::kind0), bytes({0, 2, 0, 4, 0, 0, 3, 8, 10, 0, 0, 5, 0, 0}));

    auto two = build_announcement(mac_announce_group, dev, ip, announce_shape::two_ip_tags);
    EXPECT_EQ(announced_ips(two.data(), two.size()), (std::vector<uint32_t>{decoy_ip, ip}));
    auto before = build_announcement(mac_announce_group, dev, ip, announce_shape::tags_before_ip);
    EXPECT_EQ(announced_ips(before.data(), before.size()), std::vector<uint32_t>{ip});
    auto cut = build_announcement(mac_announce_group, dev, ip, announce_shape::truncated_tag);
    EXPECT_EQ(announced_ips(cut.data(), cut.size()), std::vector<uint32_t>{ip});
    auto zero = build_announcement(mac_announce_group, dev, ip, announce_shape::zero_length_tag);
    EXPECT_TRUE(announced_ips(zero.data(), zero.size()).empty());
    auto half = build_announcement(mac_announce_group, dev, ip, announce_shape::short_ip_tag);
    EXPECT_TRUE(announced_ips(half.data(), half.size()).empty());
}

TEST(DevsimFrames, ArpReplyAnswersTheRequester)
{
    auto request = build_arp_request(server, 0xC0A84D01, 0xC0A84D14);
    ASSERT_EQ(request.size(), 42u);
    auto reply = build_arp_reply(dev, 0xC0A84D14, request.data(), request.size());
    EXPECT_EQ(reply,
              cat(header(server, dev, 0x0806),
                  cat(bytes({0, 1, 8, 0, 6, 4, 0, 2}),
                      cat(frame_t(dev.begin(), dev.end()),
                          cat(bytes({192, 168, 77, 20}),
                              cat(frame_t(server.begin(), server.end()), bytes({192, 168, 77, 1})))))));
    EXPECT_TRUE(build_arp_reply(dev, 1, request.data(), 41).empty());
}

TEST(DevsimFrames, ParsesRarpRepliesAndReservationRequests)
{
    auto rarp = build_rarp_reply(dev, server, 0xC0A84D01, 0xC0A84D1E);
    ASSERT_EQ(rarp.size(), 42u);
    auto v = parse_arp(rarp.data(), rarp.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->opcode, 4);
    EXPECT_EQ(v->target_mac, dev);
    EXPECT_EQ(v->target_ip, 0xC0A84D1Eu);
    EXPECT_FALSE(parse_arp(rarp.data(), 41));
    rarp[18] = 8; // not Ethernet/IPv4 sizes
    EXPECT_FALSE(parse_arp(rarp.data(), rarp.size()));

    frame_t request = cat(header(mac_reservation_group, server, 0x8819),
                          bytes({1, 2, 3, 4, 0, 0,    0,    0,    3, 8, 192, 168, 77, 1, 4, 0x40, 0x10, 0x10,
                                 0, 0, 0, 0, 6, 0x60, 0x10, 0x10, 0, 0, 0,   0,   0,  0, 0, 0,    0,    0}));
    ASSERT_EQ(request.size(), 50u);
    EXPECT_TRUE(is_reservation_request(request.data(), request.size()));
    auto announcement = build_announcement(mac_announce_group, dev, 0);
    EXPECT_FALSE(is_reservation_request(announcement.data(), announcement.size()));
}

TEST(DevsimFrames, AddressTextsRoundTripAndRejectJunk)
{
    EXPECT_EQ(mac_text(dev), "00:60:2b:10:00:01");
    EXPECT_EQ(parse_mac("00-60-2B-10-00-01"), dev);
    EXPECT_EQ(parse_mac("00602b100001"), dev);
    EXPECT_FALSE(parse_mac("00:60:2b:10:00"));
    EXPECT_FALSE(parse_mac("00:60:2b:10:00:0g"));
    EXPECT_EQ(ip_text(0xC0A84D14), "192.168.77.20");
    EXPECT_EQ(parse_ip("192.168.77.20"), 0xC0A84D14u);
    for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4.", "1..2.3", "4294967297.1.1.1", "", "1.2.3.4x"})
        EXPECT_FALSE(parse_ip(bad)) << bad;
}

TEST(DevsimOptions, BuildsTheDevicesTheCommandLineAsksFor)
{
    std::string error;
    auto o = parse_options({"-i", "vxd0", "-n", "3", "--ip", "1=10.0.0.7", "--ip", "2=10.0.0.7", "--quirk",
                            "0=ignore-rarp", "--quirk", "0=broadcast", "--mac", "2=02:00:00:00:00:09", "--squatter",
                            "10.0.0.9", "--period", "250"},
                           error);
    ASSERT_TRUE(o) << error;
    auto world = make_world(*o);
    ASSERT_EQ(world.devices.size(), 3u);
    EXPECT_EQ(mac_text(world.devices[1].mac), "00:60:2b:10:00:02");
    EXPECT_EQ(mac_text(world.devices[2].mac), "02:00:00:00:00:09");
    EXPECT_EQ(world.devices[1].ip, world.devices[2].ip);
    EXPECT_TRUE(world.devices[0].has(quirk::ignore_rarp));
    EXPECT_EQ(world.devices[0].announce_destination(), mac_broadcast);
    ASSERT_EQ(world.squatters.size(), 1u);
    EXPECT_EQ(mac_text(world.squatters[0].mac), "02:00:00:00:ff:01");
    EXPECT_EQ(o->period.count(), 250);

    for (std::vector<std::string> bad : {std::vector<std::string>{"-n", "2"},
                                         {"-i", "x", "--ip", "2=1.2.3.4"},
                                         {"-i", "x", "--quirk", "0=nonsense"},
                                         {"-i", "x", "--ip", "0"},
                                         {"-i", "x", "--period", "0"},
                                         {"-i", "x", "--bogus"},
                                         {"-i"}}) {
        error.clear();
        EXPECT_FALSE(parse_options(bad, error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(parse_options({"--help"}, error)->help);
}

TEST(DevsimOptions, FamiliesBundlesAddressesAndFaultsFromTheCommandLineAndAFile)
{
    std::string path = "/tmp/devsim-options-" + std::to_string(::getpid());
    {
        std::ofstream file(path);
        file << "# mixed segment\n  devices 5\n\nfamilies alder,birch,cedar\nfamily 4=dogwood\n"
             << "bundles 4=16/0\nfault all=snmp-late=250\n";
    }
    std::string error;
    auto o = parse_options({"-i", "vxd0", "--ip-base", "192.168.77.253", "--config", path, "--ip", "1=10.0.0.1",
                            "--bundles", "all=1/1", "--bundles", "2=3/4", "--fault", "3=snmp-silent"},
                           error);
    std::remove(path.c_str());
    ASSERT_TRUE(o) << error;
    auto world = make_world(*o);
    ASSERT_EQ(world.devices.size(), 5u);
    const family_t expected[] = {family_t::alder, family_t::birch, family_t::cedar, family_t::alder, family_t::dogwood};
    for (size_t k = 0; k < 5; ++k)
        EXPECT_EQ(world.devices[k].family, expected[k]) << k;
    EXPECT_TRUE(world.devices[1].dsp.present);
    EXPECT_FALSE(world.devices[2].dsp.present);
    EXPECT_EQ(ip_text(world.devices[0].ip), "192.168.77.253");
    EXPECT_EQ(ip_text(world.devices[1].ip), "10.0.0.1");
    EXPECT_EQ(ip_text(world.devices[4].ip), "192.168.78.1") << "the base counts on past a byte";
    // Settings apply in the order given: the file's 16/0, then all=1/1, then 2=3/4.
    EXPECT_EQ(world.devices[4].transmitters, 1);
    EXPECT_EQ(world.devices[2].transmitters, 3);
    EXPECT_EQ(world.devices[2].receivers, 4);
    EXPECT_EQ(world.devices[0].fault("snmp-late"), 250);
    EXPECT_EQ(world.devices[3].fault("snmp-silent"), 1);
    EXPECT_FALSE(world.devices[2].fault("snmp-silent"));

    for (std::vector<std::string> bad : {std::vector<std::string>{"-i", "x", "--families", "alder,oak"},
                                         {"-i", "x", "--family", "0=Alder"},
                                         {"-i", "x", "--bundles", "0=17/1"},
                                         {"-i", "x", "--bundles", "0=2"},
                                         {"-i", "x", "--fault", "0=snmp-late"},
                                         {"-i", "x", "--fault", "0=snmp-silent=1"},
                                         {"-i", "x", "--fault", "0=snmp-error=19"},
                                         {"-i", "x", "--fault", "1=snmp-silent"},
                                         {"-i", "x", "--ip-base", "0.0.0.0"},
                                         {"-i", "x", "--config", "/nonexistent/devsim.conf"}}) {
        error.clear();
        EXPECT_FALSE(parse_options(bad, error)) << bad.back();
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
