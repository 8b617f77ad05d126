// BSTR: UTF-16 text with a 32-bit byte-length prefix, and its wrappers.
// "ANSI" (narrow) text is UTF-8.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "com/types.h"

// The block is [uint32 byte length][characters][16-bit terminator]; the
// BSTR points at the characters. A null BSTR is an empty text.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT chars);      // text may be null: uninitialised characters
BSTR SysAllocStringByteLen(const char* bytes, UINT byte_len); // bytes may be null
INT SysReAllocString(BSTR* target, const OLECHAR* text);
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT chars);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

namespace com {
// UTF-8 <-> UTF-16; malformed input becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);
// A new BSTR holding the UTF-8 text (null only when out of memory).
BSTR bstr_from_utf8(std::string_view text);
// The BSTR's whole text (embedded NULs included) as UTF-8.
std::string bstr_to_utf8(BSTR text);
inline std::u16string_view bstr_view(BSTR text)
{
    return text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}
// wchar_t (UTF-32 on Linux) literals as UTF-16.
std::u16string wide_to_utf16(const wchar_t* text);
} // namespace com

// Reference-counted BSTR wrapper with a cached narrow (UTF-8) copy.
class _bstr_t {
public:
    _bstr_t() noexcept = default;
    _bstr_t(const _bstr_t& other) noexcept;
    _bstr_t(_bstr_t&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
    _bstr_t(const char* text);
    _bstr_t(const std::string& text);
    _bstr_t(const OLECHAR* text);
    _bstr_t(const wchar_t* text);
    _bstr_t(BSTR text, bool copy); // copy false: takes ownership
    ~_bstr_t();

    _bstr_t& operator=(const _bstr_t& other) noexcept;
    _bstr_t& operator=(_bstr_t&& other) noexcept;
    _bstr_t& operator=(const char* text);
    _bstr_t& operator=(const OLECHAR* text);
    _bstr_t& operator+=(const _bstr_t& other);
    friend _bstr_t operator+(const _bstr_t& a, const _bstr_t& b);

    operator const OLECHAR*() const noexcept { return data_ ? data_->wide : nullptr; }
    operator OLECHAR*() const noexcept { return data_ ? data_->wide : nullptr; }
    operator const char*() const; // UTF-8, null for a null string
    operator char*() const;
    bool operator!() const noexcept { return !data_ || !data_->wide; }
    bool operator==(const _bstr_t& other) const noexcept;
    bool operator!=(const _bstr_t& other) const noexcept { return !(*this == other); }

    UINT length() const noexcept { return data_ ? SysStringLen(data_->wide) : 0; }
    BSTR copy(bool copy_it = true) const; // a new BSTR (or the own one when copy_it is false)
    BSTR GetBSTR() const noexcept { return data_ ? data_->wide : nullptr; }
    BSTR& GetBSTR();        // creates an empty holder when null
    BSTR* GetAddress();     // frees the current text; for out parameters
    void Assign(BSTR text); // copies
    void Attach(BSTR text); // takes ownership
    BSTR Detach();

private:
    struct data_t {
        std::atomic<long> refs{1};
        BSTR wide = nullptr;
        mutable char* narrow = nullptr;
    };
    void release() noexcept;
    void make_unique();
    data_t* data_ = nullptr;
};

// ATL-style single-owner BSTR wrapper.
class CComBSTR {
public:
    BSTR m_str = nullptr;
    CComBSTR() = default;
    CComBSTR(const OLECHAR* text) : m_str(SysAllocString(text)) {}
    CComBSTR(const char* text) : m_str(text ? com::bstr_from_utf8(text) : nullptr) {}
    CComBSTR(int chars, const OLECHAR* text) : m_str(SysAllocStringLen(text, static_cast<UINT>(chars))) {}
    CComBSTR(const CComBSTR& other) : m_str(other.Copy()) {}
    CComBSTR(CComBSTR&& other) noexcept : m_str(other.m_str) { other.m_str = nullptr; }
    ~CComBSTR() { SysFreeString(m_str); }
    CComBSTR& operator=(const CComBSTR& other)
    {
        if (this != &other) {
            SysFreeString(m_str);
            m_str = other.Copy();
        }
        return *this;
    }
    CComBSTR& operator=(CComBSTR&& other) noexcept
    {
        std::swap(m_str, other.m_str);
        return *this;
    }
    CComBSTR& operator=(const OLECHAR* text)
    {
        SysReAllocString(&m_str, text);
        return *this;
    }
    operator BSTR() const { return m_str; }
    BSTR* operator&() { return &m_str; }
    bool operator!() const { return m_str == nullptr; }
    UINT Length() const { return SysStringLen(m_str); }
    BSTR Copy() const
    {
        return m_str ? SysAllocStringByteLen(reinterpret_cast<const char*>(m_str), SysStringByteLen(m_str)) : nullptr;
    }
    HRESULT CopyTo(BSTR* out) const
    {
        if (!out)
            return E_POINTER;
        *out = Copy();
        return (m_str && !*out) ? E_OUTOFMEMORY : S_OK;
    }
    void Attach(BSTR text)
    {
        SysFreeString(m_str);
        m_str = text;
    }
    BSTR Detach()
    {
        BSTR t = m_str;
        m_str = nullptr;
        return t;
    }
    void Empty()
    {
        SysFreeString(m_str);
        m_str = nullptr;
    }
    HRESULT Append(const OLECHAR* text, int chars);
    HRESULT Append(const OLECHAR* text);
    HRESULT Append(const char* text);
};
