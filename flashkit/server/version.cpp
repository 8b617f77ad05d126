#include "version.h"

namespace flashkit {

HRESULT Cversion::text(BSTR* out, bool path)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return guarded(CLSID_version, IID_Iversion, "", [&] {
        if (!record || !database)
            *out = new_text("Unknown");
        else
            *out = new_text(path ? database->image_path(*record) : database->display_name(record.get()));
    });
}

HRESULT Cversion::get_name(BSTR* pVal) { return text(pVal, false); }

HRESULT Cversion::get_path(BSTR* pVal) { return text(pVal, true); }

HRESULT Cversion::word(long* out, int index)
{
    if (!out)
        return E_POINTER;
    *out = 0;
    if (record)
        *out = static_cast<int32_t>(record->checksums[index]);
    return S_OK;
}

HRESULT Cversion::get_valid(long* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = record ? 1 : 0;
    return S_OK;
}

HRESULT Cversion::get_exists(long* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = record && record->exists ? 1 : 0;
    return S_OK;
}

HRESULT Cversion::get_is_compatible(IDispatch* ver, long* pVal)
{
    if (!pVal)
        return E_POINTER;
    update::version_ptr other;
    database_ptr other_database;
    *pVal = record && version_of(ver, other, other_database) && other && record->is_compatible(other.get()) ? 1 : 0;
    return S_OK;
}

IDispatch* make_version(update::version_ptr record, database_ptr database)
{
    CComObject<Cversion>* object = nullptr;
    if (FAILED(CComObject<Cversion>::CreateInstance(&object)))
        throw std::bad_alloc();
    object->record = std::move(record);
    object->database = std::move(database);
    object->AddRef();
    return static_cast<Iversion*>(object);
}

bool version_of(IDispatch* object, update::version_ptr& record, database_ptr& database)
{
    Iversion* self = nullptr;
    if (!object || FAILED(object->QueryInterface(IID_Cversion_self, reinterpret_cast<void**>(&self))))
        return false;
    auto* version = static_cast<Cversion*>(self);
    record = version->record;
    database = version->database;
    self->Release();
    return true;
}

update::version_ptr version_argument(IDispatch* object)
{
    update::version_ptr record;
    database_ptr database;
    if (!version_of(object, record, database))
        throw qm::exception_t("invalid parameter passed");
    return record;
}

} // namespace flashkit
