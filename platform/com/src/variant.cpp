// VARIANT handling for the automation types used here.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "com/comerror.h"
#include "com/unknown.h"

void VariantInit(VARIANT* v)
{
    if (!v)
        return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v)
        return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_DISPATCH:
            if (v->pdispVal)
                v->pdispVal->Release();
            break;
        case VT_UNKNOWN:
            if (v->punkVal)
                v->punkVal->Release();
            break;
        default:
            break;
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (dest == src)
        return S_OK;
    VARIANT tmp = *src;
    if (!(src->vt & VT_BYREF)) {
        switch (src->vt) {
        case VT_BSTR:
            if (src->bstrVal) {
                tmp.bstrVal =
                    SysAllocStringByteLen(reinterpret_cast<const char*>(src->bstrVal), SysStringByteLen(src->bstrVal));
                if (!tmp.bstrVal)
                    return E_OUTOFMEMORY;
            }
            break;
        case VT_DISPATCH:
            if (src->pdispVal)
                src->pdispVal->AddRef();
            break;
        case VT_UNKNOWN:
            if (src->punkVal)
                src->punkVal->AddRef();
            break;
        default:
            break;
        }
    }
    VariantClear(dest);
    *dest = tmp;
    return S_OK;
}

namespace {

bool as_int64(const VARIANT& v, int64_t& out)
{
    switch (v.vt) {
    case VT_EMPTY:
        out = 0;
        return true;
    case VT_I1:
        out = v.cVal;
        return true;
    case VT_UI1:
        out = v.bVal;
        return true;
    case VT_I2:
        out = v.iVal;
        return true;
    case VT_UI2:
        out = v.uiVal;
        return true;
    case VT_I4:
        out = v.lVal;
        return true;
    case VT_UI4:
        out = v.ulVal;
        return true;
    case VT_INT:
        out = v.intVal;
        return true;
    case VT_UINT:
        out = v.uintVal;
        return true;
    case VT_I8:
        out = v.llVal;
        return true;
    case VT_BOOL:
        out = v.boolVal ? -1 : 0;
        return true;
    case VT_ERROR:
        out = v.scode;
        return true;
    case VT_R4:
        out = static_cast<int64_t>(v.fltVal + (v.fltVal < 0 ? -0.5f : 0.5f));
        return true;
    case VT_R8:
        out = static_cast<int64_t>(v.dblVal + (v.dblVal < 0 ? -0.5 : 0.5));
        return true;
    case VT_BSTR: {
        std::string s = com::bstr_to_utf8(v.bstrVal);
        if (s.empty())
            return false;
        char* end = nullptr;
        errno = 0;
        long long n = std::strtoll(s.c_str(), &end, 10);
        if (errno || *end)
            return false;
        out = n;
        return true;
    }
    default:
        return false;
    }
}

} // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD, VARTYPE vt)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (src->vt == vt)
        return VariantCopy(dest, src);
    VARIANT out;
    VariantInit(&out);
    out.vt = vt;
    int64_t n = 0;
    switch (vt) {
    case VT_I4:
    case VT_INT:
        if (!as_int64(*src, n))
            return DISP_E_TYPEMISMATCH;
        if (n < INT32_MIN || n > INT32_MAX)
            return DISP_E_OVERFLOW;
        out.lVal = static_cast<LONG>(n);
        break;
    case VT_I2:
        if (!as_int64(*src, n))
            return DISP_E_TYPEMISMATCH;
        if (n < INT16_MIN || n > INT16_MAX)
            return DISP_E_OVERFLOW;
        out.iVal = static_cast<SHORT>(n);
        break;
    case VT_BOOL:
        if (!as_int64(*src, n))
            return DISP_E_TYPEMISMATCH;
        out.boolVal = n ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VT_R8:
        if (src->vt == VT_R4)
            out.dblVal = src->fltVal;
        else if (as_int64(*src, n))
            out.dblVal = static_cast<double>(n);
        else
            return DISP_E_TYPEMISMATCH;
        break;
    case VT_BSTR: {
        std::string s;
        if (src->vt == VT_R8)
            s = std::to_string(src->dblVal);
        else if (src->vt == VT_BOOL)
            s = src->boolVal ? "True" : "False";
        else if (as_int64(*src, n))
            s = std::to_string(n);
        else
            return DISP_E_TYPEMISMATCH;
        out.bstrVal = com::bstr_from_utf8(s);
        if (!out.bstrVal)
            return E_OUTOFMEMORY;
        break;
    }
    case VT_DISPATCH:
        if (src->vt == VT_EMPTY) {
            out.pdispVal = nullptr;
        } else if (src->vt == VT_UNKNOWN) {
            if (!src->punkVal) {
                out.pdispVal = nullptr;
            } else if (FAILED(src->punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out.pdispVal)))) {
                return DISP_E_TYPEMISMATCH;
            }
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        break;
    case VT_UNKNOWN:
        if (src->vt == VT_DISPATCH) {
            out.punkVal = src->pdispVal;
            if (out.punkVal)
                out.punkVal->AddRef();
        } else if (src->vt == VT_EMPTY) {
            out.punkVal = nullptr;
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        break;
    default:
        return DISP_E_BADVARTYPE;
    }
    VariantClear(dest);
    *dest = out;
    return S_OK;
}

// ---- _variant_t ------------------------------------------------------------------

_variant_t::_variant_t(const VARIANT& src)
{
    VariantInit(this);
    com::check(VariantCopy(this, &src));
}

_variant_t::_variant_t(const _variant_t& src) : _variant_t(static_cast<const VARIANT&>(src)) {}

_variant_t::_variant_t(_variant_t&& src) noexcept
{
    std::memcpy(static_cast<VARIANT*>(this), static_cast<VARIANT*>(&src), sizeof(VARIANT));
    VariantInit(&src);
}

_variant_t::_variant_t(VARIANT& src, bool copy)
{
    VariantInit(this);
    if (copy) {
        com::check(VariantCopy(this, &src));
    } else {
        std::memcpy(static_cast<VARIANT*>(this), &src, sizeof(VARIANT));
        VariantInit(&src);
    }
}

_variant_t::_variant_t(long value, VARTYPE type)
{
    VariantInit(this);
    if (type == VT_BOOL) {
        vt = VT_BOOL;
        boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        vt = VT_I4;
        lVal = static_cast<LONG>(value);
    }
}

_variant_t::_variant_t(double value)
{
    VariantInit(this);
    vt = VT_R8;
    dblVal = value;
}

_variant_t::_variant_t(bool value)
{
    VariantInit(this);
    vt = VT_BOOL;
    boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

_variant_t::_variant_t(const char* text)
{
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = com::bstr_from_utf8(text ? text : "");
    if (!bstrVal)
        _com_issue_error(E_OUTOFMEMORY);
}

_variant_t::_variant_t(const OLECHAR* text)
{
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = SysAllocString(text ? text : u"");
    if (!bstrVal)
        _com_issue_error(E_OUTOFMEMORY);
}

_variant_t::_variant_t(const _bstr_t& text)
{
    VariantInit(this);
    vt = VT_BSTR;
    bstrVal = text.copy();
}

_variant_t::_variant_t(IDispatch* object, bool add_ref)
{
    VariantInit(this);
    vt = VT_DISPATCH;
    pdispVal = object;
    if (object && add_ref)
        object->AddRef();
}

_variant_t::_variant_t(IUnknown* object, bool add_ref)
{
    VariantInit(this);
    vt = VT_UNKNOWN;
    punkVal = object;
    if (object && add_ref)
        object->AddRef();
}

_variant_t& _variant_t::operator=(const _variant_t& src)
{
    com::check(VariantCopy(this, &src));
    return *this;
}

_variant_t& _variant_t::operator=(_variant_t&& src) noexcept
{
    if (this != &src) {
        VariantClear(this);
        std::memcpy(static_cast<VARIANT*>(this), static_cast<VARIANT*>(&src), sizeof(VARIANT));
        VariantInit(&src);
    }
    return *this;
}

_variant_t::operator long() const
{
    VARIANT tmp;
    VariantInit(&tmp);
    com::check(VariantChangeType(&tmp, this, 0, VT_I4));
    return tmp.lVal;
}

_variant_t::operator bool() const
{
    VARIANT tmp;
    VariantInit(&tmp);
    com::check(VariantChangeType(&tmp, this, 0, VT_BOOL));
    return tmp.boolVal != VARIANT_FALSE;
}

_variant_t::operator _bstr_t() const
{
    VARIANT tmp;
    VariantInit(&tmp);
    com::check(VariantChangeType(&tmp, this, 0, VT_BSTR));
    return _bstr_t(tmp.bstrVal, false);
}

_variant_t::operator IDispatch*() const
{
    VARIANT tmp;
    VariantInit(&tmp);
    com::check(VariantChangeType(&tmp, this, 0, VT_DISPATCH));
    return tmp.pdispVal;
}

VARIANT _variant_t::Detach()
{
    VARIANT v;
    std::memcpy(&v, static_cast<VARIANT*>(this), sizeof v);
    VariantInit(this);
    return v;
}
