// Interface tables, vtable slot calls and the table-driven IDispatch.
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <utility>
#include <algorithm>
#include <cctype>

#include "com/errorinfo.h"
#include "internal.h"

#if !defined(__x86_64__) && !defined(__aarch64__)
#error "vtable slot calls assume an ABI passing the first six integer/pointer arguments in registers"
#endif

namespace com {

namespace {

std::shared_mutex& tables_mutex()
{
    static auto* m = new std::shared_mutex; // never destroyed, as the tables
    return *m;
}
// Tables are never freed: proxies and objects keep pointers to them.
std::unordered_map<IID, std::unique_ptr<interface_table>>& tables()
{
    // Never destroyed: used by static destructors (module terms) at exit.
    static auto* t = new std::unordered_map<IID, std::unique_ptr<interface_table>>;
    return *t;
}

bool is_out(arg a) { return a >= arg::out_i4; }

} // namespace

HRESULT register_interface_table(const interface_table& table)
{
    for (const auto& m : table.members) {
        if (m.slot < 7 || m.slot >= max_slot || m.args.size() > max_args)
            return E_INVALIDARG;
    }
    std::unique_lock lock(tables_mutex());
    auto& slot = tables()[table.iid];
    if (slot)
        *slot = table; // replaced in place: pointers handed out stay valid
    else
        slot = std::make_unique<interface_table>(table);
    return S_OK;
}

const interface_table* find_interface_table(REFIID iid)
{
    std::shared_lock lock(tables_mutex());
    auto it = tables().find(iid);
    return it == tables().end() ? nullptr : it->second.get();
}

namespace detail {

using slot_fn = HRESULT (*)(void*, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);

#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
HRESULT
call_slot(void* iface, unsigned slot, const intptr_t (&a)[max_args])
{
    void** vtbl = *static_cast<void***>(iface);
    auto fn = reinterpret_cast<slot_fn>(vtbl[slot]);
    return fn(iface, a[0], a[1], a[2], a[3], a[4]);
}

const member_info* find_member(const interface_table& table, unsigned slot)
{
    for (const auto& m : table.members)
        if (m.slot == slot)
            return &m;
    return nullptr;
}

} // namespace detail

HRESULT dispatch_ids_of_names(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids)
{
    if (!names || !ids)
        return E_POINTER;
    if (count == 0)
        return S_OK;
    const interface_table* t = find_interface_table(iid);
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    std::string name = names[0] ? utf16_to_utf8(names[0]) : std::string();
    bool found = false;
    if (t) {
        for (const auto& m : t->members) {
            if (m.name.size() == name.size() &&
                std::equal(name.begin(), name.end(), m.name.begin(), [](char a, char b) {
                    return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
                })) {
                ids[0] = m.dispid;
                found = true;
                break;
            }
        }
    }
    if (!found)
        hr = DISP_E_UNKNOWNNAME;
    if (count > 1)
        hr = DISP_E_UNKNOWNNAME; // named arguments are not supported
    return hr;
}

HRESULT dispatch_invoke(void* iface, REFIID iid, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* arg_err)
{
    const interface_table* t = find_interface_table(iid);
    if (!t)
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params)
        params = &none;

    // Pick the member for the flags: a get may also be a method without
    // arguments, and a method call may be a property get (VB style).
    const member_info* member = nullptr;
    auto pick = [&](member_kind kind) {
        for (const auto& m : t->members)
            if (m.dispid == id && m.kind == kind)
                return &m;
        return static_cast<const member_info*>(nullptr);
    };
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        member = pick(member_kind::propput);
    if (!member && (flags & DISPATCH_METHOD))
        member = pick(member_kind::method);
    if (!member && (flags & DISPATCH_PROPERTYGET))
        member = pick(member_kind::propget);
    if (!member && (flags & DISPATCH_METHOD))
        member = pick(member_kind::propget);
    if (!member && (flags & DISPATCH_PROPERTYGET))
        member = pick(member_kind::method);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;

    size_t n_in = 0;
    for (arg a : member->args)
        n_in += !is_out(a);
    if (params->cNamedArgs > 0 && member->kind != member_kind::propput)
        return DISP_E_NONAMEDARGS;
    if (params->cArgs != n_in)
        return DISP_E_BADPARAMCOUNT;

    intptr_t a[max_args] = {};
    VARIANT conv[max_args];
    int64_t out_num[max_args] = {};
    double out_real[max_args] = {};
    BSTR out_bstr[max_args] = {};
    IUnknown* out_obj[max_args] = {};
    for (auto& v : conv)
        VariantInit(&v);
    size_t in_index = 0;
    HRESULT hr = S_OK;
    int retval = -1;
    for (size_t i = 0; i < member->args.size() && SUCCEEDED(hr); ++i) {
        arg k = member->args[i];
        if (is_out(k)) {
            retval = static_cast<int>(i);
            if (k == arg::out_bstr)
                a[i] = reinterpret_cast<intptr_t>(&out_bstr[i]);
            else if (k == arg::out_dispatch || k == arg::out_unknown)
                a[i] = reinterpret_cast<intptr_t>(&out_obj[i]);
            else if (k == arg::out_r8)
                a[i] = reinterpret_cast<intptr_t>(&out_real[i]);
            else
                a[i] = reinterpret_cast<intptr_t>(&out_num[i]);
            continue;
        }
        // rgvarg holds the arguments last first.
        UINT pos = params->cArgs - 1 - static_cast<UINT>(in_index++);
        VARIANT* src = &params->rgvarg[pos];
        if (src->vt == (VT_VARIANT | VT_BYREF) && src->pvarVal)
            src = src->pvarVal;
        VARTYPE want = (k == arg::in_bstr) ? VT_BSTR
            : (k == arg::in_dispatch)      ? VT_DISPATCH
            : (k == arg::in_unknown)       ? VT_UNKNOWN
                                           : VT_I4;
        hr = VariantChangeType(&conv[i], src, 0, want);
        if (FAILED(hr)) {
            if (arg_err)
                *arg_err = pos;
            hr = DISP_E_TYPEMISMATCH;
            break;
        }
        switch (k) {
        case arg::in_bstr:
            a[i] = reinterpret_cast<intptr_t>(conv[i].bstrVal);
            break;
        case arg::in_dispatch:
            a[i] = reinterpret_cast<intptr_t>(conv[i].pdispVal);
            break;
        case arg::in_unknown:
            a[i] = reinterpret_cast<intptr_t>(conv[i].punkVal);
            break;
        default:
            a[i] = conv[i].lVal;
            break;
        }
    }
    if (SUCCEEDED(hr)) {
        SetErrorInfo(0, nullptr);
        hr = detail::call_slot(iface, member->slot, a);
        if (FAILED(hr)) {
            if (excep) {
                *excep = EXCEPINFO{};
                IErrorInfo* info = nullptr;
                if (GetErrorInfo(0, &info) == S_OK) {
                    info->GetSource(&excep->bstrSource);
                    info->GetDescription(&excep->bstrDescription);
                    info->Release();
                }
                excep->scode = hr;
                hr = DISP_E_EXCEPTION;
            }
        } else if (retval >= 0 && result) {
            VariantClear(result);
            switch (member->args[retval]) {
            case arg::out_bstr:
                result->vt = VT_BSTR;
                result->bstrVal = std::exchange(out_bstr[retval], nullptr);
                break;
            case arg::out_dispatch:
                result->vt = VT_DISPATCH;
                result->pdispVal = reinterpret_cast<IDispatch*>(std::exchange(out_obj[retval], nullptr));
                break;
            case arg::out_unknown:
                result->vt = VT_UNKNOWN;
                result->punkVal = std::exchange(out_obj[retval], nullptr);
                break;
            case arg::out_long:
                result->vt = VT_I4;
                result->lVal = static_cast<LONG>(out_num[retval]);
                break;
            case arg::out_r8:
                result->vt = VT_R8;
                result->dblVal = out_real[retval];
                break;
            default:
                result->vt = VT_I4;
                result->lVal = static_cast<LONG>(static_cast<int32_t>(out_num[retval]));
                break;
            }
        }
    }
    for (auto& v : conv)
        VariantClear(&v);
    for (size_t i = 0; i < max_args; ++i) {
        SysFreeString(out_bstr[i]);
        if (out_obj[i])
            out_obj[i]->Release();
    }
    return hr;
}

} // namespace com
