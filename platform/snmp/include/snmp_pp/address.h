// IPv4 addresses: IpAddress ("a.b.c.d"), UdpAddress (with a port: "a.b.c.d",
// "a.b.c.d/port" or "a.b.c.d:port") and GenAddress (either form).
//
// Only dotted decimal IPv4 text is accepted: no host names are looked up,
// so an invalid text never costs a resolver round trip.
#pragma once

#include <cstdint>

#include "snmp_pp/smi.h"

class Address : public SnmpSyntax {
public:
    bool valid() const override { return valid_; }
    // The four octets of the address (all 0 when invalid).
    const unsigned char* octets() const { return ip_; }
    // The UDP port, 0 when the text had none.
    unsigned short port() const { return port_; }
    bool has_port() const { return has_port_; }
    void clear() override;

protected:
    Address() = default;
    // Parses "a.b.c.d" and, when with_port, an optional "/port" or ":port".
    bool parse(const char* text, bool with_port);
    void copy_from(const Address& other)
    {
        for (int i = 0; i < 4; ++i)
            ip_[i] = other.ip_[i];
        port_ = other.port_;
        has_port_ = other.has_port_;
        valid_ = other.valid_;
    }
    // Copies another address of any kind; false for other syntaxes.
    bool assign_address(const SnmpSyntax& other);
    const char* dotted() const;    // "a.b.c.d" into printable_
    const char* with_port() const; // "a.b.c.d/port" into printable_

    unsigned char ip_[4] = {0, 0, 0, 0};
    unsigned short port_ = 0;
    bool has_port_ = false;
    bool valid_ = false;
};

class IpAddress : public Address {
public:
    IpAddress() = default;
    IpAddress(const char* text) { parse(text, false); }
    IpAddress(const unsigned char* octets); // four octets
    IpAddress(const Address& other);        // the address part of any address
    IpAddress& operator=(const char* text)
    {
        parse(text, false);
        return *this;
    }
    int get_syntax() const override { return sNMP_SYNTAX_IPADDR; }
    const char* get_printable() const override { return valid_ ? dotted() : ""; }
    SnmpSyntax* clone() const override { return new IpAddress(*this); }
    bool assign(const SnmpSyntax& other) override;
};

class UdpAddress : public Address {
public:
    UdpAddress() = default;
    UdpAddress(const char* text) { parse(text, true); }
    UdpAddress(const Address& other) { copy_from(other); }
    UdpAddress& operator=(const char* text)
    {
        parse(text, true);
        return *this;
    }
    void set_port(unsigned short port)
    {
        port_ = port;
        has_port_ = true;
    }
    unsigned short get_port() const { return port_; }
    int get_syntax() const override { return sNMP_SYNTAX_OCTETS; }
    // "a.b.c.d/port"
    const char* get_printable() const override;
    SnmpSyntax* clone() const override { return new UdpAddress(*this); }
    bool assign(const SnmpSyntax& other) override { return assign_address(other); }
};

class GenAddress : public Address {
public:
    GenAddress() = default;
    GenAddress(const char* text) { parse(text, true); }
    GenAddress(const Address& other) { copy_from(other); }
    GenAddress& operator=(const char* text)
    {
        parse(text, true);
        return *this;
    }
    int get_syntax() const override { return has_port_ ? sNMP_SYNTAX_OCTETS : sNMP_SYNTAX_IPADDR; }
    const char* get_printable() const override;
    SnmpSyntax* clone() const override { return new GenAddress(*this); }
    bool assign(const SnmpSyntax& other) override { return assign_address(other); }
};
