// Value classes: integers, counters, gauges, time ticks, 64-bit counters,
// octet strings and object identifiers, with their printable forms.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "snmp_pp/smi.h"

// Signed 32-bit INTEGER; printed as signed decimal.
class SnmpInt32 : public SnmpSyntax {
public:
    SnmpInt32(long value = 0) : value_(static_cast<int32_t>(value)) {}
    operator long() const { return value_; }
    SnmpInt32& operator=(long value)
    {
        value_ = static_cast<int32_t>(value);
        return *this;
    }
    int get_syntax() const override { return sNMP_SYNTAX_INT32; }
    const char* get_printable() const override;
    bool valid() const override { return true; }
    SnmpSyntax* clone() const override { return new SnmpInt32(*this); }
    bool assign(const SnmpSyntax& other) override;
    void clear() override { value_ = 0; }

private:
    int32_t value_;
};

// Unsigned 32-bit value; the base of Counter32, Gauge32 and TimeTicks.
// Printed as unsigned decimal.
class SnmpUInt32 : public SnmpSyntax {
public:
    SnmpUInt32(unsigned long value = 0) : value_(static_cast<uint32_t>(value)) {}
    operator unsigned long() const { return value_; }
    SnmpUInt32& operator=(unsigned long value)
    {
        value_ = static_cast<uint32_t>(value);
        return *this;
    }
    int get_syntax() const override { return syntax_; }
    const char* get_printable() const override;
    bool valid() const override { return true; }
    SnmpSyntax* clone() const override { return new SnmpUInt32(*this); }
    bool assign(const SnmpSyntax& other) override;
    void clear() override { value_ = 0; }

protected:
    SnmpUInt32(unsigned long value, int syntax) : value_(static_cast<uint32_t>(value)), syntax_(syntax) {}
    uint32_t value_;
    int syntax_ = sNMP_SYNTAX_UINT32;
};

class Counter32 : public SnmpUInt32 {
public:
    Counter32(unsigned long value = 0) : SnmpUInt32(value, sNMP_SYNTAX_CNTR32) {}
    Counter32& operator=(unsigned long value)
    {
        value_ = static_cast<uint32_t>(value);
        return *this;
    }
    SnmpSyntax* clone() const override { return new Counter32(*this); }
};

class Gauge32 : public SnmpUInt32 {
public:
    Gauge32(unsigned long value = 0) : SnmpUInt32(value, sNMP_SYNTAX_GAUGE32) {}
    Gauge32& operator=(unsigned long value)
    {
        value_ = static_cast<uint32_t>(value);
        return *this;
    }
    SnmpSyntax* clone() const override { return new Gauge32(*this); }
};

// Hundredths of a second; printed as "H:MM:SS.hh", "1 day H:MM:SS.hh" or
// "D days, H:MM:SS.hh".
class TimeTicks : public SnmpUInt32 {
public:
    TimeTicks(unsigned long value = 0) : SnmpUInt32(value, sNMP_SYNTAX_TIMETICKS) {}
    TimeTicks& operator=(unsigned long value)
    {
        value_ = static_cast<uint32_t>(value);
        return *this;
    }
    const char* get_printable() const override;
    SnmpSyntax* clone() const override { return new TimeTicks(*this); }
};

// Unsigned 64-bit counter made of two 32-bit halves; printed as unsigned
// decimal.
class Counter64 : public SnmpSyntax {
public:
    Counter64(unsigned long long value = 0) : value_(value) {}
    Counter64(unsigned long high, unsigned long low)
        : value_((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | static_cast<uint32_t>(low))
    {}
    unsigned long high() const { return static_cast<uint32_t>(value_ >> 32); }
    unsigned long low() const { return static_cast<uint32_t>(value_); }
    void set_high(unsigned long high)
    {
        value_ = (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | (value_ & 0xFFFFFFFFull);
    }
    void set_low(unsigned long low) { value_ = (value_ & ~0xFFFFFFFFull) | static_cast<uint32_t>(low); }
    operator unsigned long long() const { return value_; }
    int get_syntax() const override { return sNMP_SYNTAX_CNTR64; }
    const char* get_printable() const override;
    bool valid() const override { return true; }
    SnmpSyntax* clone() const override { return new Counter64(*this); }
    bool assign(const SnmpSyntax& other) override;
    void clear() override { value_ = 0; }

private:
    uint64_t value_;
};

// OCTET STRING. Printed as the text itself when every octet is printable
// (or CR, LF); otherwise as a hex dump, 16 octets a line:
// "  " + "XX " per octet (padded with blanks to 16) + "   " + the octets as
// characters ('.' for the unprintable ones) + "\n".
class OctetStr : public SnmpSyntax {
public:
    OctetStr() = default;
    OctetStr(const char* text);
    OctetStr(const unsigned char* data, unsigned long length);
    OctetStr& operator=(const char* text);
    void set_data(const unsigned char* data, unsigned long length);
    unsigned long len() const { return static_cast<unsigned long>(data_.size()); }
    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(data_.data()); }
    unsigned char operator[](unsigned long i) const { return static_cast<unsigned char>(data_[i]); }
    bool operator==(const OctetStr& other) const { return data_ == other.data_; }
    bool operator!=(const OctetStr& other) const { return data_ != other.data_; }
    // The hex dump form, whatever the octets are.
    const char* get_printable_hex() const;

    int get_syntax() const override { return syntax_; }
    const char* get_printable() const override;
    bool valid() const override { return true; }
    SnmpSyntax* clone() const override { return new OctetStr(*this); }
    bool assign(const SnmpSyntax& other) override;
    void clear() override { data_.clear(); }

protected:
    std::string data_; // the octets (short ones need no allocation)
    int syntax_ = sNMP_SYNTAX_OCTETS;
};

// Opaque: octets carried under the Opaque tag.
class OpaqueStr : public OctetStr {
public:
    OpaqueStr() { syntax_ = sNMP_SYNTAX_OPAQUE; }
    OpaqueStr(const unsigned char* data, unsigned long length) : OctetStr(data, length)
    {
        syntax_ = sNMP_SYNTAX_OPAQUE;
    }
    SnmpSyntax* clone() const override { return new OpaqueStr(*this); }
};

// OBJECT IDENTIFIER. Built from dotted decimal text (a leading dot is
// allowed); anything else (letters, empty parts, values above 2^32-1, more
// than 128 numbers, empty text) makes it invalid. Printed as the numbers
// joined by "." without a leading dot.
class Oid : public SnmpSyntax {
public:
    Oid() = default;
    Oid(const char* text);
    Oid(const unsigned long* ids, unsigned long length);
    Oid(const Oid& other) : SnmpSyntax(other) { *this = other; }
    Oid& operator=(const Oid& other)
    {
        std::copy(other.ids_, other.ids_ + other.length_, ids_);
        length_ = other.length_;
        valid_ = other.valid_;
        return *this;
    }
    unsigned long len() const { return length_; }
    unsigned long operator[](unsigned long i) const { return ids_[i]; }
    std::span<const uint32_t> ids() const { return {ids_, length_}; }
    Oid& operator+=(unsigned long id);
    bool operator==(const Oid& other) const
    {
        return valid_ == other.valid_ && std::equal(ids_, ids_ + length_, other.ids_, other.ids_ + other.length_);
    }
    bool operator!=(const Oid& other) const { return !(*this == other); }
    bool operator<(const Oid& other) const
    {
        return std::lexicographical_compare(ids_, ids_ + length_, other.ids_, other.ids_ + other.length_);
    }

    int get_syntax() const override { return sNMP_SYNTAX_OID; }
    const char* get_printable() const override;
    bool valid() const override { return valid_; }
    SnmpSyntax* clone() const override { return new Oid(*this); }
    bool assign(const SnmpSyntax& other) override;
    void clear() override
    {
        length_ = 0;
        valid_ = true;
    }

private:
    uint32_t ids_[SNMP_MAX_OID_LEN]; // in place: identifiers are built and copied per request
    uint32_t length_ = 0;
    bool valid_ = true;
};

namespace vx_snmp_detail {
// Octets under another tag (BIT STRING, SEQUENCE) and unsigned values
// under the unsigned-32 tag (71): values that only the Windows-manager
// path carries; they print as their octet or unsigned base.
class TaggedOctets : public OctetStr {
public:
    TaggedOctets(int syntax, const unsigned char* data, unsigned long length) : OctetStr(data, length)
    {
        syntax_ = syntax;
    }
    SnmpSyntax* clone() const override { return new TaggedOctets(*this); }
};
class TaggedUInt32 : public SnmpUInt32 {
public:
    TaggedUInt32(int syntax, unsigned long value) : SnmpUInt32(value, syntax) {}
    SnmpSyntax* clone() const override { return new TaggedUInt32(*this); }
};
} // namespace vx_snmp_detail
