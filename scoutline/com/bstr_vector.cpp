// The text list, with late-bound element access from DISPID 256 on.
#include <scoutline/com/objects.h>

#include <cstdio>

std::string scoutline::illegal_index_text(LONG index, size_t length)
{
    char text[128];
    std::snprintf(text, sizeof text, "Illegal index %i for vector with %i element(s).", static_cast<int>(index),
                  static_cast<int>(length));
    return text;
}

HRESULT Ccom_bstr_vector::get_length(LONG* length)
{
    if (!length)
        return E_POINTER;
    *length = static_cast<LONG>(items.size());
    return S_OK;
}

HRESULT Ccom_bstr_vector::at(LONG index, BSTR* text)
{
    if (!text)
        return E_POINTER;
    if (static_cast<ULONG>(index) >= items.size())
        return Error(scoutline::illegal_index_text(index, items.size()), IID_Icom_bstr_vector, DISP_E_EXCEPTION);
    *text = com::bstr_from_utf8(items[static_cast<size_t>(index)]);
    return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT Ccom_bstr_vector::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excep, UINT* arg_err)
{
    if (id < first_element)
        return IDispatchImpl::Invoke(id, riid, lcid, flags, params, result, excep, arg_err);
    const LONG index = id - first_element;
    if (static_cast<ULONG>(index) < items.size()) {
        if (!(flags & DISPATCH_PROPERTYGET) || (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
            return DISP_E_TYPEMISMATCH;
        if (result) {
            VariantClear(result);
            result->vt = VT_BSTR;
            result->bstrVal = com::bstr_from_utf8(items[static_cast<size_t>(index)]);
        }
        return S_OK;
    }
    if (excep) {
        *excep = EXCEPINFO{};
        excep->wCode = 1001;
        excep->bstrSource = com::bstr_from_utf8("Scoutline BSTR vector");
        excep->bstrDescription = com::bstr_from_utf8(scoutline::illegal_index_text(index, items.size()));
    }
    return DISP_E_EXCEPTION;
}
