#include "NumberText.h"

#include <cctype>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool EndsNumber(char c) { return c == 0 || c == ' ' || c == ':'; }

} // namespace

bool ParseNumber(const char* text, uint32_t& value)
{
    if (!text)
        return false;
    const char* p = text;
    while (*p == ' ')
        ++p;
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == 'x' || p[0] == 'X') {
        base = 16;
        p += 1;
    }
    uint64_t v = 0;
    int digits = 0;
    for (; !EndsNumber(*p); ++p) {
        const int d = base == 16 ? HexDigit(*p) : (std::isdigit(static_cast<unsigned char>(*p)) ? *p - '0' : -1);
        if (d < 0)
            return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFu)
            return false;
        ++digits;
    }
    if (!digits)
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseMac(const char* text, unsigned char mac[6])
{
    if (!text)
        return false;
    const char* p = text;
    for (int i = 0; i < 6; ++i) {
        while (*p == ':' || *p == ' ')
            ++p;
        const int hi = HexDigit(p[0]);
        const int lo = hi < 0 ? -1 : HexDigit(p[1]);
        if (lo < 0)
            return false;
        mac[i] = static_cast<unsigned char>(hi * 16 + lo);
        p += 2;
    }
    while (*p == ':' || *p == ' ')
        ++p;
    return *p == 0;
}

int ParseHexBytes(const char* text, unsigned char* bytes, int maximum)
{
    if (!text)
        return -1;
    int count = 0;
    int high = -1;
    for (const char* p = text; *p; ++p) {
        if (*p == ' ' || *p == ':')
            continue;
        const int d = HexDigit(*p);
        if (d < 0)
            return -1;
        if (high < 0) {
            high = d;
            continue;
        }
        if (count == maximum)
            return -1;
        bytes[count++] = static_cast<unsigned char>(high * 16 + d);
        high = -1;
    }
    return high >= 0 || count == 0 ? -1 : count;
}
