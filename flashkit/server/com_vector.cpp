#include "com_vector.h"

#include <cctype>
#include <climits>
#include <cstdio>

namespace flashkit {
namespace {

constexpr DISPID first_item_id = 256;

// A name that reads as an unsigned decimal number ("%u": leading digits).
bool item_number(LPOLESTR name, unsigned long& number)
{
    if (!name)
        return false;
    const std::string text = com::utf16_to_utf8(name);
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    number = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        number = number * 10 + static_cast<unsigned long>(c - '0');
        if (number > static_cast<unsigned long>(INT_MAX - first_item_id))
            return false;
    }
    return true;
}

} // namespace

version_generator_t::version_generator_t(std::vector<update::version_ptr> records_, database_ptr database_)
    : records(std::move(records_)), database(std::move(database_))
{}

long version_generator_t::count() { return static_cast<long>(records.size()); }

IDispatch* version_generator_t::make(long index)
{
    if (index < 0 || index >= count())
        return nullptr;
    return make_version(records[static_cast<std::size_t>(index)], database);
}

void Ccom_vector::FinalRelease()
{
    for (IDispatch* made : items)
        if (made)
            made->Release();
    items.clear();
    generator.reset();
}

long Ccom_vector::size() { return generator ? generator->count() : 0; }

IDispatch* Ccom_vector::item(long index)
{
    if (items.size() != static_cast<std::size_t>(size()))
        items.resize(static_cast<std::size_t>(size()), nullptr);
    IDispatch*& made = items[static_cast<std::size_t>(index)];
    if (!made)
        made = generator->make(index);
    return made;
}

std::string Ccom_vector::index_text(long index)
{
    char text[128];
    std::snprintf(text, sizeof text, "Illegal index %i for vector with %i element(s).", static_cast<int>(index),
                  static_cast<int>(size()));
    return text;
}

HRESULT Ccom_vector::get_length(long* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = size();
    return S_OK;
}

HRESULT Ccom_vector::at(long index, IDispatch** result)
{
    if (!result)
        return E_POINTER;
    *result = nullptr;
    if (index < 0 || index >= size())
        return Error(index_text(index), IID_Icom_vector);
    return guarded(CLSID_com_vector, IID_Icom_vector, "", [&] {
        IDispatch* made = item(index);
        if (!made)
            throw std::bad_alloc();
        made->AddRef();
        *result = made;
    });
}

HRESULT Ccom_vector::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    if (!names || !ids)
        return E_POINTER;
    unsigned long number = 0;
    if (count == 1 && item_number(names[0], number)) {
        ids[0] = first_item_id + static_cast<DISPID>(number);
        return S_OK;
    }
    return IDispatchImpl::GetIDsOfNames(riid, names, count, lcid, ids);
}

HRESULT Ccom_vector::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* excep, UINT* arg_err)
{
    if (id < first_item_id)
        return IDispatchImpl::Invoke(id, riid, lcid, flags, params, result, excep, arg_err);
    const long index = static_cast<long>(id - first_item_id);
    if (index < size()) {
        if (!(flags & DISPATCH_PROPERTYGET))
            return DISP_E_TYPEMISMATCH;
        IDispatch* made = nullptr;
        try {
            made = item(index);
        } catch (const std::bad_alloc&) {}
        if (!made)
            return E_OUTOFMEMORY;
        if (result) {
            VariantClear(result);
            result->vt = VT_DISPATCH;
            result->pdispVal = made;
            made->AddRef();
        }
        return S_OK;
    }
    if (excep) {
        *excep = EXCEPINFO{};
        excep->bstrSource = com::bstr_from_utf8("com_vector");
        excep->bstrDescription = com::bstr_from_utf8(index_text(index));
        excep->scode = DISP_E_EXCEPTION;
    }
    return DISP_E_EXCEPTION;
}

IDispatch* make_vector(std::vector<update::version_ptr> records, database_ptr database)
{
    CComObject<Ccom_vector>* object = nullptr;
    if (FAILED(CComObject<Ccom_vector>::CreateInstance(&object)))
        throw std::bad_alloc();
    object->AddRef();
    try {
        object->generator = std::make_unique<version_generator_t>(std::move(records), std::move(database));
    } catch (...) {
        object->Release();
        throw;
    }
    return static_cast<Icom_vector*>(object);
}

} // namespace flashkit
