#include "unit.h"

#include <cctype>

namespace flashkit {
namespace {

const char* const check_prefix = "Unit::check_update : ";
const char* const update_prefix = "Unit::update : ";

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The version's record and its image path, named by the database that holds
// the record: a version of another updater's folder is that folder's file.
struct image_t {
    update::version_ptr record;
    std::string path;
};

image_t image_of(IDispatch* ver)
{
    update::version_ptr record;
    database_ptr database;
    if (!version_of(ver, record, database))
        throw qm::exception_t("invalid parameter passed");
    if (!record || !database)
        throw qm::exception_t("object error");
    return {record, database->image_path(*record)};
}

} // namespace

bool parse_mac(const std::string& text, qm::mac_address_t& mac)
{
    if (text.size() != 12)
        return false;
    uint8_t bytes[6];
    for (std::size_t i = 0; i < 6; ++i) {
        int high = hex_digit(text[2 * i]), low = hex_digit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    std::copy(bytes, bytes + 6, mac.bytes);
    return true;
}

HRESULT Cunit::version_out(const update::version_ptr& record, IDispatch** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!found.unit)
        return S_OK;
    return guarded(CLSID_unit, IID_Iunit, "", [&] { *out = make_version(record, found.database); });
}

HRESULT Cunit::get_ver(IDispatch** pVal) { return version_out(found.version, pVal); }

HRESULT Cunit::get_custom_ver(IDispatch** pVal) { return version_out(found.custom_version, pVal); }

HRESULT Cunit::get_custom(BSTR* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    if (!found.unit)
        return S_OK;
    return guarded(CLSID_unit, IID_Iunit, "", [&] { *pVal = new_text(found.custom); });
}

HRESULT Cunit::check_update(IDispatch* new_ver, IDispatch** check)
{
    if (!check)
        return E_POINTER;
    *check = nullptr;
    return guarded(CLSID_unit, IID_Iunit, check_prefix, [&] {
        const image_t image = image_of(new_ver);
        if (!found.unit)
            throw qm::exception_t("object error");
        uint8_t flags[8] = {};
        found.unit->check_update(flags, image.record->checksums, image.path);
        *check = make_update_check(flags);
    });
}

HRESULT Cunit::get_mac(BSTR* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = nullptr;
    if (!found.unit)
        return S_OK;
    return guarded(CLSID_unit, IID_Iunit, "", [&] { *pVal = new_text(found.unit->config.mac.to_string()); });
}

HRESULT Cunit::put_mac(BSTR newVal)
{
    if (!found.unit)
        return S_OK;
    return guarded(CLSID_unit, IID_Iunit, "Unit::mac : ", [&] {
        qm::mac_address_t mac;
        if (!parse_mac(text_of(newVal), mac))
            throw qm::exception_t("invalid MAC address");
        found.unit->config.mac = mac;
        found.unit->config.mac_set = 1;
    });
}

HRESULT Cunit::get_type(long* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = update::type_code(found.unit.get());
    return S_OK;
}

HRESULT Cunit::value_out(long* out, int32_t update::config_t::*value)
{
    if (!out)
        return E_POINTER;
    *out = found.unit ? found.unit->config.*value : 0;
    return S_OK;
}

void Cunit::value_in(long value, int32_t update::config_t::*field, uint8_t update::config_t::*flag)
{
    if (!found.unit)
        return;
    found.unit->config.*field = static_cast<int32_t>(value);
    found.unit->config.*flag = 1;
}

HRESULT Cunit::get_VCXO_center(long* pVal) { return value_out(pVal, &update::config_t::vcxo); }

HRESULT Cunit::put_VCXO_center(long newVal)
{
    value_in(newVal, &update::config_t::vcxo, &update::config_t::vcxo_set);
    return S_OK;
}

HRESULT Cunit::get_allowed_channels(long* pVal) { return value_out(pVal, &update::config_t::channels); }

HRESULT Cunit::put_allowed_channels(long newVal)
{
    value_in(newVal, &update::config_t::channels, &update::config_t::channels_set);
    return S_OK;
}

HRESULT Cunit::get_ssi_format(long* pVal) { return value_out(pVal, &update::config_t::ssi); }

HRESULT Cunit::put_ssi_format(long newVal)
{
    value_in(newVal, &update::config_t::ssi, &update::config_t::ssi_set);
    return S_OK;
}

HRESULT Cunit::download(IDispatch* ver, IDispatch** job) { return download3(ver, 0, 0, 1, job); }

HRESULT Cunit::download2(IDispatch* ver, long boot, long runtime, IDispatch** job)
{
    return download3(ver, boot, runtime, 1, job);
}

HRESULT Cunit::download3(IDispatch* ver, long boot, long runtime, long config, IDispatch** job)
{
    if (!job)
        return E_POINTER;
    *job = nullptr;
    return guarded(CLSID_unit, IID_Iunit, update_prefix, [&] {
        if (boot < 0 || boot > 2)
            throw qm::exception_t("invalid boot range");
        if (runtime < 0 || runtime > 1)
            throw qm::exception_t("invalid code range");
        if (config < 0 || config > 2)
            throw qm::exception_t("invalid config range");
        const image_t image = image_of(ver);
        if (!found.unit)
            throw qm::exception_t("object error");
        *job = start_job<update::download_job_t>(found.unit, image.path, image.record->checksums,
                                                 static_cast<int32_t>(boot), static_cast<int32_t>(runtime),
                                                 static_cast<int32_t>(config));
    });
}

IDispatch* make_unit(const update::upload_result_t& found)
{
    CComObject<Cunit>* object = nullptr;
    if (FAILED(CComObject<Cunit>::CreateInstance(&object)))
        throw std::bad_alloc();
    object->found = found;
    object->AddRef();
    return static_cast<Iunit*>(object);
}

} // namespace flashkit
