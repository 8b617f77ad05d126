// Cupdater: the object the client creates. It keeps one firmware folder
// database; its TFTP properties are the one settings record of the process.
#pragma once

#include "server.h"

#include "flashkit/tftp.h"

namespace flashkit {

class Cupdater : public CComObjectRootEx<CComSingleThreadModel>,
                 public CComCoClass<Cupdater, &CLSID_updater>,
                 public IDispatchImpl<Iupdater, &IID_Iupdater, &LIBID_FLASHKITLib>,
                 public ISupportErrorInfoImpl<&IID_Iupdater> {
public:
    DECLARE_REGISTRY_DATA("updater Class", "Flashkit.updater.1", "Flashkit.updater", true, true, "Apartment",
                          LIBID_FLASHKITLib, "1.0")
    BEGIN_COM_MAP(Cupdater)
    COM_INTERFACE_ENTRY(Iupdater)
    COM_INTERFACE_ENTRY2(IDispatch, Iupdater)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease() { database.reset(); }

    HRESULT upload(BSTR ip, IDispatch** job) override;
    HRESULT find_all(IDispatch** versions) override;
    HRESULT find_prefered(IDispatch* ver, IDispatch** version) override;
    HRESULT find_compatible(IDispatch* ver, IDispatch** versions) override;
    HRESULT get_timeout(long* pVal) override;
    HRESULT put_timeout(long newVal) override;
    HRESULT get_retries(long* pVal) override;
    HRESULT put_retries(long newVal) override;
    HRESULT get_holdoff(long* pVal) override;
    HRESULT put_holdoff(long newVal) override;
    HRESULT put_debug(long newVal) override;
    HRESULT init(BSTR path) override;
    HRESULT get_write_timeout(long* pVal) override;
    HRESULT put_write_timeout(long newVal) override;
    HRESULT find_sametype(long type, int hwRev, IDispatch** versions) override;
    HRESULT find_sameHWtype(IDispatch* ver, IDispatch** versions) override;

private:
    // A TFTP setting: refused (with its name) when negative.
    HRESULT setting(const char* name, long value, bool (tftp::*set)(int32_t));

    database_ptr database;
};

} // namespace flashkit
