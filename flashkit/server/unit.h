// Cunit: a device found by an upload: its family unit (none after a failed
// upload), the version it runs, the custom version and text of a
// configuration that belongs to another version, and the database.
#pragma once

#include "server.h"

namespace flashkit {

class Cunit : public CComObjectRootEx<CComSingleThreadModel>,
              public CComCoClass<Cunit, &CLSID_unit>,
              public IDispatchImpl<Iunit, &IID_Iunit, &LIBID_FLASHKITLib>,
              public ISupportErrorInfoImpl<&IID_Iunit> {
public:
    DECLARE_REGISTRY_DATA("unit Class", "Flashkit.unit.1", "Flashkit.unit", true, true, "Apartment", LIBID_FLASHKITLib,
                          "1.0")
    BEGIN_COM_MAP(Cunit)
    COM_INTERFACE_ENTRY(Iunit)
    COM_INTERFACE_ENTRY2(IDispatch, Iunit)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    HRESULT get_ver(IDispatch** pVal) override;
    HRESULT check_update(IDispatch* new_ver, IDispatch** check) override;
    HRESULT get_mac(BSTR* pVal) override;
    HRESULT put_mac(BSTR newVal) override;
    HRESULT download(IDispatch* ver, IDispatch** job) override;
    HRESULT get_type(long* pVal) override;
    HRESULT download2(IDispatch* ver, long boot, long runtime, IDispatch** job) override;
    HRESULT get_VCXO_center(long* pVal) override;
    HRESULT put_VCXO_center(long newVal) override;
    HRESULT get_allowed_channels(long* pVal) override;
    HRESULT put_allowed_channels(long newVal) override;
    HRESULT get_ssi_format(long* pVal) override;
    HRESULT put_ssi_format(long newVal) override;
    HRESULT download3(IDispatch* ver, long boot, long runtime, long config, IDispatch** job) override;
    HRESULT get_custom(BSTR* pVal) override;
    HRESULT get_custom_ver(IDispatch** pVal) override;

    update::upload_result_t found;

private:
    HRESULT version_out(const update::version_ptr& record, IDispatch** out);
    HRESULT value_out(long* out, int32_t update::config_t::*value);
    void value_in(long value, int32_t update::config_t::*field, uint8_t update::config_t::*flag);
};

// Exactly twelve hexadecimal digits; false (nothing changed) otherwise.
bool parse_mac(const std::string& text, qm::mac_address_t& mac);

} // namespace flashkit
