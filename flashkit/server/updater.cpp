#include "updater.h"

#include "flashkit/families/families.h"
#include "flashkit/tftp.h"

#include <climits>

namespace flashkit {
namespace {

HRESULT number_out(long* out, int32_t value)
{
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

} // namespace

HRESULT Cupdater::FinalConstruct()
{
    return guarded(CLSID_updater, IID_Iupdater, "", [&] {
        update::register_families();
        database = std::make_shared<update::database_t>();
    });
}

HRESULT Cupdater::upload(BSTR ip, IDispatch** job)
{
    if (!job)
        return E_POINTER;
    *job = nullptr;
    return guarded(CLSID_updater, IID_Iupdater, "updater::upload : ", [&] {
        const qm::ip_address_t address = parse_address(ip);
        *job = start_job<update::upload_job_t>(database, address, &make_unit);
    });
}

HRESULT Cupdater::find_all(IDispatch** versions)
{
    if (!versions)
        return E_POINTER;
    *versions = nullptr;
    return guarded(CLSID_updater, IID_Iupdater,
                   "updater::find_all : ", [&] { *versions = make_vector(database->find_all(), database); });
}

HRESULT Cupdater::find_prefered(IDispatch* ver, IDispatch** version)
{
    if (!version)
        return E_POINTER;
    *version = nullptr;
    return guarded(CLSID_updater, IID_Iupdater, "updater::find_prefered : ", [&] {
        update::version_ptr record = version_argument(ver);
        *version = make_version(database->find_prefered(record), database);
    });
}

HRESULT Cupdater::find_compatible(IDispatch* ver, IDispatch** versions)
{
    if (!versions)
        return E_POINTER;
    *versions = nullptr;
    return guarded(CLSID_updater, IID_Iupdater, "updater::find_compatible : ", [&] {
        update::version_ptr record = version_argument(ver);
        *versions = make_vector(database->find_compatible(record.get()), database);
    });
}

HRESULT Cupdater::find_sametype(long type, int hwRev, IDispatch** versions)
{
    if (!versions)
        return E_POINTER;
    *versions = nullptr;
    return guarded(CLSID_updater, IID_Iupdater, "updater::find_sametype : ", [&] {
        *versions = make_vector(database->find_sametype(static_cast<int32_t>(type), hwRev), database);
    });
}

// The hardware value of alder and alderamd versions follows their minor
// number: 3 below 20, 4 from 20 on; the other types match any hardware.
HRESULT Cupdater::find_sameHWtype(IDispatch* ver, IDispatch** versions)
{
    if (!versions)
        return E_POINTER;
    *versions = nullptr;
    return guarded(CLSID_updater, IID_Iupdater, "updater::find_sametype : ", [&] {
        update::version_ptr record = version_argument(ver);
        if (!record)
            return;
        const int32_t type = record->checksums.type();
        int hardware = -1;
        if (type == update::type_alder || type == update::type_alderamd)
            hardware = record->minor < 20 ? 3 : 4;
        *versions = make_vector(database->find_sametype(type, hardware), database);
    });
}

HRESULT Cupdater::setting(const char* name, long value, bool (tftp::*set)(int32_t))
{
    if (value > INT32_MAX || !(tftp::settings().*set)(static_cast<int32_t>(value))) {
        return Error(std::string("updater::") + name + " : invalid value " + std::to_string(value), IID_Iupdater,
                     E_INVALIDARG);
    }
    return S_OK;
}

HRESULT Cupdater::get_timeout(long* pVal) { return number_out(pVal, tftp::settings().timeout()); }

HRESULT Cupdater::put_timeout(long newVal) { return setting("timeout", newVal, &tftp::set_timeout); }

HRESULT Cupdater::get_retries(long* pVal) { return number_out(pVal, tftp::settings().retries()); }

HRESULT Cupdater::put_retries(long newVal) { return setting("retries", newVal, &tftp::set_retries); }

HRESULT Cupdater::get_holdoff(long* pVal) { return number_out(pVal, tftp::settings().holdoff()); }

HRESULT Cupdater::put_holdoff(long newVal) { return setting("holdoff", newVal, &tftp::set_holdoff); }

HRESULT Cupdater::get_write_timeout(long* pVal) { return number_out(pVal, tftp::settings().write_timeout()); }

HRESULT Cupdater::put_write_timeout(long newVal) { return setting("write_timeout", newVal, &tftp::set_write_timeout); }

HRESULT Cupdater::put_debug(long newVal)
{
    update::set_debug(static_cast<int32_t>(newVal));
    return S_OK;
}

// Reports success whatever the folder holds: a missing folder or database
// file gives an empty list, an unreadable image is left out.
HRESULT Cupdater::init(BSTR path)
{
    try {
        database->init(text_of(path));
    } catch (...) {}
    return S_OK;
}

} // namespace flashkit
