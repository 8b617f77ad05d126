// Address values: IPv4 and Ethernet addresses, a millisecond stopwatch, a
// sleep wrapper and the IPv4 socket address record with name resolution.
#pragma once

#include "qm/exception.h"

#include <netinet/in.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace qm {

class ip_address_t {
public:
    ip_address_t() = default;

    ip_address_t& clear();
    // Lenient "%d.%d.%d.%d": the low 8 bits of each part; a null text reads as "".
    ip_address_t& assign_text(const char* text);
    ip_address_t& assign_text(const std::string& text) { return assign_text(text.c_str()); }
    // Strict check and assignment; base 0 = decimal parts, 1 = hexadecimal.
    // On failure the address becomes 0.0.0.0.
    bool parse(const std::string& text, int base = 0);
    bool is_null() const { return number == 0; }
    std::string to_string() const;
    // Four bytes in network order, as they stand in a frame.
    ip_address_t& assign_network_bytes(const uint8_t* network_bytes);
    // Host order, first dotted part in the most significant byte.
    ip_address_t& assign_number(uint32_t host_order);

    bool operator==(const ip_address_t& other) const { return number == other.number; }
    bool operator!=(const ip_address_t& other) const { return number != other.number; }
    bool operator<(const ip_address_t& other) const { return number < other.number; }

    uint32_t number = 0;   // host order
    uint8_t bytes[4] = {}; // network order

private:
    void update_number();
};

class mac_address_t {
public:
    mac_address_t() = default;

    mac_address_t& clear();
    // Six bytes of at most two hex digits each, no separators ("%2x" x 6).
    mac_address_t& assign_text(std::string text);
    // Twelve lower-case hex digits.
    std::string to_string() const;
    bool is_null() const;
    mac_address_t& assign(const mac_address_t& other);

    // Byte order, as memcmp; inline, since device tables compare per frame.
    bool operator==(const mac_address_t& other) const { return key() == other.key(); }
    bool operator!=(const mac_address_t& other) const { return !(*this == other); }
    bool operator<(const mac_address_t& other) const { return key() < other.key(); }

    uint8_t bytes[6] = {};

private:
    uint64_t key() const
    {
        return uint64_t(bytes[0]) << 40 | uint64_t(bytes[1]) << 32 | uint64_t(bytes[2]) << 24 |
            uint64_t(bytes[3]) << 16 | uint64_t(bytes[4]) << 8 | uint64_t(bytes[5]);
    }

public:
    static const mac_address_t null_address;
};

std::ostream& operator<<(std::ostream& os, const mac_address_t& address);
std::ostream& operator<<(std::ostream& os, const ip_address_t& address);

// Millisecond stopwatch on the system tick count; right across its wrap.
class tick_timer_t {
public:
    tick_timer_t();
    // Stamps the timer anew and returns the new stamp.
    uint32_t restart();
    // Milliseconds since the stamp, 0 to 4,294,967,295.
    double elapsed() const;
    // (now - start) in unsigned 32-bit arithmetic.
    static double span(uint32_t start, uint32_t now) { return static_cast<double>(uint32_t(now - start)); }

    uint32_t start = 0;
};

// Blocks the calling thread; not interruptible (loops use thread_t::sleep).
void sleep(uint32_t milliseconds);

namespace net {

// IPv4 address of a host text, in network order: a dotted address as is,
// otherwise a name look-up.
uint32_t resolve_address(const char* host);

// IPv4 socket address record (the 16-byte SOCKADDR_IN layout).
class address_t {
public:
    // A null host gives 0.0.0.0 (any local interface).
    explicit address_t(unsigned short port = 0, const char* host = nullptr);
    address_t(unsigned short port, const std::string& host) : address_t(port, host.c_str()) {}

    sockaddr_in sa{};
    std::string host;
    std::string service;
};

} // namespace net
} // namespace qm
