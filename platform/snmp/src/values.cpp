// Value classes and their printable forms.
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "snmp_pp/snmp_pp.h"

namespace {
bool printable_char(unsigned char c) { return c >= 0x20 && c < 0x7F; }
} // namespace

const char* SnmpInt32::get_printable() const
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%" PRId32, value_);
    printable_ = buf;
    return printable_.c_str();
}

bool SnmpInt32::assign(const SnmpSyntax& other)
{
    if (auto* o = dynamic_cast<const SnmpInt32*>(&other)) {
        value_ = o->value_;
        return true;
    }
    return false;
}

const char* SnmpUInt32::get_printable() const
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%" PRIu32, value_);
    printable_ = buf;
    return printable_.c_str();
}

bool SnmpUInt32::assign(const SnmpSyntax& other)
{
    if (auto* o = dynamic_cast<const SnmpUInt32*>(&other)) {
        value_ = o->value_;
        return true;
    }
    return false;
}

const char* TimeTicks::get_printable() const
{
    uint32_t t = value_;
    const uint32_t days = t / 8640000;
    t %= 8640000;
    const uint32_t hours = t / 360000;
    t %= 360000;
    const uint32_t minutes = t / 6000;
    t %= 6000;
    const uint32_t seconds = t / 100;
    const uint32_t hundredths = t % 100;
    char buf[48];
    if (days == 0)
        std::snprintf(buf, sizeof buf, "%" PRIu32 ":%02" PRIu32 ":%02" PRIu32 ".%02" PRIu32, hours, minutes, seconds,
                      hundredths);
    else if (days == 1)
        std::snprintf(buf, sizeof buf, "1 day %" PRIu32 ":%02" PRIu32 ":%02" PRIu32 ".%02" PRIu32, hours, minutes,
                      seconds, hundredths);
    else
        std::snprintf(buf, sizeof buf, "%" PRIu32 " days, %" PRIu32 ":%02" PRIu32 ":%02" PRIu32 ".%02" PRIu32, days,
                      hours, minutes, seconds, hundredths);
    printable_ = buf;
    return printable_.c_str();
}

const char* Counter64::get_printable() const
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%" PRIu64, value_);
    printable_ = buf;
    return printable_.c_str();
}

bool Counter64::assign(const SnmpSyntax& other)
{
    if (auto* o = dynamic_cast<const Counter64*>(&other)) {
        value_ = o->value_;
        return true;
    }
    return false;
}

OctetStr::OctetStr(const char* text)
{
    if (text)
        data_.assign(text);
}

OctetStr::OctetStr(const unsigned char* data, unsigned long length) { set_data(data, length); }

OctetStr& OctetStr::operator=(const char* text)
{
    data_.clear();
    if (text)
        data_.assign(text);
    return *this;
}

void OctetStr::set_data(const unsigned char* data, unsigned long length)
{
    if (data && length)
        data_.assign(reinterpret_cast<const char*>(data), length);
    else
        data_.clear();
}

const char* OctetStr::get_printable() const
{
    for (char c : data_) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!printable_char(u) && u != '\r' && u != '\n')
            return get_printable_hex();
    }
    printable_.assign(data_);
    return printable_.c_str();
}

const char* OctetStr::get_printable_hex() const
{
    printable_.clear();
    const size_t n = data_.size();
    for (size_t line = 0; line < n; line += 16) {
        printable_ += "  ";
        std::string chars;
        for (size_t i = line; i < line + 16; ++i) {
            if (i < n) {
                char hex[4];
                const unsigned char u = static_cast<unsigned char>(data_[i]);
                std::snprintf(hex, sizeof hex, "%2.2X ", u);
                printable_ += hex;
                chars += printable_char(u) ? static_cast<char>(u) : '.';
            } else {
                printable_ += "   ";
            }
        }
        printable_ += "   ";
        printable_ += chars;
        printable_ += "\n";
    }
    return printable_.c_str();
}

bool OctetStr::assign(const SnmpSyntax& other)
{
    if (auto* o = dynamic_cast<const OctetStr*>(&other)) {
        data_ = o->data_;
        return true;
    }
    return false;
}

Oid::Oid(const char* text)
{
    valid_ = false;
    if (!text)
        return;
    const char* p = text;
    if (*p == '.')
        ++p;
    if (*p == '\0')
        return;
    uint32_t n = 0;
    while (true) {
        if (*p < '0' || *p > '9')
            return;
        uint64_t v = 0;
        while (*p >= '0' && *p <= '9') {
            v = v * 10 + static_cast<uint64_t>(*p - '0');
            if (v > 0xFFFFFFFFull)
                return;
            ++p;
        }
        if (n >= SNMP_MAX_OID_LEN)
            return;
        ids_[n++] = static_cast<uint32_t>(v);
        if (*p == '\0')
            break;
        if (*p != '.')
            return;
        ++p;
    }
    length_ = n; // only a whole valid text counts
    valid_ = true;
}

Oid::Oid(const unsigned long* ids, unsigned long length)
{
    if (length > SNMP_MAX_OID_LEN || (length && !ids)) {
        valid_ = false;
        return;
    }
    for (unsigned long i = 0; i < length; ++i) {
        if (ids[i] > 0xFFFFFFFFul) {
            length_ = 0;
            valid_ = false;
            return;
        }
        ids_[i] = static_cast<uint32_t>(ids[i]);
    }
    length_ = static_cast<uint32_t>(length);
}

Oid& Oid::operator+=(unsigned long id)
{
    if (length_ >= SNMP_MAX_OID_LEN || id > 0xFFFFFFFFul)
        valid_ = false;
    else
        ids_[length_++] = static_cast<uint32_t>(id);
    return *this;
}

const char* Oid::get_printable() const
{
    char text[SNMP_MAX_OID_LEN * 11];
    char* out = text;
    for (uint32_t i = 0; i < length_; ++i) {
        if (i)
            *out++ = '.';
        out = std::to_chars(out, text + sizeof text, ids_[i]).ptr;
    }
    printable_.assign(text, out);
    return printable_.c_str();
}

bool Oid::assign(const SnmpSyntax& other)
{
    if (auto* o = dynamic_cast<const Oid*>(&other)) {
        *this = *o;
        return true;
    }
    return false;
}
