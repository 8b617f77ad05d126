// GUID, IID and CLSID with compile-time literals and text conversions.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <type_traits>

#include "com/types.h"

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

constexpr bool operator==(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}
constexpr bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
constexpr bool operator<(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1)
        return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2)
        return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3)
        return a.Data3 < b.Data3;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return a.Data4[i] < b.Data4[i];
    return false;
}
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline BOOL IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline BOOL IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }
#define InlineIsEqualGUID IsEqualGUID

namespace com {

namespace detail {
constexpr int hexval(char c)
{
    return c >= '0' && c <= '9' ? c - '0'
        : c >= 'a' && c <= 'f'  ? c - 'a' + 10
        : c >= 'A' && c <= 'F'  ? c - 'A' + 10
                                : -1;
}
// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", with or without braces.
// Returns false on any malformed text.
constexpr bool parse_guid(const char* s, size_t n, GUID& g)
{
    if (n == 38) {
        if (s[0] != '{' || s[37] != '}')
            return false;
        ++s;
        n = 36;
    }
    if (n != 36)
        return false;
    uint8_t bytes[16] = {};
    int b = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i] != '-')
                return false;
            ++i;
            continue;
        }
        int hi = hexval(s[i]), lo = hexval(s[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[b++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    g.Data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
    g.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    g.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = bytes[8 + i];
    return true;
}
} // namespace detail

// Compile-time GUID literal: com::make_guid("{DA118759-2053-4496-AB8C-53C74FBB979C}").
template <size_t N> consteval GUID make_guid(const char (&text)[N])
{
    GUID g{};
    if (!detail::parse_guid(text, N - 1, g))
        throw "malformed GUID literal";
    return g;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string guid_to_string(REFGUID g);
// Parses the text form (braces optional); false when malformed.
bool guid_from_string(const std::string& text, GUID& out);

} // namespace com

// DEFINE_GUID-like: an inline constexpr identifier from its text.
#define VX_DEFINE_GUID(name, text) inline constexpr GUID name = ::com::make_guid(text)

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL

// Windows-shaped conversions. StringFromGUID2 writes the braced text and its
// terminator into a buffer of cchMax characters; it returns the characters
// written including the terminator, 0 when the buffer is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);
// Braced GUID text, or else a ProgID looked up in the registry.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
HRESULT IIDFromString(LPCOLESTR text, LPIID iid);
// HKEY_CLASSES_ROOT\<ProgID>\CLSID.
HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid);
HRESULT CLSIDFromProgIDA(const char* progid, LPCLSID clsid);
// HKEY_CLASSES_ROOT\CLSID\{...}\ProgID; the text is a CoTaskMemAlloc block.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid);

template <> struct std::hash<GUID> {
    size_t operator()(const GUID& g) const noexcept
    {
        uint64_t a, b;
        std::memcpy(&a, &g, 8);
        std::memcpy(&b, reinterpret_cast<const char*>(&g) + 8, 8);
        return std::hash<uint64_t>()(a * 0x9E3779B97F4A7C15ull ^ b);
    }
};

// Interface identifiers per C++ type: VX_DEFINE_UUIDOF(Imanager, IID_Imanager)
// lets templates find an interface's IID (__uuidof(Imanager)).
namespace com {
template <class I> struct uuid_of;
}
#define VX_DEFINE_UUIDOF(type, iid)                                                                                    \
    template <> struct com::uuid_of<type> {                                                                            \
        static constexpr const GUID& value() { return iid; }                                                           \
    }
#ifndef __uuidof
#define __uuidof(type) (::com::uuid_of<std::remove_cv_t<std::remove_pointer_t<type>>>::value())
#endif
