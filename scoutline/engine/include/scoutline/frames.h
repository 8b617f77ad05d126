// Layer-2 frames of the discovery protocol: what the engine sends (reservation
// request, RARP reply, ARP request), how received frames are classified, and
// the walk over an announcement's tag list. Pure functions over byte buffers;
// every multi-byte field on the wire is big-endian.
#pragma once

#include <qm/address.h>

#include <cstddef>
#include <cstdint>

namespace qm::vx {

inline constexpr uint16_t ethertype_device = 0x8819;
inline constexpr uint16_t ethertype_arp = 0x0806;
inline constexpr uint16_t ethertype_rarp = 0x8035;

inline constexpr size_t reservation_request_size = 50;
inline constexpr size_t rarp_reply_size = 42;
inline constexpr size_t arp_request_size = 42;

// Tag lists start here: in a device announcement and in our reservation request.
inline constexpr size_t announcement_tags_offset = 16;
inline constexpr size_t reservation_tags_offset = 22;

// Receive buffer of the raw packet library: the frame starts at byte 56, the
// frame capacity sits in bytes 52-55.
inline constexpr size_t receive_buffer_size = 1571;
inline constexpr size_t receive_frame_offset = 56;
inline constexpr size_t receive_capacity_offset = 52;
inline constexpr uint32_t receive_frame_capacity = 1514;

// Multicast groups: reservation requests go to the first, both are joined.
inline constexpr uint8_t reservation_multicast[6] = {0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x01};
inline constexpr uint8_t announcement_multicast[6] = {0x01, 0x60, 0x2B, 0xFF, 0xFF, 0x00};

void build_reservation_request(uint8_t* frame, const qm::mac_address_t& own_mac, const qm::ip_address_t& own_ip);
void build_rarp_reply(uint8_t* frame, const qm::mac_address_t& own_mac, const qm::ip_address_t& own_ip,
                      const qm::mac_address_t& device, const qm::ip_address_t& address);
void build_arp_request(uint8_t* frame, const qm::mac_address_t& own_mac, const qm::ip_address_t& own_ip,
                       const qm::ip_address_t& target);

// What the parser does with a received frame.
enum class frame_kind_t {
    arp_reply,    // ARP opcode 2: an ARP response item
    arp_other,    // other ARP opcodes: ignored
    announcement, // 0x8819 kind 1: touch the device and walk its tags
    device_other, // 0x8819 of another kind: ignored
    empty,        // EtherType 0 and the first 32 bytes all zero
    unrecognized, // anything else: the receive filter let through what it should not have
};

// Bytes past `length` read as zero, as they would from the zero-filled buffer
// that the frame was received into.
frame_kind_t classify_frame(const uint8_t* frame, size_t length);

uint16_t frame_ethertype(const uint8_t* frame, size_t length);
qm::mac_address_t frame_source(const uint8_t* frame, size_t length);
// ARP reply as read: the station's MAC from the Ethernet source, its address
// from the sender protocol address.
void read_arp_reply(const uint8_t* frame, size_t length, qm::mac_address_t& mac, qm::ip_address_t& ip);

// How a tag walk ended.
enum class tag_walk_end_t {
    end_marker,  // two zero bytes where a tag would start
    zero_length, // a tag of length 0 with a nonzero type (malformed)
    frame_end,   // the frame ended, or a tag runs past its end (not applied)
};

inline bool is_ip_tag_type(uint8_t type) { return (type & 0xFC) == 0x08; }

// Walks the tag list from `offset`, calling on_ip(address) for every IP tag in
// order. An IP tag needs length 3 or more (header plus four address bytes);
// shorter ones are skipped like any other tag. The walk never reads past
// `length`: a tag cut off by the end of the frame ends the list unapplied.
template <class OnIp> tag_walk_end_t walk_tags(const uint8_t* frame, size_t length, size_t offset, OnIp&& on_ip)
{
    size_t pos = offset;
    for (;;) {
        if (pos + 2 > length)
            return tag_walk_end_t::frame_end;
        const uint8_t words = frame[pos];
        const uint8_t type = frame[pos + 1];
        if (words == 0)
            return type == 0 ? tag_walk_end_t::end_marker : tag_walk_end_t::zero_length;
        const size_t size = size_t(words) * 2;
        if (pos + size > length)
            return tag_walk_end_t::frame_end;
        if (is_ip_tag_type(type) && words >= 3) {
            qm::ip_address_t address;
            address.assign_network_bytes(frame + pos + 2);
            on_ip(address);
        }
        pos += size;
    }
}

} // namespace qm::vx
