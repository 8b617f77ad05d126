#include "qm/address.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace qm {

// --- ip_address_t ---

void ip_address_t::update_number()
{
    number = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
}

ip_address_t& ip_address_t::clear()
{
    number = 0;
    std::memset(bytes, 0, sizeof bytes);
    return *this;
}

ip_address_t& ip_address_t::assign_text(const char* text)
{
    int parts[4] = {0, 0, 0, 0};
    std::sscanf(text ? text : "", "%d.%d.%d.%d", &parts[0], &parts[1], &parts[2], &parts[3]);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(parts[i] & 0xFF);
    update_number();
    return *this;
}

bool ip_address_t::parse(const std::string& text, int base)
{
    clear();
    if (base != 0 && base != 1)
        return false;
    const std::size_t max_length = base == 1 ? 11 : 15;
    const unsigned radix = base == 1 ? 16 : 10;
    if (text.empty() || text.size() > max_length)
        return false;

    unsigned parts[4] = {0, 0, 0, 0};
    int dots = 0;
    bool expecting_digit = true;
    for (char c : text) {
        if (c == '\0')
            break;
        unsigned value = 99;
        if (c >= '0' && c <= '9')
            value = unsigned(c - '0');
        else if (c >= 'A' && c <= 'F')
            value = unsigned(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            value = unsigned(c - 'a' + 10);

        if (value < radix) {
            parts[dots] = parts[dots] * radix + value;
            // Stop at once when a part leaves the byte range, before the
            // accumulator could wrap back into it.
            if (parts[dots] > 255)
                return false;
            expecting_digit = false;
        } else if (c == '.' && !expecting_digit && dots < 3) {
            ++dots;
            expecting_digit = true;
        } else {
            return false;
        }
    }
    if (dots != 3)
        return false;
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(parts[i]);
    update_number();
    return true;
}

std::string ip_address_t::to_string() const
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return buffer;
}

ip_address_t& ip_address_t::assign_network_bytes(const uint8_t* network_bytes)
{
    std::memcpy(bytes, network_bytes, 4);
    update_number();
    return *this;
}

ip_address_t& ip_address_t::assign_number(uint32_t host_order)
{
    number = host_order;
    bytes[0] = uint8_t(host_order >> 24);
    bytes[1] = uint8_t(host_order >> 16);
    bytes[2] = uint8_t(host_order >> 8);
    bytes[3] = uint8_t(host_order);
    return *this;
}

// --- mac_address_t ---

const mac_address_t mac_address_t::null_address{};

mac_address_t& mac_address_t::clear()
{
    std::memset(bytes, 0, sizeof bytes);
    return *this;
}

mac_address_t& mac_address_t::assign_text(std::string text)
{
    unsigned parts[6] = {0, 0, 0, 0, 0, 0};
    std::sscanf(text.c_str(), "%2x%2x%2x%2x%2x%2x", &parts[0], &parts[1], &parts[2], &parts[3], &parts[4], &parts[5]);
    for (int i = 0; i < 6; ++i)
        bytes[i] = static_cast<uint8_t>(parts[i] & 0xFF);
    return *this;
}

std::string mac_address_t::to_string() const
{
    char buffer[13];
    std::snprintf(buffer, sizeof buffer, "%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
                  bytes[5]);
    return buffer;
}

bool mac_address_t::is_null() const { return *this == null_address; }

mac_address_t& mac_address_t::assign(const mac_address_t& other)
{
    std::memcpy(bytes, other.bytes, sizeof bytes);
    return *this;
}

std::ostream& operator<<(std::ostream& os, const mac_address_t& address) { return os << address.to_string(); }

std::ostream& operator<<(std::ostream& os, const ip_address_t& address) { return os << address.to_string(); }

// --- tick_timer_t, sleep ---

tick_timer_t::tick_timer_t() : start(GetTickCount()) {}

uint32_t tick_timer_t::restart()
{
    start = GetTickCount();
    return start;
}

double tick_timer_t::elapsed() const { return span(start, GetTickCount()); }

void sleep(uint32_t milliseconds) { Sleep(milliseconds); }

// --- net::address_t ---

namespace net {

uint32_t resolve_address(const char* host)
{
    const char* text = host ? host : "";
    in_addr_t address = inet_addr(text);
    if (address != INADDR_NONE)
        return address;

    // The look-up is reentrant: several update jobs may resolve at once.
    hostent* entry = gethostbyname(text);
    if (!entry)
        throw exception_t();
    if (!entry->h_addr_list || !entry->h_addr_list[0])
        throw qm::exception_t("bad net address");
    uint32_t found = 0;
    std::memcpy(&found, entry->h_addr_list[0], sizeof found);
    return found;
}

address_t::address_t(unsigned short port, const char* host_text)
{
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = host_text ? resolve_address(host_text) : 0;
}

} // namespace net
} // namespace qm
