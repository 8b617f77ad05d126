#include "l2/frames.h"

#include <cstdio>
#include <cstring>

namespace devsim {
namespace {

void put16(frame_t& f, uint16_t v)
{
    f.push_back(static_cast<uint8_t>(v >> 8));
    f.push_back(static_cast<uint8_t>(v));
}
void put32(frame_t& f, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        f.push_back(static_cast<uint8_t>(v >> shift));
}
void put_mac(frame_t& f, const mac_t& m) { f.insert(f.end(), m.begin(), m.end()); }
void put_bytes(frame_t& f, std::initializer_list<uint8_t> bytes) { f.insert(f.end(), bytes); }

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
        p[3];
}
mac_t get_mac(const uint8_t* p)
{
    mac_t m;
    std::memcpy(m.data(), p, 6);
    return m;
}

void ethernet_header(frame_t& f, const mac_t& dst, const mac_t& src, uint16_t type)
{
    put_mac(f, dst);
    put_mac(f, src);
    put16(f, type);
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Fixed part of an ARP or RARP packet: Ethernet over IPv4, then the opcode.
void arp_header(frame_t& f, uint16_t opcode)
{
    put16(f, 1);
    put16(f, 0x0800);
    put_bytes(f, {6, 4});
    put16(f, opcode);
}

void ip_tag(frame_t& f, uint32_t ip)
{
    put_bytes(f, {0x03, 0x08});
    put32(f, ip);
}

} // namespace

std::string mac_text(const mac_t& mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::optional<mac_t> parse_mac(const std::string& text)
{
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == ':' || c == '-') {
            if (digits.size() % 2 != 0 || digits.empty())
                return std::nullopt;
            continue;
        }
        if (hex_digit(c) < 0)
            return std::nullopt;
        digits += c;
    }
    if (digits.size() != 12)
        return std::nullopt;
    mac_t m;
    for (size_t i = 0; i < 6; ++i)
        m[i] = static_cast<uint8_t>(hex_digit(digits[2 * i]) << 4 | hex_digit(digits[2 * i + 1]));
    return m;
}

std::string ip_text(uint32_t ip)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
    return text;
}

std::optional<uint32_t> parse_ip(const std::string& text)
{
    uint32_t value = 0;
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return std::nullopt;
        uint32_t part = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            part = part * 10 + static_cast<uint32_t>(text[i++] - '0');
            if (++digits > 3 || part > 255)
                return std::nullopt;
        }
        value = value << 8 | part;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
    }
    if (i != text.size())
        return std::nullopt;
    return value;
}

std::string hex_text(const uint8_t* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

frame_t build_announcement(const mac_t& dst, const mac_t& src, uint32_t ip, announce_shape shape)
{
    frame_t f;
    ethernet_header(f, dst, src, ethertype_device);
    switch (shape) {
    case announce_shape::normal:
        put_bytes(f, {0x01, 0x02});
        ip_tag(f, ip);
        put_bytes(f, {0x00, 0x00});
        break;
    case announce_shape::zero_length_tag:
        put_bytes(f, {0x01, 0x02, 0x00, 0x05});
        ip_tag(f, ip);
        put_bytes(f, {0x00, 0x00});
        break;
    case announce_shape::truncated_tag:
        put_bytes(f, {0x01, 0x02});
        ip_tag(f, ip);
        put_bytes(f, {0x40, 0x20, 0x10, 0x10}); // claims 128 bytes, the frame ends here
        break;
    case announce_shape::short_ip_tag:
        put_bytes(f, {0x01, 0x02, 0x02, 0x08});
        put16(f, static_cast<uint16_t>(ip >> 16));
        put_bytes(f, {0x00, 0x00});
        break;
    case announce_shape::two_ip_tags:
        put_bytes(f, {0x01, 0x02});
        ip_tag(f, decoy_ip);
        ip_tag(f, ip);
        put_bytes(f, {0x00, 0x00});
        break;
    case announce_shape::tags_before_ip:
        put_bytes(f, {0x01, 0x02, 0x04, 0x40, 0x10, 0x10, 0x00, 0x00, 0x02, 0x61, 0x01, 0x02});
        ip_tag(f, ip);
        put_bytes(f, {0x00, 0x00});
        break;
    case announce_shape::bad_byte15:
        put_bytes(f, {0x01, 0x03});
        ip_tag(f, ip);
        put_bytes(f, {0x00, 0x00});
        break;
    case announce_shape::kind0:
        put_bytes(f, {0x00, 0x02, 0x00, 0x04, 0x00, 0x00});
        ip_tag(f, ip);
        put_bytes(f, {0x00, 0x00});
        break;
    }
    return f;
}

frame_t build_arp_reply(const mac_t& own_mac, uint32_t ip, const uint8_t* request, size_t size)
{
    frame_t f;
    if (size < 42)
        return f;
    ethernet_header(f, get_mac(request + 6), own_mac, ethertype_arp);
    arp_header(f, 2);
    put_mac(f, own_mac);
    put32(f, ip);
    f.insert(f.end(), request + 22, request + 28); // requester's hardware address
    f.insert(f.end(), request + 28, request + 32); // requester's protocol address
    return f;
}

frame_t build_rarp_reply(const mac_t& device_mac, const mac_t& server_mac, uint32_t server_ip, uint32_t assigned_ip)
{
    frame_t f;
    ethernet_header(f, device_mac, server_mac, ethertype_rarp);
    arp_header(f, 4);
    put_mac(f, server_mac);
    put32(f, server_ip);
    put_mac(f, device_mac);
    put32(f, assigned_ip);
    return f;
}

frame_t build_arp_request(const mac_t& own_mac, uint32_t own_ip, uint32_t target_ip)
{
    frame_t f;
    ethernet_header(f, mac_broadcast, own_mac, ethertype_arp);
    arp_header(f, 1);
    put_mac(f, own_mac);
    put32(f, own_ip);
    put_mac(f, mac_broadcast);
    put32(f, target_ip);
    return f;
}

std::optional<ethernet_view> parse_ethernet(const uint8_t* data, size_t size)
{
    if (size < 14)
        return std::nullopt;
    ethernet_view v;
    v.dst = get_mac(data);
    v.src = get_mac(data + 6);
    v.type = get16(data + 12);
    return v;
}

std::optional<arp_view> parse_arp(const uint8_t* data, size_t size)
{
    if (size < 42)
        return std::nullopt;
    uint16_t type = get16(data + 12);
    if (type != ethertype_arp && type != ethertype_rarp)
        return std::nullopt;
    if (get16(data + 14) != 1 || get16(data + 16) != 0x0800 || data[18] != 6 || data[19] != 4)
        return std::nullopt;
    arp_view v;
    v.opcode = get16(data + 20);
    v.sender_mac = get_mac(data + 22);
    v.sender_ip = get32(data + 28);
    v.target_mac = get_mac(data + 32);
    v.target_ip = get32(data + 38);
    return v;
}

bool is_reservation_request(const uint8_t* data, size_t size)
{
    if (size < 16)
        return false;
    return get_mac(data) == mac_reservation_group && get16(data + 12) == ethertype_device && data[14] == 1;
}

std::vector<uint32_t> announced_ips(const uint8_t* data, size_t size)
{
    std::vector<uint32_t> ips;
    if (size < 16 || get16(data + 12) != ethertype_device || data[14] != 1)
        return ips;
    size_t pos = 16;
    while (pos + 2 <= size) {
        uint8_t length = data[pos];
        uint8_t type = data[pos + 1];
        if (length == 0)
            break; // end marker, or a malformed zero-length tag
        size_t end = pos + 2u * length;
        if (end > size)
            break; // cut off by the end of the frame
        if ((type & 0xFC) == 8 && length >= 3)
            ips.push_back(get32(data + pos + 2));
        pos = end;
    }
    return ips;
}

} // namespace devsim
