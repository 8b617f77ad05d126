// _com_error: a failed HRESULT with its error object, thrown by client wrappers.
#pragma once

#include <string>

#include "com/errorinfo.h"

class _com_error {
public:
    explicit _com_error(HRESULT hr, IErrorInfo* info = nullptr, bool add_ref = false) noexcept;
    _com_error(const _com_error& other) noexcept;
    _com_error& operator=(const _com_error& other) noexcept;
    virtual ~_com_error();

    HRESULT Error() const noexcept { return hr_; }
    WORD WCode() const noexcept;
    IErrorInfo* ErrorInfo() const noexcept; // AddRef'd, or null
    // System-style text: our table for the HRESULTs this layer produces, else
    // "IDispatch error #%d" (0x80040201..0x8004FFFF), else "Unknown error 0x%0lX".
    const char* ErrorMessage() const;
    _bstr_t Description() const;
    _bstr_t Source() const;
    GUID GUID_() const;

    static HRESULT WCodeToHRESULT(WORD code) noexcept
    {
        return code >= 0xFE00 ? (HRESULT)0x8004FE00 : (HRESULT)(0x80040200u + code);
    }

private:
    HRESULT hr_;
    IErrorInfo* info_;
    mutable std::string message_;
};

// Throws _com_error(hr) / with the thread's error object when `object`
// supports error info for riid (the client wrappers' check).
[[noreturn]] void _com_issue_error(HRESULT hr);
[[noreturn]] void _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID riid);

namespace com {
// The system-style text of an HRESULT, empty when this layer has none.
const char* hresult_text(HRESULT hr);
// Throws _com_error for a failure, as the client wrappers do.
inline HRESULT check(HRESULT hr, IUnknown* object = nullptr, REFIID riid = GUID_NULL)
{
    if (FAILED(hr)) {
        if (object)
            _com_issue_errorex(hr, object, riid);
        _com_issue_error(hr);
    }
    return hr;
}
} // namespace com
