// Cjob: the client's view of one job. It owns the job: its final release
// deletes it, which waits for the job's operation to end.
#pragma once

#include "server.h"

namespace flashkit {

class Cjob : public CComObjectRootEx<CComSingleThreadModel>,
             public CComCoClass<Cjob, &CLSID_job>,
             public IDispatchImpl<Ijob, &IID_Ijob, &LIBID_FLASHKITLib>,
             public ISupportErrorInfoImpl<&IID_Ijob> {
public:
    DECLARE_REGISTRY_DATA("job Class", "Flashkit.job.1", "Flashkit.job", true, true, "Apartment", LIBID_FLASHKITLib,
                          "1.0")
    BEGIN_COM_MAP(Cjob)
    COM_INTERFACE_ENTRY(Ijob)
    COM_INTERFACE_ENTRY2(IDispatch, Ijob)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    void FinalRelease() { job.reset(); }

    HRESULT get_percent(double* pVal) override;
    HRESULT get_status(BSTR* pVal) override;
    HRESULT get_done(long* pVal) override;
    HRESULT cancel() override;
    HRESULT result(IDispatch** unit) override;

    std::unique_ptr<update::job_t> job;
};

} // namespace flashkit
