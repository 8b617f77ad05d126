// Verdicts of the receive filter program, run in a small classic-BPF
// interpreter with the kernel's rules (a load past the end drops the frame).
#include <scoutline/filter_program.h>
#include <scoutline/frames.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace qm::vx;

namespace {

// The instructions the program uses: ld h/b abs, jeq k, and k, ret k.
uint32_t run_filter(const bpf_instruction_t* program, size_t count, const std::vector<uint8_t>& frame)
{
    uint32_t a = 0;
    for (size_t pc = 0; pc < count; ++pc) {
        const bpf_instruction_t& i = program[pc];
        switch (i.code) {
        case 0x28: // ld h [k]
            if (i.k + 2 > frame.size())
                return 0;
            a = uint32_t(frame[i.k]) << 8 | frame[i.k + 1];
            break;
        case 0x30: // ld b [k]
            if (i.k + 1 > frame.size())
                return 0;
            a = frame[i.k];
            break;
        case 0x54: // and k
            a &= i.k;
            break;
        case 0x15: // jeq k
            pc += (a == i.k) ? i.jt : i.jf;
            break;
        case 0x06: // ret k
            return i.k;
        default:
            ADD_FAILURE() << "unexpected opcode " << i.code;
            return 0;
        }
    }
    ADD_FAILURE() << "program ran off its end";
    return 0;
}

bool accepted(std::vector<uint8_t> frame)
{
    return run_filter(receive_filter_program, receive_filter_length, frame) == 0xFFFFFFFFu;
}

std::vector<uint8_t> device_frame(uint8_t kind, uint8_t byte15, std::vector<uint8_t> rest)
{
    std::vector<uint8_t> f = {0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x00, 0x00, 0x60, 0x2B, 1, 2, 3, 0x88, 0x19, kind, byte15};
    f.reserve(f.size() + rest.size() + 60);
    f.insert(f.end(), rest.begin(), rest.end());
    f.resize(std::max<size_t>(f.size(), 60), 0);
    return f;
}

} // namespace

TEST(Filter, ProgramShape)
{
    EXPECT_EQ(receive_filter_bytes, 128u);
    EXPECT_EQ(sizeof receive_filter_program, 128u);
    // Every jump stays inside the program.
    for (size_t pc = 0; pc < receive_filter_length; ++pc) {
        const auto& i = receive_filter_program[pc];
        if (i.code == 0x15) {
            EXPECT_LT(pc + 1 + i.jt, receive_filter_length) << pc;
            EXPECT_LT(pc + 1 + i.jf, receive_filter_length) << pc;
        }
    }
    EXPECT_EQ(receive_filter_program[14].k, 0xFFFFFFFFu);
    EXPECT_EQ(receive_filter_program[15].k, 0u);
}

TEST(Filter, Verdicts)
{
    // Announcements (kind 1, byte 15 = 2), whatever their tags.
    EXPECT_TRUE(accepted(device_frame(1, 2, {3, 0x08, 10, 0, 0, 5, 0, 0})));
    EXPECT_TRUE(accepted(device_frame(1, 2, {0xFF, 0xFF})));
    // Byte 15 other than 2 is dropped, for any kind.
    EXPECT_FALSE(accepted(device_frame(1, 3, {})));
    EXPECT_FALSE(accepted(device_frame(0, 3, {0x04, 0, 0, 0})));
    // Kind 0: the halfword at 16 masked with 0xFC must be 4 and the halfword
    // at 18 masked with 0xFF01 must be 0.
    EXPECT_TRUE(accepted(device_frame(0, 2, {0x00, 0x04, 0x00, 0x00})));
    EXPECT_TRUE(accepted(device_frame(0, 2, {0x00, 0x07, 0x00, 0xFE})));
    EXPECT_FALSE(accepted(device_frame(0, 2, {0x00, 0x08, 0x00, 0x00})));
    // Byte 16 is outside both masks.
    EXPECT_TRUE(accepted(device_frame(0, 2, {0x01, 0x04, 0x00, 0x00})));
    EXPECT_FALSE(accepted(device_frame(0, 2, {0x00, 0x04, 0x01, 0x00})));
    EXPECT_FALSE(accepted(device_frame(0, 2, {0x00, 0x04, 0x00, 0x01})));
    // Other kinds.
    EXPECT_FALSE(accepted(device_frame(2, 2, {})));
    // Our own reservation request passes as kind 1.
    std::vector<uint8_t> request(reservation_request_size);
    qm::mac_address_t m;
    qm::ip_address_t a;
    build_reservation_request(request.data(), m, a);
    EXPECT_TRUE(accepted(request));

    // Every ARP frame; no RARP, no IPv4.
    std::vector<uint8_t> arp(arp_request_size);
    build_arp_request(arp.data(), m, a, a);
    EXPECT_TRUE(accepted(arp));
    arp[21] = 2;
    EXPECT_TRUE(accepted(arp));
    std::vector<uint8_t> rarp(rarp_reply_size);
    build_rarp_reply(rarp.data(), m, a, m, a);
    EXPECT_FALSE(accepted(rarp));
    std::vector<uint8_t> ipv4(60, 0);
    ipv4[12] = 0x08;
    EXPECT_FALSE(accepted(ipv4));

    // A frame too short for a load is dropped.
    EXPECT_FALSE(accepted(std::vector<uint8_t>(12, 0)));
    EXPECT_FALSE(accepted({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x88, 0x19, 1}));
}
