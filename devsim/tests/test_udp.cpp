// IPv4/UDP frames and the per-device port dispatcher, without a network.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "udp/ipv4.h"
#include "udp/stack.h"

namespace {

using namespace devsim;

const mac_t host_mac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
const mac_t dev_mac{0x00, 0x60, 0x2B, 0x10, 0x00, 0x01};
constexpr uint32_t host_ip = 0xC0A84D01; // 192.168.77.1
constexpr uint32_t dev_ip = 0xC0A84D0A;  // 192.168.77.10

frame_t datagram(uint16_t port, const std::string& text, uint32_t to = dev_ip)
{
    return udp::build_datagram(dev_mac, host_mac, host_ip, 40000, to, port,
                               reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(UdpFrames, BuiltFrameParsesBackWithValidChecksums)
{
    frame_t f = datagram(161, "hello");
    ASSERT_EQ(f.size(), udp::header_size + 5);
    auto v = udp::parse_datagram(f.data(), f.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->source_ip, host_ip);
    EXPECT_EQ(v->destination_ip, dev_ip);
    EXPECT_EQ(v->source_port, 40000);
    EXPECT_EQ(v->destination_port, 161);
    EXPECT_EQ(v->source_mac, host_mac);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v->payload), v->size), "hello");
    // Both checksums sum to all ones over their ranges (UDP with its pseudo-header).
    EXPECT_EQ(udp::checksum_fold(udp::checksum_add(0, f.data() + 14, 20)), 0xFFFF);
}

TEST(UdpFrames, KnownChecksumVector)
{
    // The worked example of RFC 1071: 00 01 f2 03 f4 f5 f6 f7 sums to ddf2.
    const uint8_t words[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(udp::checksum_fold(udp::checksum_add(0, words, sizeof words)), 0xddf2);
}

TEST(UdpFrames, MalformedFramesAreRefused)
{
    frame_t good = datagram(161, "payload");
    struct bad_case {
        const char* what;
        void (*spoil)(frame_t&);
        bool checksum_ready;
    } cases[] = {
        {"short frame", [](frame_t& f) { f.resize(30); }, true},
        {"not IPv4",
         [](frame_t& f) {
             f[12] = 0x86;
             f[13] = 0xDD;
         },
         true},
        {"IP version 6 in an IPv4 frame", [](frame_t& f) { f[14] = 0x65; }, true},
        {"header length below 20", [](frame_t& f) { f[14] = 0x44; }, true},
        {"total length past the frame", [](frame_t& f) { f[16] = 0x05; }, true},
        {"IP header checksum", [](frame_t& f) { f[22] ^= 1; }, true},
        {"more fragments", [](frame_t& f) { f[20] |= 0x20; }, true},
        {"not UDP", [](frame_t& f) { f[23] = 6; }, true},
        {"UDP length below 8",
         [](frame_t& f) {
             f[38] = 0;
             f[39] = 4;
         },
         true},
        {"UDP checksum", [](frame_t& f) { f.back() ^= 0x40; }, true},
    };
    for (const auto& c : cases) {
        frame_t f = good;
        c.spoil(f);
        // Keep the IP header checksum right where the case spoils something else.
        if (std::string(c.what) != "IP header checksum" && f.size() >= 34 && (f[14] & 0x0F) == 5) {
            f[24] = f[25] = 0;
            uint16_t sum = static_cast<uint16_t>(~udp::checksum_fold(udp::checksum_add(0, f.data() + 14, 20)));
            f[24] = static_cast<uint8_t>(sum >> 8);
            f[25] = static_cast<uint8_t>(sum);
        }
        EXPECT_FALSE(udp::parse_datagram(f.data(), f.size(), c.checksum_ready)) << c.what;
    }
    // A UDP checksum left to the hardware is not checked; padding after the packet is ignored.
    frame_t partial = good;
    partial[40] ^= 0x55;
    EXPECT_TRUE(udp::parse_datagram(partial.data(), partial.size(), false));
    frame_t padded = good;
    padded.resize(80, 0);
    EXPECT_TRUE(udp::parse_datagram(padded.data(), padded.size()));
    // Checksum 0 means the sender computed none.
    frame_t none = good;
    none[40] = none[41] = 0;
    EXPECT_TRUE(udp::parse_datagram(none.data(), none.size()));
}

class UdpStack : public ::testing::Test {
protected:
    void SetUp() override
    {
        device_t d;
        d.mac = dev_mac;
        d.ip = dev_ip;
        world_.devices.push_back(d);
        device_t other = d;
        other.index = 1;
        other.mac[5] = 2;
        other.ip = dev_ip + 1;
        world_.devices.push_back(other);
        stack_ = std::make_unique<udp::stack_t>(world_, [this](const frame_t& f) {
            sent_.push_back(f);
            return true;
        });
    }
    std::string reply_text(size_t i)
    {
        auto v = udp::parse_datagram(sent_.at(i).data(), sent_.at(i).size());
        return v ? std::string(reinterpret_cast<const char*>(v->payload), v->size) : "<bad>";
    }

    world_t world_;
    std::vector<frame_t> sent_;
    std::unique_ptr<udp::stack_t> stack_;
};

TEST_F(UdpStack, DispatchesByDeviceAndPortAndRepliesFromTheDevice)
{
    device_t& dev = world_.devices[0];
    std::vector<std::string> seen;
    ASSERT_TRUE(stack_->bind(dev, 161, [&](const udp::datagram_t& d) {
        seen.emplace_back(reinterpret_cast<const char*>(d.data), d.size);
        EXPECT_EQ(&d.device, &dev);
        EXPECT_EQ(d.source_ip, host_ip);
        EXPECT_EQ(d.destination_port, 161);
        stack_->reply(d, 161, reinterpret_cast<const uint8_t*>("pong"), 4);
    }));
    EXPECT_FALSE(stack_->bind(dev, 161, [](const udp::datagram_t&) {})) << "a port is bound once";
    EXPECT_FALSE(stack_->bind(dev, 0, [](const udp::datagram_t&) {}));

    frame_t f = datagram(161, "ping");
    stack_->handle_frame(f.data(), f.size());
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(sent_.size(), 1u);
    auto out = udp::parse_datagram(sent_[0].data(), sent_[0].size());
    ASSERT_TRUE(out);
    EXPECT_EQ(out->source_mac, dev_mac);
    EXPECT_EQ(out->destination_mac, host_mac) << "the peer's MAC is learnt from its datagram";
    EXPECT_EQ(out->source_ip, dev_ip);
    EXPECT_EQ(out->destination_port, 40000);
    EXPECT_EQ(reply_text(0), "pong");
    EXPECT_GT(dev.in_octets, 0u);
    EXPECT_GT(dev.out_octets, 0u);

    // The other device's port 161 is not bound; a wrong address for the MAC is not delivered.
    frame_t to_other =
        udp::build_datagram(world_.devices[1].mac, host_mac, host_ip, 40000, dev_ip + 1, 161, nullptr, 0);
    stack_->handle_frame(to_other.data(), to_other.size());
    frame_t wrong_ip = datagram(161, "x", dev_ip + 7);
    stack_->handle_frame(wrong_ip.data(), wrong_ip.size());
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(stack_->counters().unbound, 2u);

    // A device without an address takes no datagrams.
    dev.ip = 0;
    stack_->handle_frame(f.data(), f.size());
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(UdpStack, FreshPortsBoundAndReleasedFromInsideHandlers)
{
    device_t& dev = world_.devices[0];
    uint16_t transfer = 0;
    int transfer_calls = 0;
    stack_->bind(dev, 69, [&](const udp::datagram_t& d) {
        transfer = stack_->bind_any(d.device, [&](const udp::datagram_t& t) {
            ++transfer_calls;
            stack_->reply(t, t.destination_port, reinterpret_cast<const uint8_t*>("done"), 4);
            stack_->release(t.device, t.destination_port); // ends the transfer inside its own handler
        });
        stack_->reply(d, transfer, reinterpret_cast<const uint8_t*>("start"), 5);
    });
    frame_t request = datagram(69, "rrq");
    stack_->handle_frame(request.data(), request.size());
    ASSERT_GE(transfer, 49152);
    EXPECT_TRUE(stack_->bound(dev, transfer));
    auto first = udp::parse_datagram(sent_.at(0).data(), sent_.at(0).size());
    EXPECT_EQ(first->source_port, transfer);

    frame_t ack = datagram(transfer, "ack");
    stack_->handle_frame(ack.data(), ack.size());
    stack_->handle_frame(ack.data(), ack.size());
    EXPECT_EQ(transfer_calls, 1) << "the released port takes nothing more";
    EXPECT_FALSE(stack_->bound(dev, transfer));
    EXPECT_EQ(reply_text(1), "done");

    // A second transfer gets a different port while the first is bound.
    uint16_t a = stack_->bind_any(dev, [](const udp::datagram_t&) {});
    uint16_t b = stack_->bind_any(dev, [](const udp::datagram_t&) {});
    EXPECT_NE(a, b);
    EXPECT_NE(a, 0);
}

TEST_F(UdpStack, SendsOnlyToPeersItHeardFromAndWithinOnePacket)
{
    device_t& dev = world_.devices[0];
    uint8_t payload[udp::max_payload + 1] = {};
    EXPECT_FALSE(stack_->send(dev, 161, host_ip, 40000, payload, 1)) << "no MAC known yet";
    stack_->bind(dev, 161, [](const udp::datagram_t&) {});
    frame_t f = datagram(161, "hi");
    stack_->handle_frame(f.data(), f.size());
    EXPECT_TRUE(stack_->send(dev, 161, host_ip, 40000, payload, udp::max_payload));
    EXPECT_FALSE(stack_->send(dev, 161, host_ip, 40000, payload, sizeof payload));
    EXPECT_EQ(stack_->counters().send_failed, 2u);
}

} // namespace
