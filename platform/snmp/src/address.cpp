// IPv4 and UDP address parsing and printing.
#include <cstdio>
#include <cstring>

#include "snmp_pp/snmp_pp.h"

namespace {
// Reads a decimal number of at most `digits` digits not above `max`.
bool read_number(const char*& p, unsigned max, int digits, unsigned& out)
{
    if (*p < '0' || *p > '9')
        return false;
    unsigned v = 0;
    int n = 0;
    while (*p >= '0' && *p <= '9') {
        if (++n > digits)
            return false;
        v = v * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    if (v > max)
        return false;
    out = v;
    return true;
}
} // namespace

void Address::clear()
{
    std::memset(ip_, 0, sizeof ip_);
    port_ = 0;
    has_port_ = false;
    valid_ = false;
}

bool Address::parse(const char* text, bool with_port)
{
    clear();
    if (!text)
        return false;
    const char* p = text;
    unsigned char ip[4];
    for (int i = 0; i < 4; ++i) {
        unsigned v;
        if (!read_number(p, 255, 3, v))
            return false;
        ip[i] = static_cast<unsigned char>(v);
        if (i < 3) {
            if (*p != '.')
                return false;
            ++p;
        }
    }
    unsigned port = 0;
    bool has_port = false;
    if (with_port && (*p == '/' || *p == ':')) {
        ++p;
        if (!read_number(p, 65535, 5, port))
            return false;
        has_port = true;
    }
    if (*p != '\0')
        return false;
    std::memcpy(ip_, ip, 4);
    port_ = static_cast<unsigned short>(port);
    has_port_ = has_port;
    valid_ = true;
    return true;
}

const char* Address::dotted() const
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ip_[0], ip_[1], ip_[2], ip_[3]);
    printable_ = buf;
    return printable_.c_str();
}

const char* Address::with_port() const
{
    printable_ = std::string(dotted()) + '/' + std::to_string(port_);
    return printable_.c_str();
}

bool Address::assign_address(const SnmpSyntax& other)
{
    auto* o = dynamic_cast<const Address*>(&other);
    if (o)
        copy_from(*o);
    return o != nullptr;
}

IpAddress::IpAddress(const unsigned char* octets)
{
    if (!octets)
        return;
    std::memcpy(ip_, octets, 4);
    valid_ = true;
}

IpAddress::IpAddress(const Address& other)
{
    copy_from(other);
    port_ = 0;
    has_port_ = false;
}

bool IpAddress::assign(const SnmpSyntax& other)
{
    if (!assign_address(other))
        return false;
    port_ = 0;
    has_port_ = false;
    return true;
}

const char* UdpAddress::get_printable() const { return valid_ ? with_port() : ""; }

const char* GenAddress::get_printable() const
{
    if (!valid_)
        return "";
    return has_port_ ? with_port() : dotted();
}

bool SnmpTarget::set_address(const Address& address)
{
    address_ = UdpAddress(address);
    return address_.valid();
}
