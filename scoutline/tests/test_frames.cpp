// Frames built byte for byte, received frames classified, and the tag walk
// over well-formed, malformed and truncated tag lists.
#include <scoutline/frames.h>

#include <gtest/gtest.h>

#include <vector>

using namespace qm::vx;

namespace {

qm::mac_address_t mac(const char* text)
{
    qm::mac_address_t m;
    m.assign_text(text);
    return m;
}

qm::ip_address_t ip(const char* text)
{
    qm::ip_address_t a;
    a.assign_text(text);
    return a;
}

// An announcement from 00602b0a1b2c carrying the given tag bytes.
std::vector<uint8_t> announcement(std::vector<uint8_t> tags, uint8_t kind = 1)
{
    std::vector<uint8_t> f = {0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x00, 0x00, 0x60,
                              0x2B, 0x0A, 0x1B, 0x2C, 0x88, 0x19, kind, 2};
    f.reserve(f.size() + tags.size());
    f.insert(f.end(), tags.begin(), tags.end());
    return f;
}

std::vector<std::string> walk(const std::vector<uint8_t>& f, tag_walk_end_t& end)
{
    std::vector<std::string> found;
    end = walk_tags(f.data(), f.size(), announcement_tags_offset,
                    [&](const qm::ip_address_t& a) { found.push_back(a.to_string()); });
    return found;
}

} // namespace

TEST(Frames, ReservationRequestByteForByte)
{
    uint8_t f[reservation_request_size];
    std::fill(std::begin(f), std::end(f), 0xEE);
    build_reservation_request(f, mac("00a0b1c2d3e4"), ip("192.168.1.10"));
    const uint8_t expected[50] = {0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x01, 0x00, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0x88,
                                  0x19, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00, 0x03, 0x08, 192,  168,
                                  1,    10,   0x04, 0x40, 0x10, 0x10, 0x00, 0x00, 0x00, 0x00, 0x06, 0x60, 0x10,
                                  0x10, 0,    0,    0,    0,    0,    0,    0,    0,    0x00, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(f, f + 50), std::vector<uint8_t>(expected, expected + 50));

    // Its own tag list, walked from offset 22, holds the adapter address.
    std::vector<std::string> found;
    EXPECT_EQ(walk_tags(f, sizeof f, reservation_tags_offset,
                        [&](const qm::ip_address_t& a) { found.push_back(a.to_string()); }),
              tag_walk_end_t::end_marker);
    EXPECT_EQ(found, std::vector<std::string>{"192.168.1.10"});
}

TEST(Frames, RarpReplyAndArpRequestByteForByte)
{
    uint8_t r[rarp_reply_size];
    build_rarp_reply(r, mac("00a0b1c2d3e4"), ip("192.168.1.10"), mac("00602b0a1b2c"), ip("192.168.1.23"));
    const uint8_t rarp[42] = {0x00, 0x60, 0x2B, 0x0A, 0x1B, 0x2C, 0x00, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0x80, 0x35,
                              0x00, 0x01, 0x08, 0x00, 6,    4,    0x00, 0x04, 0x00, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4,
                              192,  168,  1,    10,   0x00, 0x60, 0x2B, 0x0A, 0x1B, 0x2C, 192,  168,  1,    23};
    EXPECT_EQ(std::vector<uint8_t>(r, r + 42), std::vector<uint8_t>(rarp, rarp + 42));

    uint8_t a[arp_request_size];
    build_arp_request(a, mac("00a0b1c2d3e4"), ip("192.168.1.10"), ip("192.168.1.23"));
    const uint8_t arp[42] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0x08, 0x06,
                             0x00, 0x01, 0x08, 0x00, 6,    4,    0x00, 0x01, 0x00, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4,
                             192,  168,  1,    10,   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 192,  168,  1,    23};
    EXPECT_EQ(std::vector<uint8_t>(a, a + 42), std::vector<uint8_t>(arp, arp + 42));
}

TEST(Frames, Classification)
{
    EXPECT_EQ(classify_frame(announcement({0, 0}).data(), 18), frame_kind_t::announcement);
    EXPECT_EQ(classify_frame(announcement({0, 0}, 0).data(), 18), frame_kind_t::device_other);

    uint8_t reply[42];
    build_arp_request(reply, mac("020000000001"), ip("10.0.0.9"), ip("10.0.0.1"));
    EXPECT_EQ(classify_frame(reply, sizeof reply), frame_kind_t::arp_other);
    reply[21] = 2;
    EXPECT_EQ(classify_frame(reply, sizeof reply), frame_kind_t::arp_reply);
    qm::mac_address_t m;
    qm::ip_address_t a;
    read_arp_reply(reply, sizeof reply, m, a);
    EXPECT_EQ(m.to_string(), "020000000001");
    EXPECT_EQ(a.to_string(), "10.0.0.9");
    // A reply cut before its sender address reads the missing bytes as zero.
    read_arp_reply(reply, 30, m, a);
    EXPECT_EQ(a.to_string(), "10.0.0.0");

    std::vector<uint8_t> zero(60, 0);
    EXPECT_EQ(classify_frame(zero.data(), zero.size()), frame_kind_t::empty);
    EXPECT_EQ(classify_frame(zero.data(), 0), frame_kind_t::empty);
    zero[31] = 1;
    EXPECT_EQ(classify_frame(zero.data(), zero.size()), frame_kind_t::unrecognized);
    zero[31] = 0;
    zero[40] = 1; // beyond the first 32 bytes: still empty
    EXPECT_EQ(classify_frame(zero.data(), zero.size()), frame_kind_t::empty);

    std::vector<uint8_t> ipv4(60, 0);
    ipv4[12] = 0x08;
    EXPECT_EQ(classify_frame(ipv4.data(), ipv4.size()), frame_kind_t::unrecognized);
    ipv4[12] = 0x80;
    ipv4[13] = 0x35;
    EXPECT_EQ(classify_frame(ipv4.data(), ipv4.size()), frame_kind_t::unrecognized);
}

TEST(Frames, TagWalkWellFormed)
{
    tag_walk_end_t end;
    EXPECT_TRUE(walk(announcement({0, 0}), end).empty());
    EXPECT_EQ(end, tag_walk_end_t::end_marker);

    // IP tag types 8 to 11; other tags skipped; the last of two wins when applied in order.
    auto f = announcement({2, 0x40, 0xAA, 0xBB, 3, 0x08, 10, 0, 0, 5, 3, 0x0B, 10, 0, 0, 6, 0, 0});
    EXPECT_EQ(walk(f, end), (std::vector<std::string>{"10.0.0.5", "10.0.0.6"}));
    EXPECT_EQ(end, tag_walk_end_t::end_marker);

    // Type 0x0C is not an IP tag.
    EXPECT_TRUE(walk(announcement({3, 0x0C, 10, 0, 0, 5, 0, 0}), end).empty());
    // An address tag of 0.0.0.0 is reported as such.
    EXPECT_EQ(walk(announcement({3, 0x08, 0, 0, 0, 0, 0, 0}), end), std::vector<std::string>{"0.0.0.0"});
}

TEST(Frames, TagWalkMalformed)
{
    tag_walk_end_t end;
    // Length 0 with a nonzero type ends the walk as malformed, after earlier tags applied.
    EXPECT_EQ(walk(announcement({3, 0x08, 1, 2, 3, 4, 0, 5, 3, 0x08, 9, 9, 9, 9}), end),
              std::vector<std::string>{"1.2.3.4"});
    EXPECT_EQ(end, tag_walk_end_t::zero_length);

    // An IP tag of length 1 or 2 has no room for an address: skipped, not read past.
    EXPECT_TRUE(walk(announcement({1, 0x08, 2, 0x08, 0xC0, 0xA8, 0, 0}), end).empty());
    EXPECT_EQ(end, tag_walk_end_t::end_marker);
    // Length 2 at the very end of the frame: nothing read beyond it.
    EXPECT_TRUE(walk(announcement({2, 0x08, 0xC0, 0xA8}), end).empty());
    EXPECT_EQ(end, tag_walk_end_t::frame_end);
}

TEST(Frames, TagWalkTruncated)
{
    tag_walk_end_t end;
    // No end marker: the list ends with the frame.
    EXPECT_EQ(walk(announcement({3, 0x08, 1, 2, 3, 4}), end), std::vector<std::string>{"1.2.3.4"});
    EXPECT_EQ(end, tag_walk_end_t::frame_end);
    // An IP tag cut by the end of the frame is not applied.
    EXPECT_TRUE(walk(announcement({3, 0x08, 1, 2, 3}), end).empty());
    EXPECT_EQ(end, tag_walk_end_t::frame_end);
    // A single header byte left.
    EXPECT_TRUE(walk(announcement({3}), end).empty());
    EXPECT_EQ(end, tag_walk_end_t::frame_end);
    // A tag claiming 255 words jumps far past the frame: the walk stops there.
    EXPECT_TRUE(walk(announcement({255, 0x40, 0, 0, 3, 0x08, 1, 2, 3, 4, 0, 0}), end).empty());
    EXPECT_EQ(end, tag_walk_end_t::frame_end);
    // Nothing after the header at all.
    EXPECT_TRUE(walk(announcement({}), end).empty());
    EXPECT_EQ(end, tag_walk_end_t::frame_end);
}
