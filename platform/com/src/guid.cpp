// GUID text forms and ProgID lookups.
#include <cstdio>

#include "com/activation.h"
#include "com/bstr.h"
#include "com/guid.h"
#include "com/registration.h"

namespace com {

std::string guid_to_string(REFGUID g)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

bool guid_from_string(const std::string& text, GUID& out)
{
    GUID g{};
    if (!detail::parse_guid(text.data(), text.size(), g))
        return false;
    out = g;
    return true;
}

} // namespace com

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax)
{
    std::string s = com::guid_to_string(guid);
    if (!buffer || cchMax < static_cast<int>(s.size()) + 1)
        return 0;
    for (size_t i = 0; i < s.size(); ++i)
        buffer[i] = static_cast<OLECHAR>(s[i]);
    buffer[s.size()] = 0;
    return static_cast<int>(s.size()) + 1;
}

static std::string narrow(LPCOLESTR text)
{
    if (!text)
        return {};
    std::u16string_view v(text);
    return com::utf16_to_utf8(v);
}

HRESULT IIDFromString(LPCOLESTR text, LPIID iid)
{
    if (!text || !iid)
        return E_INVALIDARG;
    std::string s = narrow(text);
    if (s.size() != 38 || !com::guid_from_string(s, *iid))
        return CO_E_CLASSSTRING;
    return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid)
{
    if (!text || !clsid)
        return E_INVALIDARG;
    std::string s = narrow(text);
    if (!s.empty() && s[0] == '{') {
        if (s.size() != 38 || !com::guid_from_string(s, *clsid))
            return CO_E_CLASSSTRING;
        return S_OK;
    }
    return CLSIDFromProgIDA(s.c_str(), clsid) == S_OK ? S_OK : CO_E_CLASSSTRING;
}

HRESULT CLSIDFromProgIDA(const char* progid, LPCLSID clsid)
{
    if (!progid || !clsid)
        return E_INVALIDARG;
    *clsid = GUID_NULL;
    std::string text;
    if (!*progid || !com::read_classes_value(std::string(progid) + "\\CLSID", nullptr, text))
        return CO_E_CLASSSTRING;
    if (!com::guid_from_string(text, *clsid))
        return CO_E_CLASSSTRING;
    return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid)
{
    if (!progid)
        return E_INVALIDARG;
    return CLSIDFromProgIDA(narrow(progid).c_str(), clsid);
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progid)
{
    if (!progid)
        return E_INVALIDARG;
    *progid = nullptr;
    std::string text;
    if (!com::read_classes_value("CLSID\\" + com::guid_to_string(clsid) + "\\ProgID", nullptr, text))
        return REGDB_E_CLASSNOTREG;
    std::u16string w = com::utf8_to_utf16(text);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((w.size() + 1) * sizeof(OLECHAR)));
    if (!out)
        return E_OUTOFMEMORY;
    std::copy(w.begin(), w.end(), out);
    out[w.size()] = 0;
    *progid = out;
    return S_OK;
}
