// Cupdate_check: the flag bytes of a unit's comparison with a version.
#pragma once

#include "server.h"

namespace flashkit {

class Cupdate_check : public CComObjectRootEx<CComSingleThreadModel>,
                      public CComCoClass<Cupdate_check, &CLSID_update_check>,
                      public IDispatchImpl<Iupdate_check, &IID_Iupdate_check, &LIBID_FLASHKITLib>,
                      public ISupportErrorInfoImpl<&IID_Iupdate_check> {
public:
    DECLARE_REGISTRY_DATA("update_check Class", "Flashkit.update_check.1", "Flashkit.update_check", true, true,
                          "Apartment", LIBID_FLASHKITLib, "1.0")
    BEGIN_COM_MAP(Cupdate_check)
    COM_INTERFACE_ENTRY(Iupdate_check)
    COM_INTERFACE_ENTRY2(IDispatch, Iupdate_check)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    // Bytes 3 and 5 stay inside the families.
    HRESULT get_boot_update(long* pVal) override { return flag(pVal, 7); }
    HRESULT get_code_update(long* pVal) override { return flag(pVal, 0); }
    HRESULT get_fpga_update(long* pVal) override { return flag(pVal, 4); }
    HRESULT get_config_update(long* pVal) override { return flag(pVal, 6); }
    HRESULT get_boot_differs(long* pVal) override { return flag(pVal, 2); }
    HRESULT get_code2_update(long* pVal) override { return flag(pVal, 1); }

    uint8_t flags[8] = {};

private:
    HRESULT flag(long* out, int index)
    {
        if (!out)
            return E_POINTER;
        *out = flags[index];
        return S_OK;
    }
};

} // namespace flashkit
