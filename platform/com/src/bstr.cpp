// BSTR allocation, UTF-8/UTF-16 conversion, _bstr_t and CComBSTR.
#include "com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "com/comerror.h"

namespace {

constexpr size_t prefix = sizeof(uint32_t);
// Largest text whose block size still fits the 32-bit prefix and size_t.
constexpr size_t max_bytes = 0x7FFFFFF0u;

BSTR alloc_bytes(const void* bytes, size_t byte_len)
{
    if (byte_len > max_bytes)
        return nullptr;
    // Room for a 16-bit terminator after an odd byte count too.
    auto* block = static_cast<char*>(std::malloc(prefix + byte_len + 3));
    if (!block)
        return nullptr;
    uint32_t n = static_cast<uint32_t>(byte_len);
    std::memcpy(block, &n, prefix);
    char* text = block + prefix;
    if (bytes)
        std::memcpy(text, bytes, byte_len);
    else
        std::memset(text, 0, byte_len);
    text[byte_len] = text[byte_len + 1] = text[byte_len + 2] = 0;
    return reinterpret_cast<BSTR>(text);
}

char* block_of(BSTR text) { return reinterpret_cast<char*>(text) - prefix; }

} // namespace

BSTR SysAllocString(const OLECHAR* text)
{
    if (!text)
        return nullptr;
    size_t n = std::char_traits<char16_t>::length(text);
    return alloc_bytes(text, n * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT chars) { return alloc_bytes(text, size_t(chars) * sizeof(OLECHAR)); }

BSTR SysAllocStringByteLen(const char* bytes, UINT byte_len) { return alloc_bytes(bytes, byte_len); }

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT chars)
{
    if (!target)
        return FALSE;
    BSTR fresh = alloc_bytes(text, size_t(chars) * sizeof(OLECHAR));
    if (!fresh)
        return FALSE;
    SysFreeString(*target);
    *target = fresh;
    return TRUE;
}

INT SysReAllocString(BSTR* target, const OLECHAR* text)
{
    if (!target)
        return FALSE;
    if (!text) {
        SysFreeString(*target);
        *target = nullptr;
        return TRUE;
    }
    return SysReAllocStringLen(target, text, static_cast<UINT>(std::char_traits<char16_t>::length(text)));
}

void SysFreeString(BSTR text)
{
    if (text)
        std::free(block_of(text));
}

UINT SysStringByteLen(BSTR text)
{
    if (!text)
        return 0;
    uint32_t n;
    std::memcpy(&n, block_of(text), prefix);
    return n;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

namespace com {

namespace {

// Appends one code point, as a surrogate pair past the basic plane.
void push_utf16(std::u16string& out, char32_t cp)
{
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

} // namespace

std::u16string utf8_to_utf16(std::string_view s)
{
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            len = 4;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are malformed.
        static const char32_t min_for_len[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || cp < min_for_len[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        push_utf16(out, cp);
        i += len;
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD; // lone surrogate
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

BSTR bstr_from_utf8(std::string_view text)
{
    std::u16string w = utf8_to_utf16(text);
    return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

std::string bstr_to_utf8(BSTR text) { return utf16_to_utf8(bstr_view(text)); }

std::u16string wide_to_utf16(const wchar_t* text)
{
    std::u16string out;
    if (!text)
        return out;
    for (; *text; ++text) {
        char32_t cp = static_cast<char32_t>(*text);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = 0xFFFD;
        push_utf16(out, cp);
    }
    return out;
}

} // namespace com

// ---- _bstr_t ---------------------------------------------------------------

namespace {
BSTR checked(BSTR b)
{
    if (!b)
        _com_issue_error(E_OUTOFMEMORY);
    return b;
}
} // namespace

_bstr_t::_bstr_t(const _bstr_t& other) noexcept : data_(other.data_)
{
    if (data_)
        ++data_->refs;
}

_bstr_t::_bstr_t(const char* text)
{
    if (!text)
        return;
    data_ = new data_t;
    data_->wide = checked(com::bstr_from_utf8(text));
}

_bstr_t::_bstr_t(const std::string& text)
{
    data_ = new data_t;
    data_->wide = checked(com::bstr_from_utf8(text));
}

_bstr_t::_bstr_t(const OLECHAR* text)
{
    if (!text)
        return;
    data_ = new data_t;
    data_->wide = checked(SysAllocString(text));
}

_bstr_t::_bstr_t(const wchar_t* text)
{
    if (!text)
        return;
    std::u16string w = com::wide_to_utf16(text);
    data_ = new data_t;
    data_->wide = checked(SysAllocStringLen(w.data(), static_cast<UINT>(w.size())));
}

_bstr_t::_bstr_t(BSTR text, bool copy)
{
    data_ = new data_t;
    if (copy)
        data_->wide = text ? checked(SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text)))
                           : nullptr;
    else
        data_->wide = text;
}

_bstr_t::~_bstr_t() { release(); }

void _bstr_t::release() noexcept
{
    if (data_ && --data_->refs == 0) {
        SysFreeString(data_->wide);
        delete[] data_->narrow;
        delete data_;
    }
    data_ = nullptr;
}

_bstr_t& _bstr_t::operator=(const _bstr_t& other) noexcept
{
    if (data_ != other.data_) {
        if (other.data_)
            ++other.data_->refs;
        release();
        data_ = other.data_;
    }
    return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& other) noexcept
{
    std::swap(data_, other.data_);
    return *this;
}

_bstr_t& _bstr_t::operator=(const char* text) { return *this = _bstr_t(text); }
_bstr_t& _bstr_t::operator=(const OLECHAR* text) { return *this = _bstr_t(text); }

_bstr_t& _bstr_t::operator+=(const _bstr_t& other)
{
    std::u16string joined(com::bstr_view(GetBSTR()));
    joined += com::bstr_view(other.GetBSTR());
    return *this = _bstr_t(checked(SysAllocStringLen(joined.data(), static_cast<UINT>(joined.size()))), false);
}

_bstr_t operator+(const _bstr_t& a, const _bstr_t& b)
{
    _bstr_t r(a);
    r += b;
    return r;
}

_bstr_t::operator const char*() const
{
    if (!data_ || !data_->wide)
        return nullptr;
    if (!data_->narrow) {
        std::string s = com::bstr_to_utf8(data_->wide);
        char* n = new char[s.size() + 1];
        std::memcpy(n, s.c_str(), s.size() + 1);
        data_->narrow = n;
    }
    return data_->narrow;
}

_bstr_t::operator char*() const { return const_cast<char*>(static_cast<const char*>(*this)); }

bool _bstr_t::operator==(const _bstr_t& other) const noexcept
{
    return com::bstr_view(GetBSTR()) == com::bstr_view(other.GetBSTR());
}

BSTR _bstr_t::copy(bool copy_it) const
{
    BSTR b = GetBSTR();
    if (!copy_it || !b)
        return b;
    return checked(SysAllocStringByteLen(reinterpret_cast<const char*>(b), SysStringByteLen(b)));
}

void _bstr_t::make_unique()
{
    if (!data_) {
        data_ = new data_t;
    } else if (data_->refs.load() > 1) {
        BSTR b = copy();
        release();
        data_ = new data_t;
        data_->wide = b;
    }
    delete[] data_->narrow;
    data_->narrow = nullptr;
}

BSTR& _bstr_t::GetBSTR()
{
    make_unique();
    return data_->wide;
}

BSTR* _bstr_t::GetAddress()
{
    release();
    data_ = new data_t;
    return &data_->wide;
}

void _bstr_t::Assign(BSTR text) { *this = _bstr_t(text, true); }

void _bstr_t::Attach(BSTR text) { *this = _bstr_t(text, false); }

BSTR _bstr_t::Detach()
{
    make_unique();
    BSTR b = data_->wide;
    data_->wide = nullptr;
    release();
    return b;
}

// ---- CComBSTR ----------------------------------------------------------------

HRESULT CComBSTR::Append(const OLECHAR* text, int chars)
{
    if (chars < 0)
        return E_INVALIDARG;
    std::u16string joined(com::bstr_view(m_str));
    if (text)
        joined.append(text, static_cast<size_t>(chars));
    BSTR b = SysAllocStringLen(joined.data(), static_cast<UINT>(joined.size()));
    if (!b)
        return E_OUTOFMEMORY;
    SysFreeString(m_str);
    m_str = b;
    return S_OK;
}

HRESULT CComBSTR::Append(const OLECHAR* text)
{
    return text ? Append(text, static_cast<int>(std::char_traits<char16_t>::length(text))) : S_OK;
}

HRESULT CComBSTR::Append(const char* text)
{
    std::u16string w = com::utf8_to_utf16(text ? text : "");
    return Append(w.data(), static_cast<int>(w.size()));
}
