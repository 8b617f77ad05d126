// Building and reading the discovery protocol's layer-2 frames.
#include <scoutline/frames.h>

#include <cstring>

namespace qm::vx {

namespace {

void put16(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value >> 8);
    at[1] = uint8_t(value);
}

void put_mac(uint8_t* at, const qm::mac_address_t& mac) { std::memcpy(at, mac.bytes, 6); }
void put_ip(uint8_t* at, const qm::ip_address_t& ip) { std::memcpy(at, ip.bytes, 4); }

// Ethernet header plus the fixed ARP/RARP preamble (hardware type 1,
// protocol 0x0800, lengths 6 and 4) and the opcode.
void put_arp_header(uint8_t* frame, const uint8_t* destination, const qm::mac_address_t& own_mac, uint16_t ethertype,
                    uint16_t opcode)
{
    std::memcpy(frame, destination, 6);
    put_mac(frame + 6, own_mac);
    put16(frame + 12, ethertype);
    put16(frame + 14, 1);
    put16(frame + 16, 0x0800);
    frame[18] = 6;
    frame[19] = 4;
    put16(frame + 20, opcode);
}

uint8_t byte_at(const uint8_t* frame, size_t length, size_t offset) { return offset < length ? frame[offset] : 0; }

} // namespace

void build_reservation_request(uint8_t* frame, const qm::mac_address_t& own_mac, const qm::ip_address_t& own_ip)
{
    std::memset(frame, 0, reservation_request_size);
    std::memcpy(frame, reservation_multicast, 6);
    put_mac(frame + 6, own_mac);
    put16(frame + 12, ethertype_device);
    frame[14] = 0x01;
    frame[15] = 0x02;
    frame[16] = 0x03;
    frame[17] = 0x04;
    // 18-21 stay zero
    frame[22] = 3;
    frame[23] = 0x08;
    put_ip(frame + 24, own_ip);
    frame[28] = 4;
    frame[29] = 0x40;
    frame[30] = 0x10;
    frame[31] = 0x10;
    frame[36] = 6;
    frame[37] = 0x60;
    frame[38] = 0x10;
    frame[39] = 0x10;
    // 40-47 zero, 48-49 end of the tag list
}

void build_rarp_reply(uint8_t* frame, const qm::mac_address_t& own_mac, const qm::ip_address_t& own_ip,
                      const qm::mac_address_t& device, const qm::ip_address_t& address)
{
    put_arp_header(frame, device.bytes, own_mac, ethertype_rarp, 4);
    put_mac(frame + 22, own_mac);
    put_ip(frame + 28, own_ip);
    put_mac(frame + 32, device);
    put_ip(frame + 38, address);
}

void build_arp_request(uint8_t* frame, const qm::mac_address_t& own_mac, const qm::ip_address_t& own_ip,
                       const qm::ip_address_t& target)
{
    static const uint8_t broadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    put_arp_header(frame, broadcast, own_mac, ethertype_arp, 1);
    put_mac(frame + 22, own_mac);
    put_ip(frame + 28, own_ip);
    std::memcpy(frame + 32, broadcast, 6);
    put_ip(frame + 38, target);
}

uint16_t frame_ethertype(const uint8_t* frame, size_t length)
{
    return uint16_t(byte_at(frame, length, 12) << 8 | byte_at(frame, length, 13));
}

qm::mac_address_t frame_source(const uint8_t* frame, size_t length)
{
    qm::mac_address_t mac;
    mac.clear();
    for (size_t i = 0; i < 6; ++i)
        mac.bytes[i] = byte_at(frame, length, 6 + i);
    return mac;
}

void read_arp_reply(const uint8_t* frame, size_t length, qm::mac_address_t& mac, qm::ip_address_t& ip)
{
    mac = frame_source(frame, length);
    uint8_t sender[4];
    for (size_t i = 0; i < 4; ++i)
        sender[i] = byte_at(frame, length, 28 + i);
    ip.assign_network_bytes(sender);
}

frame_kind_t classify_frame(const uint8_t* frame, size_t length)
{
    switch (frame_ethertype(frame, length)) {
    case ethertype_arp: {
        const uint16_t opcode = uint16_t(byte_at(frame, length, 20) << 8 | byte_at(frame, length, 21));
        return opcode == 2 ? frame_kind_t::arp_reply : frame_kind_t::arp_other;
    }
    case ethertype_device:
        return byte_at(frame, length, 14) == 1 ? frame_kind_t::announcement : frame_kind_t::device_other;
    case 0:
        for (size_t i = 0; i < 32; ++i)
            if (byte_at(frame, length, i) != 0)
                return frame_kind_t::unrecognized;
        return frame_kind_t::empty;
    default:
        return frame_kind_t::unrecognized;
    }
}

} // namespace qm::vx
