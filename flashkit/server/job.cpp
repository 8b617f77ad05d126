#include "job.h"

namespace flashkit {

HRESULT Cjob::get_percent(double* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = job ? job->status().percent() : 0.0;
    return S_OK;
}

HRESULT Cjob::get_status(BSTR* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    return guarded(CLSID_job, IID_Ijob, "", [&] {
        if (job)
            *pVal = new_text(job->status().text());
    });
}

HRESULT Cjob::get_done(long* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = job ? job->done() : 0;
    return S_OK;
}

HRESULT Cjob::cancel()
{
    if (job)
        job->cancel();
    return S_OK;
}

HRESULT Cjob::result(IDispatch** unit)
{
    if (!unit)
        return E_POINTER;
    *unit = nullptr;
    return guarded(CLSID_job, IID_Ijob, "", [&] {
        if (job)
            job->result(unit);
    });
}

IDispatch* make_job(std::unique_ptr<update::job_t> job)
{
    CComObject<Cjob>* object = nullptr;
    if (FAILED(CComObject<Cjob>::CreateInstance(&object)))
        throw std::bad_alloc();
    object->job = std::move(job);
    object->AddRef();
    return static_cast<Ijob*>(object);
}

} // namespace flashkit
