// Layer-2 frames the simulated devices send and understand: announcements
// (0x8819), the server's reservation requests, RARP replies and ARP.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

using mac_t = std::array<uint8_t, 6>;
using frame_t = std::vector<uint8_t>;

inline constexpr uint16_t ethertype_device = 0x8819;
inline constexpr uint16_t ethertype_arp = 0x0806;
inline constexpr uint16_t ethertype_rarp = 0x8035;
inline constexpr uint16_t ethertype_ipv4 = 0x0800;

inline constexpr mac_t mac_broadcast{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// Reservation requests go to the first group; devices announce to the second.
inline constexpr mac_t mac_reservation_group{0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x01};
inline constexpr mac_t mac_announce_group{0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x00};

std::string mac_text(const mac_t& mac);                    // "00:60:2b:00:00:01"
std::optional<mac_t> parse_mac(const std::string& text);   // ':' or '-' separated, or 12 hex digits
std::string ip_text(uint32_t ip);                          // host-order value to dotted text
std::optional<uint32_t> parse_ip(const std::string& text); // strict dotted quad
std::string hex_text(const uint8_t* data, size_t size);

// Shape of an announcement. The normal one carries one IP tag; the other
// shapes are the odd frames some tests need a device to send.
enum class announce_shape {
    normal,
    zero_length_tag, // a tag of length 0 with a nonzero type before the IP tag
    truncated_tag,   // IP tag, then a tag that runs past the end of the frame
    short_ip_tag,    // an IP tag of length 2: no room for a whole address
    two_ip_tags,     // a decoy IP tag (10.255.255.254) before the real one
    tags_before_ip,  // other tags before the IP tag
    bad_byte15,      // byte 15 is 3 instead of 2
    kind0,           // kind 0 frame that still passes the receive filter
};

inline constexpr uint32_t decoy_ip = 0x0AFFFFFEu; // 10.255.255.254

frame_t build_announcement(const mac_t& dst, const mac_t& src, uint32_t ip,
                           announce_shape shape = announce_shape::normal);

// ARP reply of a station owning `ip` to the request `request`.
frame_t build_arp_reply(const mac_t& own_mac, uint32_t ip, const uint8_t* request, size_t size);

// A RARP reply as the server sends it (used by tests that play the server).
frame_t build_rarp_reply(const mac_t& device_mac, const mac_t& server_mac, uint32_t server_ip, uint32_t assigned_ip);
frame_t build_arp_request(const mac_t& own_mac, uint32_t own_ip, uint32_t target_ip);

struct ethernet_view {
    mac_t dst{};
    mac_t src{};
    uint16_t type = 0;
};
std::optional<ethernet_view> parse_ethernet(const uint8_t* data, size_t size);

struct arp_view {
    uint16_t opcode = 0;
    mac_t sender_mac{};
    uint32_t sender_ip = 0;
    mac_t target_mac{};
    uint32_t target_ip = 0;
};
// ARP or RARP body for Ethernet/IPv4 (hardware type 1, protocol 0x0800, 6, 4).
std::optional<arp_view> parse_arp(const uint8_t* data, size_t size);

// A server's reservation request: 0x8819 to the reservation group, kind 1.
bool is_reservation_request(const uint8_t* data, size_t size);

// IP addresses carried by the IP tags of an announcement, in order; stops at
// the end marker, a zero-length tag or the frame end.
std::vector<uint32_t> announced_ips(const uint8_t* data, size_t size);

} // namespace devsim
