// ATL-shaped module, QueryInterface over the COM map, and error reporting.
#include "atl/atlcom.h"

HRESULT CComObjectRootBase::InternalQueryInterface(void* object, const _ATL_INTMAP_ENTRY* entries, REFIID riid,
                                                   void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!entries || !entries[0].piid)
        return E_NOINTERFACE;
    IUnknown* found = nullptr;
    if (riid == IID_IUnknown) {
        found = entries[0].cast(object);
    } else {
        for (const _ATL_INTMAP_ENTRY* e = entries; e->piid; ++e) {
            if (*e->piid == riid) {
                found = e->cast(object);
                break;
            }
        }
    }
    if (!found)
        return E_NOINTERFACE;
    found->AddRef();
    *out = found;
    return S_OK;
}

static HRESULT report(REFCLSID clsid, const std::u16string& description, REFIID iid, HRESULT hr)
{
    std::string progid = com::progid_of_class(clsid);
    if (progid.empty())
        progid = com::guid_to_string(clsid);
    com::set_error_info(iid, com::utf8_to_utf16(progid), description);
    return hr == 0 ? DISP_E_EXCEPTION : hr;
}

HRESULT AtlReportError(REFCLSID clsid, const char* description, REFIID iid, HRESULT hr)
{
    return report(clsid, com::utf8_to_utf16(description ? description : ""), iid, hr);
}

HRESULT AtlReportError(REFCLSID clsid, const OLECHAR* description, REFIID iid, HRESULT hr)
{
    return report(clsid, description ? std::u16string(description) : std::u16string(), iid, hr);
}

namespace com {

HRESULT register_classes(_ATL_OBJMAP_ENTRY* map, server_kind kind, const std::string& path)
{
    for (_ATL_OBJMAP_ENTRY* e = map; e && e->pclsid; ++e) {
        const class_registration* reg = e->get_registration ? e->get_registration() : nullptr;
        if (!reg)
            continue;
        class_registration r = *reg;
        r.clsid = *e->pclsid;
        HRESULT hr = register_class(r, kind, path);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT unregister_classes(_ATL_OBJMAP_ENTRY* map)
{
    HRESULT result = S_OK;
    for (_ATL_OBJMAP_ENTRY* e = map; e && e->pclsid; ++e) {
        const class_registration* reg = e->get_registration ? e->get_registration() : nullptr;
        if (!reg)
            continue;
        class_registration r = *reg;
        r.clsid = *e->pclsid;
        HRESULT hr = unregister_class(r);
        if (FAILED(hr))
            result = hr;
    }
    return result;
}

} // namespace com
