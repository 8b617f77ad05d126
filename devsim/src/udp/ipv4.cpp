#include "udp/ipv4.h"

#include <cstring>

namespace devsim::udp {
namespace {

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
        p[3];
}
void set16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void set32(uint8_t* p, uint32_t v)
{
    set16(p, static_cast<uint16_t>(v >> 16));
    set16(p + 2, static_cast<uint16_t>(v));
}

// Sum of the pseudo-header that the UDP checksum covers.
uint32_t pseudo_header(uint32_t source, uint32_t destination, size_t udp_length)
{
    uint8_t p[12];
    set32(p, source);
    set32(p + 4, destination);
    p[8] = 0;
    p[9] = protocol_udp;
    set16(p + 10, static_cast<uint16_t>(udp_length));
    return checksum_add(0, p, sizeof p);
}

} // namespace

uint32_t checksum_add(uint32_t sum, const uint8_t* data, size_t size)
{
    size_t i = 0;
    for (; i + 1 < size; i += 2)
        sum += get16(data + i);
    if (i < size)
        sum += static_cast<uint32_t>(data[i]) << 8;
    return (sum & 0xFFFF) + (sum >> 16); // keeps the sum from overflowing across calls
}

uint16_t checksum_fold(uint32_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(sum);
}

std::optional<datagram_view> parse_datagram(const uint8_t* frame, size_t size, bool udp_checksum_ready)
{
    if (size < header_size || get16(frame + 12) != ethertype_ipv4)
        return std::nullopt;
    const uint8_t* ip = frame + 14;
    size_t available = size - 14; // the frame may carry padding after the packet
    if ((ip[0] >> 4) != 4)
        return std::nullopt;
    size_t ihl = static_cast<size_t>(ip[0] & 0x0F) * 4;
    size_t total = get16(ip + 2);
    if (ihl < 20 || total < ihl + 8 || total > available)
        return std::nullopt;
    if (checksum_fold(checksum_add(0, ip, ihl)) != 0xFFFF)
        return std::nullopt;
    if ((get16(ip + 6) & 0x3FFF) != 0)
        return std::nullopt; // a fragment (MF set or an offset)
    if (ip[9] != protocol_udp)
        return std::nullopt;
    const uint8_t* udp = ip + ihl;
    size_t udp_length = get16(udp + 4);
    if (udp_length < 8 || udp_length > total - ihl)
        return std::nullopt;

    datagram_view v;
    std::memcpy(v.destination_mac.data(), frame, 6);
    std::memcpy(v.source_mac.data(), frame + 6, 6);
    v.source_ip = get32(ip + 12);
    v.destination_ip = get32(ip + 16);
    uint16_t stored = get16(udp + 6);
    if (udp_checksum_ready && stored != 0) {
        uint32_t sum = pseudo_header(v.source_ip, v.destination_ip, udp_length);
        if (checksum_fold(checksum_add(sum, udp, udp_length)) != 0xFFFF)
            return std::nullopt;
    }
    v.source_port = get16(udp);
    v.destination_port = get16(udp + 2);
    v.payload = udp + 8;
    v.size = udp_length - 8;
    return v;
}

frame_t build_datagram(const mac_t& destination_mac, const mac_t& source_mac, uint32_t source_ip, uint16_t source_port,
                       uint32_t destination_ip, uint16_t destination_port, const uint8_t* payload, size_t size)
{
    frame_t f(header_size + size);
    uint8_t* p = f.data();
    std::memcpy(p, destination_mac.data(), 6);
    std::memcpy(p + 6, source_mac.data(), 6);
    set16(p + 12, ethertype_ipv4);

    uint8_t* ip = p + 14;
    ip[0] = 0x45; // version 4, five words of header
    ip[1] = 0;
    set16(ip + 2, static_cast<uint16_t>(20 + 8 + size));
    set16(ip + 4, 0);      // identification: unused, the packet is never fragmented
    set16(ip + 6, 0x4000); // don't fragment
    ip[8] = 64;
    ip[9] = protocol_udp;
    set16(ip + 10, 0);
    set32(ip + 12, source_ip);
    set32(ip + 16, destination_ip);
    set16(ip + 10, static_cast<uint16_t>(~checksum_fold(checksum_add(0, ip, 20))));

    uint8_t* udp = ip + 20;
    set16(udp, source_port);
    set16(udp + 2, destination_port);
    set16(udp + 4, static_cast<uint16_t>(8 + size));
    set16(udp + 6, 0);
    if (size)
        std::memcpy(udp + 8, payload, size);
    uint32_t sum = pseudo_header(source_ip, destination_ip, 8 + size);
    uint16_t check = static_cast<uint16_t>(~checksum_fold(checksum_add(sum, udp, 8 + size)));
    set16(udp + 6, check == 0 ? 0xFFFF : check); // 0 would mean "no checksum"
    return f;
}

} // namespace devsim::udp
