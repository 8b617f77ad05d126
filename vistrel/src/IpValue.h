// The console's operations on IPv4 values beyond the foundation's own.
#pragma once

#include <qm/address.h>

#include <cstdint>

// Masks the address: number AND the mask's number, bytes recomputed.
inline qm::ip_address_t& operator&=(qm::ip_address_t& address, const qm::ip_address_t& mask)
{
    return address.assign_number(address.number & mask.number);
}

// From four bytes, first octet first.
inline qm::ip_address_t IpFromBytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    qm::ip_address_t a;
    a.assign_number(uint32_t(b0) << 24 | uint32_t(b1) << 16 | uint32_t(b2) << 8 | b3);
    return a;
}
