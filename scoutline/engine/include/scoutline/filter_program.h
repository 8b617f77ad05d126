// The receive filter program given to the adapter (classic BSD packet filter)
// and the adapter settings that make the discovery frames arrive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::vx {

// One classic BPF instruction: 16-bit opcode, jump-if-true and jump-if-false
// offsets, 32-bit constant (8 bytes, host byte order).
struct bpf_instruction_t {
    uint16_t code;
    uint8_t jt;
    uint8_t jf;
    uint32_t k;
};
static_assert(sizeof(bpf_instruction_t) == 8);

inline constexpr size_t receive_filter_length = 16;
inline constexpr size_t receive_filter_bytes = receive_filter_length * sizeof(bpf_instruction_t); // 128

// Accepts every ARP frame, 0x8819 announcements (byte 15 = 2, byte 14 = 1) and
// 0x8819 kind-0 frames whose tag bytes match; drops everything else.
extern const bpf_instruction_t receive_filter_program[receive_filter_length];

// NDIS object identifiers of the adapter settings.
inline constexpr uint32_t oid_802_3_current_address = 0x01010102;
inline constexpr uint32_t oid_gen_current_packet_filter = 0x0001010E;
inline constexpr uint32_t oid_802_3_multicast_list = 0x01010103;
// Directed and multicast frames.
inline constexpr uint32_t adapter_packet_filter = 3;

} // namespace qm::vx
