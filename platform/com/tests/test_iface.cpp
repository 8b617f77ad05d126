#include "test_iface.h"

#include <unistd.h>

#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

std::atomic<int> g_test_live{0};
std::atomic<int> g_test_invokes{0};

namespace {
std::mutex live_mutex;
std::set<ITestObj*> live; // identity check for is_mine
} // namespace

void register_test_tables()
{
    using com::arg;
    using com::member_kind;
    com::register_interface_table(
        com::describe<ITestObj>("ITestObj",
                                {
                                    {7, 1, "number", member_kind::propget, {arg::out_i4}},
                                    {8, 1, "number", member_kind::propput, {arg::in_i4}},
                                    {9, 2, "name", member_kind::propget, {arg::out_bstr}},
                                    {10, 2, "name", member_kind::propput, {arg::in_bstr}},
                                    {11, 3, "echo", member_kind::method, {arg::in_bstr, arg::out_bstr}},
                                    {12, 4, "make_child", member_kind::method, {arg::out_dispatch}},
                                    {13, 5, "self", member_kind::propget, {arg::out_dispatch}},
                                    {14, 6, "is_mine", member_kind::method, {arg::in_dispatch, arg::out_i4}},
                                    {15, 7, "fail", member_kind::method, {arg::in_bstr}},
                                    {16, 8, "wide", member_kind::propget, {arg::out_long}},
                                    {17, 9, "add", member_kind::method, {arg::in_i4, arg::in_i4, arg::out_i4}},
                                    {18, 10, "throw_cpp", member_kind::method, {}},
                                    {19, 11, "pid", member_kind::propget, {arg::out_i4}},
                                    {20, 12, "quarter", member_kind::propget, {arg::out_r8}},
                                }));
}

template <class D> HRESULT TestObjImpl<D>::FinalConstruct()
{
    ++g_test_live;
    std::lock_guard<std::mutex> lock(live_mutex);
    live.insert(this);
    return S_OK;
}

template <class D> void TestObjImpl<D>::FinalRelease()
{
    --g_test_live;
    std::lock_guard<std::mutex> lock(live_mutex);
    live.erase(this);
}

template <class D> HRESULT TestObjImpl<D>::get_number(LONG* out)
{
    if (!out)
        return E_POINTER;
    *out = number_;
    return S_OK;
}
template <class D> HRESULT TestObjImpl<D>::put_number(LONG value)
{
    number_ = value;
    return S_OK;
}
template <class D> HRESULT TestObjImpl<D>::get_name(BSTR* out) { return name_.CopyTo(out); }
template <class D> HRESULT TestObjImpl<D>::put_name(BSTR value)
{
    name_.Attach(value ? SysAllocStringByteLen(reinterpret_cast<const char*>(value), SysStringByteLen(value))
                       : nullptr);
    return S_OK;
}
template <class D> HRESULT TestObjImpl<D>::echo(BSTR in, BSTR* out)
{
    if (!out)
        return E_POINTER;
    std::u16string s(com::bstr_view(in));
    s += u"!";
    *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return S_OK;
}
template <class D> HRESULT TestObjImpl<D>::make_child(IDispatch** out)
{
    CComObject<CTestObj>* child = nullptr;
    HRESULT hr = CComObject<CTestObj>::CreateInstance(&child);
    if (FAILED(hr))
        return hr;
    child->put_number(number_ + 1);
    return child->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
}
template <class D> HRESULT TestObjImpl<D>::get_self(IDispatch** out)
{
    return static_cast<ITestObj*>(this)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
}
template <class D> HRESULT TestObjImpl<D>::is_mine(IDispatch* other, LONG* out)
{
    *out = 0;
    if (!other)
        return S_OK;
    ITestObj* t = nullptr;
    if (FAILED(other->QueryInterface(IID_ITestObj, reinterpret_cast<void**>(&t))))
        return S_OK;
    {
        std::lock_guard<std::mutex> lock(live_mutex);
        if (live.count(t))
            *out = t == static_cast<ITestObj*>(this) ? 2 : 1;
    }
    t->Release();
    return S_OK;
}
template <class D> HRESULT TestObjImpl<D>::fail(BSTR text) { return D::Error(com::bstr_to_utf8(text).c_str()); }
template <class D> HRESULT TestObjImpl<D>::get_wide(long* out)
{
    *out = -1234567;
    return S_OK;
}
template <class D> HRESULT TestObjImpl<D>::add(LONG a, LONG b, LONG* sum)
{
    *sum = static_cast<LONG>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); // wraps, as the caller's may
    return S_OK;
}
template <class D> HRESULT TestObjImpl<D>::throw_cpp() { throw std::runtime_error("thrown inside a call"); }
template <class D> HRESULT TestObjImpl<D>::get_quarter(double* out)
{
    *out = number_ / 4.0;
    return S_OK;
}
template <class D> HRESULT TestObjImpl<D>::get_pid(LONG* out)
{
    *out = static_cast<LONG>(getpid());
    return S_OK;
}

namespace {

std::string describe_variant(const VARIANT& v)
{
    switch (v.vt) {
    case VT_EMPTY:
        return "EMPTY";
    case VT_I4:
        return "I4:" + std::to_string(v.lVal);
    case VT_BOOL:
        return "BOOL:" + std::to_string(v.boolVal);
    case VT_BSTR:
        return v.bstrVal ? "BSTR:" + com::bstr_to_utf8(v.bstrVal) : "BSTR:null";
    default:
        return "vt" + std::to_string(v.vt);
    }
}

HRESULT deferred_fill(EXCEPINFO* ex)
{
    ex->bstrSource = SysAllocString(u"VxTest late");
    ex->bstrDescription = SysAllocString(u"filled in later");
    ex->scode = E_FAIL;
    ex->pfnDeferredFillIn = nullptr;
    return S_OK;
}

} // namespace

template <class D>
HRESULT TestObjImpl<D>::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* excep, UINT* arg_err)
{
    ++g_test_invokes;
    if (id < late_describe)
        return IDispatchImpl<ITestObj, &IID_ITestObj>::Invoke(id, riid, lcid, flags, params, result, excep, arg_err);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params)
        params = &none;
    auto set_text = [&](const std::string& text) {
        if (!result)
            return;
        VariantClear(result);
        result->vt = VT_BSTR;
        result->bstrVal = com::bstr_from_utf8(text);
    };
    switch (id) {
    case late_describe: {
        std::string text = "flags=" + std::to_string(flags) + " lcid=" + std::to_string(lcid) +
            " result=" + (result ? "1" : "0") + " excep=" + (excep ? "1" : "0") + " args=";
        for (UINT i = 0; i < params->cArgs; ++i)
            text += (i ? "," : "") + describe_variant(params->rgvarg[i]);
        text += " named=";
        for (UINT i = 0; i < params->cNamedArgs; ++i)
            text += (i ? "," : "") + std::to_string(params->rgdispidNamedArgs[i]);
        set_text(text);
        return S_OK;
    }
    case late_echo:
        if (params->cArgs != 1)
            return DISP_E_BADPARAMCOUNT;
        return result ? VariantCopy(result, &params->rgvarg[0]) : S_OK;
    case late_bad_arg:
        if (arg_err && params->cArgs)
            *arg_err = params->cArgs - 1;
        return DISP_E_TYPEMISMATCH;
    case late_raise:
        if (excep) {
            *excep = EXCEPINFO{};
            excep->wCode = 1001;
            excep->bstrSource = SysAllocString(u"VxTest late");
            if (params->cArgs == 1 && params->rgvarg[0].vt == VT_BSTR)
                excep->bstrDescription =
                    SysAllocStringLen(params->rgvarg[0].bstrVal, SysStringLen(params->rgvarg[0].bstrVal));
        }
        return DISP_E_EXCEPTION;
    case late_deferred:
        if (excep) {
            *excep = EXCEPINFO{};
            excep->wCode = 1002;
            excep->pfnDeferredFillIn = &deferred_fill;
        }
        return DISP_E_EXCEPTION;
    case late_object:
        if (result) {
            VariantClear(result);
            result->vt = VT_DISPATCH;
            return get_self(&result->pdispVal);
        }
        return S_OK;
    case late_long_text:
        if (params->cArgs != 1 || params->rgvarg[0].vt != VT_I4)
            return DISP_E_TYPEMISMATCH;
        if (params->rgvarg[0].lVal < 0 || params->rgvarg[0].lVal > 1000000)
            return E_INVALIDARG;
        set_text(std::string(static_cast<size_t>(params->rgvarg[0].lVal), 'x'));
        return S_OK;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

template class TestObjImpl<CTestObj>;
template class TestObjImpl<CTestSingleton>;
