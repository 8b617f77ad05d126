#include "FirmUpdater.h"

#include "ComFailure.h"
#include "IniFile.h"
#include "ProgressDlg.h"
#include "SelectVersionDlg.h"
#include "ServerCalls.h"

#include <qm/console.h>

#include <querant/querant_com.h>

#include <climits>
#include <cstdlib>

namespace {

const char* const hardware_oid = "1.3.6.1.4.1.2680.1.1.1.10.0";

// The object a server method hands out, as interface I; throws _com_error
// for a failed call or a missing object.
template <class I, class From, class Method, class... Args> CComPtr<I> Get(From* from, Method method, Args... args)
{
    CComPtr<IDispatch> object;
    CheckCall((from->*method)(args..., &object.p), from);
    CComPtr<I> result = QueryAs<I>(object);
    CheckObject(result);
    return result;
}

// The integer of a decimal text as atoi reads it, held inside int's range.
int DecimalValue(const std::string& text)
{
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

} // namespace

firm_updater_t::firm_updater_t()
{
    const char* const failure = "COM Flashkit can't be created.";
    const HRESULT hr = CreateServerObject(CLSID_updater, updater);
    if (FAILED(hr))
        ReportComError(ErrorWithInfo(hr), failure);
    try {
        CheckCall(updater->put_debug(ReadIniInt("TFTP", "Debug", 0)), updater.p);
        CheckCall(updater->put_timeout(ReadIniInt("TFTP", "Timeout", 3000)), updater.p);
        CheckCall(updater->put_write_timeout(ReadIniInt("TFTP", "Write Timeout", 10000)), updater.p);
        CheckCall(updater->put_retries(ReadIniInt("TFTP", "Retry Count", 2)), updater.p);
        CheckCall(updater->put_holdoff(ReadIniInt("TFTP", "Hold off", 100)), updater.p);
    } catch (const _com_error& e) {
        ReportComError(e, failure);
    }
}

firm_updater_t::~firm_updater_t()
{
    chosen.Release();
    job.Release();
    unit.Release();
    updater.Release();
}

void firm_updater_t::init(const std::string& folder)
{
    try {
        CheckCall(updater->init(_bstr_t(folder.c_str())), updater.p);
    } catch (const _com_error& e) {
        ReportComError(e, "COM Flashkit can't be created.");
    }
}

void firm_updater_t::clear() { devices.clear(); }

void firm_updater_t::add(const std::string& address) { devices.push_back(address); }

int firm_updater_t::update(std::string& error)
{
    apply_to_all = false;
    chosen.Release();
    try {
        for (const std::string& address : devices) {
            if (const int result = update_device(address, error))
                return result;
        }
    } catch (const _com_error& e) {
        ReportComError(e, "COM Flashkit access error(update).");
    }
    return 0;
}

int firm_updater_t::update_device(const std::string& address, std::string& error)
{
    qm::console() << "<<<<<<<<<<<<<<<< firm_updater_t::firm_updater_t::update called" << std::endl;

    // Read phase: which family and version the device runs.
    if (const int result = run_job(Get<IDispatch>(updater.p, &Iupdater::upload, BSTR(_bstr_t(address.c_str()))),
                                   address + " - Upload Firmware", error))
        return result;
    unit = Get<Iunit>(job.p, &Ijob::result);
    CComPtr<Iversion> current = Get<Iversion>(unit.p, &Iunit::get_ver);
    CComPtr<Iversion> custom_version = Get<Iversion>(unit.p, &Iunit::get_custom_ver);
    BSTR custom_text = nullptr;
    CheckCall(unit->get_custom(&custom_text), unit.p);
    const std::string custom = TakeText(custom_text);

    long valid = 0, compatible = 0;
    CheckCall(current->get_valid(&valid), current.p);
    if (chosen)
        CheckCall(current->get_is_compatible(chosen, &compatible), current.p);
    if (!(apply_to_all && valid && custom.empty() && compatible)) {
        IDispatch* const running = current;
        IDispatch* const custom_running = custom_version;
        CComPtr<Iversion> favoured = Get<Iversion>(updater.p, &Iupdater::find_prefered, running);
        CComPtr<Icom_vector> compatible_versions = Get<Icom_vector>(updater.p, &Iupdater::find_compatible, running);
        CComPtr<Icom_vector> custom_versions = Get<Icom_vector>(updater.p, &Iupdater::find_compatible, custom_running);
        const int hardware = hardware_value(address);
        long type = -1;
        CheckCall(unit->get_type(&type), unit.p);
        CComPtr<Icom_vector> same_type = Get<Icom_vector>(updater.p, &Iupdater::find_sametype, type, hardware);

        CSelectVersionDlg dialog(current, favoured, compatible_versions, custom_versions, same_type, unit);
        if (dialog.DoModal() != IDOK)
            return 1;
        chosen = dialog.Chosen();
        apply_to_all = dialog.ApplyToAll();
        boot_range = dialog.BootRange();
        code_range = dialog.CodeRange();
        config_range = dialog.ConfigRange();
    }

    // Write phase.
    return run_job(Get<IDispatch>(unit.p, &Iunit::download3, static_cast<IDispatch*>(chosen), boot_range, code_range,
                                  config_range),
                   address + " - Update Firmware", error);
}

int firm_updater_t::run_job(IDispatch* started, const std::string& title, std::string& error)
{
    job = QueryAs<Ijob>(started);
    CheckObject(job);
    CProgressDlg progress(title, job);
    progress.DoModal();
    long done = 0;
    CheckCall(job->get_done(&done), job.p);
    if (done <= 1)
        return 0;
    BSTR status = nullptr;
    CheckCall(job->get_status(&status), job.p);
    error = TakeText(status);
    return done == 3 ? 1 : 2;
}

int firm_updater_t::hardware_value(const std::string& address)
{
    const char* const failure = "COM Querant can't be created.";
    CComPtr<Icom_manager> poller;
    const HRESULT hr = CreateServerObject(CLSID_com_manager, poller);
    if (FAILED(hr))
        ReportComError(ErrorWithInfo(hr), failure);
    try {
        CheckCall(poller->start(), poller.p);
        CheckCall(poller->put_num_threads(1), poller.p);
        CheckCall(poller->put_retry_count(3), poller.p);
        CheckCall(poller->put_timeout(3000), poller.p);
        const _bstr_t ip(address.c_str()), name(hardware_oid);
        CComPtr<Icom_variable> variable = Get<Icom_variable>(poller.p, &Icom_manager::get, BSTR(ip), BSTR(name));
        CheckCall(poller->stop(), poller.p);
        long valid = 0;
        CheckCall(variable->get_valid(&valid), variable.p);
        if (!valid)
            return -1;
        BSTR value = nullptr;
        CheckCall(variable->get_value(&value), variable.p);
        return DecimalValue(TakeText(value));
    } catch (const _com_error& e) {
        ReportComError(e, failure);
    }
}
