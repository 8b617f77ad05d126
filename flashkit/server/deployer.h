// Cdeployer: the DSP operations, created by the client ("Flashkit.deployer").
// Each method starts a job on the device and hands back its job object; the
// class keeps no state of its own.
#pragma once

#include "server.h"

namespace flashkit {

class Cdeployer : public CComObjectRootEx<CComSingleThreadModel>,
                  public CComCoClass<Cdeployer, &CLSID_deployer>,
                  public IDispatchImpl<Ideployer, &IID_Ideployer, &LIBID_FLASHKITLib>,
                  public ISupportErrorInfoImpl<&IID_Ideployer> {
public:
    DECLARE_REGISTRY_DATA("deployer Class", "Flashkit.deployer.1", "Flashkit.deployer", true, true, "Apartment",
                          LIBID_FLASHKITLib, "1.0")
    BEGIN_COM_MAP(Cdeployer)
    COM_INTERFACE_ENTRY(Ideployer)
    COM_INTERFACE_ENTRY2(IDispatch, Ideployer)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    HRESULT deploy(BSTR ip, BSTR filename, IDispatch** pVal) override;
    HRESULT download(BSTR ip, BSTR filename, IDispatch** pVal) override;
    HRESULT save_dsp_args(BSTR ip, IDispatch** pVal) override;
};

} // namespace flashkit
