// IPv4/UDP in Ethernet frames, as the simulated devices send and accept them:
// no options sent, no fragments, checksums computed and checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "l2/frames.h"

namespace devsim::udp {

inline constexpr uint8_t protocol_udp = 17;
inline constexpr size_t header_size = 14 + 20 + 8; // Ethernet, IPv4 without options, UDP
// Largest payload that fits one 1500-byte IP packet without fragments.
inline constexpr size_t max_payload = 1500 - 20 - 8;

struct datagram_view {
    mac_t source_mac{};
    mac_t destination_mac{};
    uint32_t source_ip = 0; // host order
    uint32_t destination_ip = 0;
    uint16_t source_port = 0;
    uint16_t destination_port = 0;
    const uint8_t* payload = nullptr;
    size_t size = 0;
};

// One's-complement sum of 16-bit big-endian words, folded but not inverted;
// an odd last byte counts as its high half.
uint32_t checksum_add(uint32_t sum, const uint8_t* data, size_t size);
uint16_t checksum_fold(uint32_t sum);

// A UDP datagram in an Ethernet frame, or nullopt for anything else and for
// anything malformed: a short frame, a bad IP header checksum, an IP length
// that does not fit, a fragment, a bad UDP length or checksum. When
// `udp_checksum_ready` is false the kernel left the UDP checksum to the
// hardware (a frame from the same host), so it is not checked.
std::optional<datagram_view> parse_datagram(const uint8_t* frame, size_t size, bool udp_checksum_ready = true);

// The frame carrying one datagram, both checksums filled in.
frame_t build_datagram(const mac_t& destination_mac, const mac_t& source_mac, uint32_t source_ip, uint16_t source_port,
                       uint32_t destination_ip, uint16_t destination_port, const uint8_t* payload, size_t size);

} // namespace devsim::udp
