// Cversion: one version record of the firmware folder (or none) and the
// database that names it.
#pragma once

#include "server.h"

namespace flashkit {

// Answered only by version objects of this server, so a method can tell its
// own version objects from any other IDispatch.
VX_DEFINE_GUID(IID_Cversion_self, "{B0B7751F-169F-4C02-BF4A-3AC8F7DE57DF}");

class Cversion : public CComObjectRootEx<CComSingleThreadModel>,
                 public CComCoClass<Cversion, &CLSID_version>,
                 public IDispatchImpl<Iversion, &IID_Iversion, &LIBID_FLASHKITLib>,
                 public ISupportErrorInfoImpl<&IID_Iversion> {
public:
    DECLARE_REGISTRY_DATA("version Class", "Flashkit.version.1", "Flashkit.version", true, true, "Apartment",
                          LIBID_FLASHKITLib, "1.0")
    BEGIN_COM_MAP(Cversion)
    COM_INTERFACE_ENTRY(Iversion)
    COM_INTERFACE_ENTRY2(IDispatch, Iversion)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY_IID(IID_Cversion_self, Iversion)
    END_COM_MAP()

    HRESULT get_name(BSTR* pVal) override;
    HRESULT get_path(BSTR* pVal) override;
    HRESULT get_code_cs(long* pVal) override { return word(pVal, update::checksums_t::code_cs); }
    HRESULT get_fpga_cs(long* pVal) override { return word(pVal, update::checksums_t::fpga_cs); }
    HRESULT get_fpga2_cs(long* pVal) override { return word(pVal, update::checksums_t::fpga2_cs); }
    HRESULT get_boot_cs(long* pVal) override { return word(pVal, update::checksums_t::boot_cs); }
    HRESULT get_valid(long* pVal) override;
    HRESULT get_exists(long* pVal) override;
    HRESULT get_is_compatible(IDispatch* ver, long* pVal) override;
    HRESULT get_config_cs(long* pVal) override { return word(pVal, update::checksums_t::config_cs); }
    HRESULT get_type(long* pVal) override { return word(pVal, update::checksums_t::device_type); }
    HRESULT get_code2_cs(long* pVal) override { return word(pVal, update::checksums_t::code2_cs); }

    update::version_ptr record;
    database_ptr database;

private:
    // A word of the record's checksums; no output without a record.
    HRESULT word(long* out, int index);
    HRESULT text(BSTR* out, bool path);
};

} // namespace flashkit
