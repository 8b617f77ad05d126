#include "deployer.h"

#include "flashkit/dsp.h"

namespace flashkit {
namespace {

// Builds the job, gives it its first status text, starts its thread and
// hands it to a new job object.
template <class Job, class... Args> IDispatch* start_dsp_job(const char* first_text, Args&&... args)
{
    auto job = std::make_unique<Job>(std::make_shared<update::dsp_t>(), std::forward<Args>(args)...);
    job->set_text(first_text);
    job->start();
    return make_job(std::move(job));
}

} // namespace

HRESULT Cdeployer::deploy(BSTR ip, BSTR filename, IDispatch** pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    return guarded(CLSID_deployer, IID_Ideployer, "deployer::deploy : ", [&] {
        const qm::ip_address_t address = parse_address(ip);
        *pVal = start_dsp_job<update::dspdeploy_job_t>("DSP is deploying", text_of(filename), address);
    });
}

HRESULT Cdeployer::download(BSTR ip, BSTR filename, IDispatch** pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    return guarded(CLSID_deployer, IID_Ideployer, "deployer::download : ", [&] {
        const qm::ip_address_t address = parse_address(ip);
        *pVal = start_dsp_job<update::dspdownload_job_t>("start DSP download operation", text_of(filename), address);
    });
}

HRESULT Cdeployer::save_dsp_args(BSTR ip, IDispatch** pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    return guarded(CLSID_deployer, IID_Ideployer, "deployer::save_dsp_args : ", [&] {
        const qm::ip_address_t address = parse_address(ip);
        *pVal = start_dsp_job<update::dsp_savearg_job_t>("start DSP saving argument operation", address);
    });
}

} // namespace flashkit
