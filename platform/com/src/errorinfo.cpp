// Error objects and the per-thread current error.
#include <atomic>
#include <cstdio>

#include "com/comerror.h"
#include "com/errorinfo.h"

namespace {

class error_object final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo)
            *out = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo)
            *out = static_cast<ICreateErrorInfo*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT GetGUID(GUID* guid) override
    {
        if (!guid)
            return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* s) override { return get(source_, s); }
    HRESULT GetDescription(BSTR* s) override { return get(description_, s); }
    HRESULT GetHelpFile(BSTR* s) override { return get(help_file_, s); }
    HRESULT GetHelpContext(DWORD* c) override
    {
        if (!c)
            return E_INVALIDARG;
        *c = help_context_;
        return S_OK;
    }
    HRESULT SetGUID(REFGUID guid) override
    {
        guid_ = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR s) override { return set(source_, s); }
    HRESULT SetDescription(LPOLESTR s) override { return set(description_, s); }
    HRESULT SetHelpFile(LPOLESTR s) override { return set(help_file_, s); }
    HRESULT SetHelpContext(DWORD c) override
    {
        help_context_ = c;
        return S_OK;
    }

private:
    static HRESULT get(const std::u16string& v, BSTR* out)
    {
        if (!out)
            return E_INVALIDARG;
        *out = SysAllocStringLen(v.data(), static_cast<UINT>(v.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT set(std::u16string& v, LPOLESTR s)
    {
        v = s ? std::u16string(s) : std::u16string();
        return S_OK;
    }
    std::atomic<ULONG> refs_{1};
    GUID guid_ = GUID_NULL;
    std::u16string source_, description_, help_file_;
    DWORD help_context_ = 0;
};

// Released at thread exit so no error object outlives its thread.
struct thread_error {
    IErrorInfo* info = nullptr;
    ~thread_error()
    {
        if (info)
            info->Release();
    }
};
thread_local thread_error current;

} // namespace

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info)
{
    if (reserved != 0)
        return E_INVALIDARG;
    if (info)
        info->AddRef();
    IErrorInfo* old = current.info;
    current.info = info;
    if (old)
        old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info)
{
    if (reserved != 0 || !info)
        return E_INVALIDARG;
    *info = current.info;
    current.info = nullptr;
    return *info ? S_OK : S_FALSE;
}

HRESULT CreateErrorInfo(ICreateErrorInfo** info)
{
    if (!info)
        return E_INVALIDARG;
    *info = new (std::nothrow) error_object;
    return *info ? S_OK : E_OUTOFMEMORY;
}

namespace com {

HRESULT set_error_info(REFGUID guid, const std::u16string& source, const std::u16string& description)
{
    ICreateErrorInfo* create = nullptr;
    HRESULT hr = CreateErrorInfo(&create);
    if (FAILED(hr))
        return hr;
    std::u16string s = source, d = description;
    create->SetGUID(guid);
    create->SetSource(s.data());
    create->SetDescription(d.data());
    IErrorInfo* info = nullptr;
    hr = create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    create->Release();
    if (FAILED(hr))
        return hr;
    SetErrorInfo(0, info);
    info->Release();
    return S_OK;
}

const char* hresult_text(HRESULT hr)
{
    switch (static_cast<uint32_t>(hr)) {
    case 0x00000000u:
        return "The operation completed successfully.";
    case 0x00000001u:
        return "Incorrect function.";
    case 0x80004001u:
        return "Not implemented";
    case 0x80004002u:
        return "No such interface supported";
    case 0x80004003u:
        return "Invalid pointer";
    case 0x80004004u:
        return "Operation aborted";
    case 0x80004005u:
        return "Unspecified error";
    case 0x8000FFFFu:
        return "Catastrophic failure";
    case 0x80070005u:
        return "General access denied error";
    case 0x80070006u:
        return "Invalid handle";
    case 0x8007000Eu:
        return "Ran out of memory";
    case 0x80070057u:
        return "One or more arguments are invalid";
    case 0x80040110u:
        return "Class does not support aggregation (or class object is remote)";
    case 0x80040111u:
        return "ClassFactory cannot supply requested class";
    case 0x80040154u:
        return "Class not registered";
    case 0x800401F0u:
        return "CoInitialize has not been called.";
    case 0x800401F3u:
        return "Invalid class string";
    case 0x800401F8u:
        return "DLL for class not found";
    case 0x800401F9u:
        return "Error in the DLL";
    case 0x80080005u:
        return "Server execution failed";
    case 0x80010105u:
        return "The server threw an exception.";
    case 0x80010106u:
        return "Cannot change thread mode after it is set.";
    case 0x80010108u:
        return "The object invoked has disconnected from its clients.";
    case 0x800706BAu:
        return "The RPC server is unavailable.";
    case 0x800706BEu:
        return "The remote procedure call failed.";
    case 0x80020003u:
        return "Member not found.";
    case 0x80020005u:
        return "Type mismatch.";
    case 0x80020006u:
        return "Unknown name.";
    case 0x80020009u:
        return "Exception occurred.";
    case 0x8002000Bu:
        return "Invalid index.";
    case 0x8002000Eu:
        return "Invalid number of parameters.";
    default:
        return "";
    }
}

} // namespace com

// ---- _com_error ------------------------------------------------------------------

_com_error::_com_error(HRESULT hr, IErrorInfo* info, bool add_ref) noexcept : hr_(hr), info_(info)
{
    if (info_ && add_ref)
        info_->AddRef();
}

_com_error::_com_error(const _com_error& other) noexcept : hr_(other.hr_), info_(other.info_)
{
    if (info_)
        info_->AddRef();
}

_com_error& _com_error::operator=(const _com_error& other) noexcept
{
    if (this != &other) {
        if (other.info_)
            other.info_->AddRef();
        if (info_)
            info_->Release();
        hr_ = other.hr_;
        info_ = other.info_;
        message_.clear();
    }
    return *this;
}

_com_error::~_com_error()
{
    if (info_)
        info_->Release();
}

WORD _com_error::WCode() const noexcept
{
    uint32_t h = static_cast<uint32_t>(hr_);
    return (h >= 0x80040200u && h <= 0x8004FFFFu) ? static_cast<WORD>(h - 0x80040200u) : 0;
}

IErrorInfo* _com_error::ErrorInfo() const noexcept
{
    if (info_)
        info_->AddRef();
    return info_;
}

const char* _com_error::ErrorMessage() const
{
    if (message_.empty()) {
        const char* t = com::hresult_text(hr_);
        char buf[64];
        if (*t) {
            message_ = t;
        } else if (WCode()) {
            std::snprintf(buf, sizeof buf, "IDispatch error #%d", WCode());
            message_ = buf;
        } else {
            std::snprintf(buf, sizeof buf, "Unknown error 0x%0lX",
                          static_cast<unsigned long>(static_cast<uint32_t>(hr_)));
            message_ = buf;
        }
    }
    return message_.c_str();
}

_bstr_t _com_error::Description() const
{
    BSTR b = nullptr;
    if (info_)
        info_->GetDescription(&b);
    return _bstr_t(b, false);
}

_bstr_t _com_error::Source() const
{
    BSTR b = nullptr;
    if (info_)
        info_->GetSource(&b);
    return _bstr_t(b, false);
}

GUID _com_error::GUID_() const
{
    GUID g = GUID_NULL;
    if (info_)
        info_->GetGUID(&g);
    return g;
}

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

void _com_issue_errorex(HRESULT hr, IUnknown* object, REFIID riid)
{
    IErrorInfo* info = nullptr;
    ISupportErrorInfo* support = nullptr;
    if (object && SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)))) {
        if (support->InterfaceSupportsErrorInfo(riid) == S_OK)
            GetErrorInfo(0, &info);
        support->Release();
    }
    throw _com_error(hr, info, false);
}
