// The automation classes of libquerant.so: com_manager (one engine per
// object), com_variable (one result record) and com_variable_vector, with
// the library's exports.
#include "querant/querant_com.h"
#include "querant/snmp_manager.h"

#include <atl/atlcom.h>
#include <qm/bstr.h>

#include <cstdio>
#include <memory>
#include <vector>

using querant::snmp_manager_t;
using querant::snmp_variable_t;
using querant::variable_list_t;

namespace {

std::string text_of(BSTR text) { return qm::bstr_to_string(_bstr_t(text, true)); }

// ---- com_variable ---------------------------------------------------------------

class Ccom_variable : public CComObjectRootEx<CComMultiThreadModel>,
                      public CComCoClass<Ccom_variable, &CLSID_com_variable>,
                      public IDispatchImpl<Icom_variable, &IID_Icom_variable, &LIBID_QUERANTLib>,
                      public ISupportErrorInfoImpl<&IID_Icom_variable> {
public:
    DECLARE_REGISTRY_DATA("com_variable Class", "Querant.com_variable.1", "Querant.com_variable", false, false, "Both")
    BEGIN_COM_MAP(Ccom_variable)
    COM_INTERFACE_ENTRY(Icom_variable)
    COM_INTERFACE_ENTRY2(IDispatch, Icom_variable)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() { record.reset(); }

    HRESULT get_ip(BSTR* pVal) override { return text_out(record->ip, pVal); }
    HRESULT put_ip(BSTR pVal) override { return text_in(record->ip, pVal); }
    HRESULT get_name(BSTR* pVal) override { return text_out(record->name, pVal); }
    HRESULT put_name(BSTR pVal) override { return text_in(record->name, pVal); }
    HRESULT get_value(BSTR* pVal) override { return text_out(record->value, pVal); }
    HRESULT put_value(BSTR pVal) override { return text_in(record->value, pVal); }
    HRESULT get_valid(long* pVal) override
    {
        if (!pVal)
            return E_POINTER;
        *pVal = record->valid ? 1 : 0;
        return S_OK;
    }
    HRESULT get_type(long* pVal) override
    {
        if (!pVal)
            return E_POINTER;
        *pVal = record->type;
        return S_OK;
    }

    std::unique_ptr<snmp_variable_t> record = std::make_unique<snmp_variable_t>("", "");

private:
    static HRESULT text_out(const std::string& text, BSTR* out)
    {
        if (!out)
            return E_POINTER;
        *out = qm::string_to_bstr(text);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT text_in(std::string& field, BSTR text)
    {
        try {
            field = text_of(text);
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
};

// A new com_variable that owns the record, with a count of 0.
HRESULT make_variable(std::unique_ptr<snmp_variable_t> record, CComObject<Ccom_variable>** out)
{
    HRESULT hr = CComObject<Ccom_variable>::CreateInstance(out);
    if (FAILED(hr))
        return hr;
    (*out)->record = std::move(record);
    return S_OK;
}

// ---- com_variable_vector ------------------------------------------------------------

class Ccom_variable_vector : public CComObjectRootEx<CComSingleThreadModel>,
                             public CComCoClass<Ccom_variable_vector, &CLSID_com_variable_vector>,
                             public IDispatchImpl<Icom_variable_vector, &IID_Icom_variable_vector, &LIBID_QUERANTLib>,
                             public ISupportErrorInfoImpl<&IID_Icom_variable_vector> {
public:
    DECLARE_REGISTRY_DATA("com_variable_vector Class", "Querant.com_variable_vector.1", "Querant.com_variable_vector",
                          true, true, "Apartment", LIBID_QUERANTLib)
    BEGIN_COM_MAP(Ccom_variable_vector)
    COM_INTERFACE_ENTRY(Icom_variable_vector)
    COM_INTERFACE_ENTRY2(IDispatch, Icom_variable_vector)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease()
    {
        for (IDispatch* element : elements)
            element->Release();
        elements.clear();
    }

    void append(IDispatch* element)
    {
        elements.reserve(elements.size() + 1);
        element->AddRef();
        elements.push_back(element);
    }

    HRESULT get_length(long* pVal) override
    {
        if (!pVal)
            return E_POINTER;
        *pVal = static_cast<long>(elements.size());
        return S_OK;
    }

    HRESULT at(long index, IDispatch** variable) override
    {
        if (!variable)
            return E_POINTER;
        *variable = nullptr;
        if (static_cast<unsigned long>(index) >= elements.size())
            return Error(index_text(index));
        *variable = elements[static_cast<size_t>(index)];
        (*variable)->AddRef();
        return S_OK;
    }

    // Element access by number: a name that reads as an unsigned decimal
    // number n is DISPID 256 + n.
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        if (!names || !ids)
            return E_POINTER;
        for (UINT i = 0; i < count; ++i) {
            unsigned number = 0;
            const std::string name = names[i] ? com::utf16_to_utf8(names[i]) : std::string();
            if (std::sscanf(name.c_str(), "%u", &number) == 1) {
                ids[0] = static_cast<DISPID>(256 + number);
                return S_OK;
            }
        }
        return IDispatchImpl::GetIDsOfNames(riid, names, count, lcid, ids);
    }

    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* arg_err) override
    {
        if (id < 256)
            return IDispatchImpl::Invoke(id, riid, lcid, flags, params, result, excep, arg_err);
        const unsigned long index = static_cast<unsigned long>(id) - 256;
        if (index < elements.size()) {
            if (flags != DISPATCH_PROPERTYGET)
                return DISP_E_TYPEMISMATCH;
            if (result) {
                VariantClear(result);
                result->vt = VT_DISPATCH;
                result->pdispVal = elements[index];
                result->pdispVal->AddRef();
            }
            return S_OK;
        }
        if (excep) {
            *excep = EXCEPINFO{};
            excep->wCode = 1001;
            excep->bstrSource = com::bstr_from_utf8("QMScoutline vector");
            excep->bstrDescription = com::bstr_from_utf8(index_text(static_cast<long>(index)));
        }
        return DISP_E_EXCEPTION;
    }

private:
    std::string index_text(long index) const
    {
        char text[128];
        std::snprintf(text, sizeof text, "Illegal index %i for vector with %i element(s).", static_cast<int>(index),
                      static_cast<int>(elements.size()));
        return text;
    }

    std::vector<IDispatch*> elements;
};

// A vector object (count 1, handed to the caller) of com_variables owning the records.
HRESULT make_vector(variable_list_t& records, IDispatch** out)
{
    CComObject<Ccom_variable_vector>* vector = nullptr;
    HRESULT hr = CComObject<Ccom_variable_vector>::CreateInstance(&vector);
    if (FAILED(hr))
        return hr;
    vector->AddRef();
    for (auto& record : records) {
        CComObject<Ccom_variable>* variable = nullptr;
        hr = make_variable(std::move(record), &variable);
        if (FAILED(hr)) {
            vector->Release();
            return hr;
        }
        vector->append(static_cast<Icom_variable*>(variable));
    }
    *out = static_cast<Icom_variable_vector*>(vector);
    return S_OK;
}

// ---- com_manager ----------------------------------------------------------------------

class Ccom_manager : public CComObjectRootEx<CComSingleThreadModel>,
                     public CComCoClass<Ccom_manager, &CLSID_com_manager>,
                     public IDispatchImpl<Icom_manager, &IID_Icom_manager, &LIBID_QUERANTLib>,
                     public ISupportErrorInfoImpl<&IID_Icom_manager> {
public:
    DECLARE_REGISTRY_DATA("com_manager Class", "Querant.com_manager.1", "Querant.com_manager", true, true, "Apartment",
                          LIBID_QUERANTLib)
    BEGIN_COM_MAP(Ccom_manager)
    COM_INTERFACE_ENTRY(Icom_manager)
    COM_INTERFACE_ENTRY2(IDispatch, Icom_manager)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    // An object without an engine would fail every call: creation fails instead.
    HRESULT FinalConstruct()
    {
        try {
            engine = std::make_unique<snmp_manager_t>();
            return S_OK;
        } catch (const qm::exception_t& e) {
            return Error(e.what());
        } catch (...) {
            return Error("snmp_manager_t constructor error!");
        }
    }
    void FinalRelease() { engine.reset(); }

    HRESULT start() override
    {
        return guarded("Unknow error in Ccom_manager::start().", [&] { engine->start(); });
    }
    HRESULT stop() override
    {
        return guarded("Unknow error in Ccom_manager::stop().", [&] { engine->stop(); });
    }
    HRESULT get(BSTR ip, BSTR name, IDispatch** variable) override
    {
        return request("Unknown error in Ccom_manager::get().", variable,
                       [&] { return engine->get(text_of(ip), text_of(name)); });
    }
    HRESULT set(BSTR ip, BSTR name, BSTR value, IDispatch** variable) override
    {
        return request("Unknown error in Ccom_manager::set().", variable,
                       [&] { return engine->set(text_of(ip), text_of(name), text_of(value)); });
    }
    HRESULT get_next(BSTR ip, BSTR name, IDispatch** variable) override
    {
        return request("Unknown error in Ccom_manager::get_next().", variable,
                       [&] { return engine->get_next(text_of(ip), text_of(name)); });
    }
    HRESULT watch(BSTR ip, BSTR name) override
    {
        return guarded("Unknown error in Ccom_manager::watch().",
                       [&] { engine->watch_list_add(text_of(ip), text_of(name)); });
    }
    HRESULT end_watch(BSTR ip, BSTR name) override
    {
        return guarded("Unknown error in Ccom_manager::end_watch().",
                       [&] { engine->end_watch(text_of(ip), text_of(name)); });
    }
    HRESULT get_all(IDispatch** all) override
    {
        return collect("Unknown errors in Ccom_manager::get_all().", all,
                       [&](variable_list_t& records) { engine->get_all(records); });
    }
    HRESULT get_changes(IDispatch** changes) override
    {
        return collect("Unknown errors in Ccom_manager::get_changes().", changes,
                       [&](variable_list_t& records) { engine->get_changes(records); });
    }
    HRESULT get_device_changes(BSTR ip, IDispatch** changes) override
    {
        return collect("Unknown errors in Ccom_manager::get_device_changes().", changes,
                       [&](variable_list_t& records) { engine->get_device_changes(text_of(ip), records); });
    }
    HRESULT clear_watch() override
    {
        return guarded("Unknown error in Ccom_manager::clear_watch().", [&] { engine->clear_watch(); });
    }
    HRESULT end_device_watch(BSTR ip) override
    {
        return guarded(nullptr, [&] { engine->end_device_watch(text_of(ip)); });
    }
    HRESULT get_watch_size(long* pVal) override
    {
        return number_out(pVal, [&] { return engine->watch_size(); });
    }

    HRESULT get_num_threads(long* pVal) override
    {
        return number_out(pVal, [&] { return engine->num_threads(); });
    }
    HRESULT put_num_threads(long pVal) override
    {
        return guarded("Unknown error in Ccom_manager::put_num_threads().", [&] { engine->num_threads_set(pVal); });
    }
    HRESULT get_poll_period(long* pVal) override
    {
        return number_out(pVal, [&] { return engine->poll_period(); });
    }
    HRESULT put_poll_period(long pVal) override
    {
        return guarded(nullptr, [&] { engine->poll_period(pVal); });
    }
    HRESULT get_timeout(long* pVal) override
    {
        return number_out(pVal, [&] { return engine->timeout(); });
    }
    HRESULT put_timeout(long pVal) override
    {
        return guarded(nullptr, [&] { engine->timeout(pVal); });
    }
    HRESULT get_retry_count(long* pVal) override
    {
        return number_out(pVal, [&] { return engine->retry_count(); });
    }
    HRESULT put_retry_count(long pVal) override
    {
        return guarded(nullptr, [&] { engine->retry_count(pVal); });
    }
    HRESULT get_user(BSTR* pVal) override
    {
        return text_out(pVal, [&] { return engine->user(); });
    }
    HRESULT put_user(BSTR pVal) override
    {
        return guarded(nullptr, [&] { engine->user(text_of(pVal)); });
    }
    HRESULT get_password(BSTR* pVal) override
    {
        return text_out(pVal, [&] { return engine->password(); });
    }
    HRESULT put_password(BSTR pVal) override
    {
        return guarded(nullptr, [&] { engine->password(text_of(pVal)); });
    }

private:
    // Engine failures become the error object (source: this class's ProgID)
    // and DISP_E_EXCEPTION; anything else gets the member's own text (or,
    // for members that have none, a bare failure code).
    template <class F> HRESULT guarded(const char* unknown_text, F&& f)
    {
        try {
            f();
            return S_OK;
        } catch (const qm::exception_t& e) {
            return Error(e.what());
        } catch (...) {
            return unknown_text ? Error(unknown_text) : E_UNEXPECTED;
        }
    }

    template <class F> HRESULT request(const char* unknown_text, IDispatch** variable, F&& f)
    {
        if (!variable)
            return E_POINTER;
        *variable = nullptr;
        std::unique_ptr<snmp_variable_t> record;
        HRESULT hr = guarded(unknown_text, [&] { record = f(); });
        if (FAILED(hr))
            return hr;
        CComObject<Ccom_variable>* object = nullptr;
        hr = make_variable(std::move(record), &object);
        if (FAILED(hr))
            return hr;
        object->AddRef();
        *variable = static_cast<Icom_variable*>(object);
        return S_OK;
    }

    template <class F> HRESULT collect(const char* unknown_text, IDispatch** out, F&& f)
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        variable_list_t records;
        HRESULT hr = guarded(unknown_text, [&] { f(records); });
        if (FAILED(hr))
            return hr;
        return make_vector(records, out);
    }

    template <class F> HRESULT number_out(long* out, F&& f)
    {
        if (!out)
            return E_POINTER;
        return guarded(nullptr, [&] { *out = f(); });
    }

    template <class F> HRESULT text_out(BSTR* out, F&& f)
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        return guarded(nullptr, [&] { *out = qm::string_to_bstr(f()); });
    }

    std::unique_ptr<snmp_manager_t> engine;
};

// ---- tables and module ---------------------------------------------------------------------

void register_tables()
{
    using com::arg;
    using com::member_kind;
    const auto m = member_kind::method, g = member_kind::propget, p = member_kind::propput;
    com::register_interface_table({IID_Icom_manager,
                                   "Icom_manager",
                                   {
                                       {7, 1, "start", m, {}},
                                       {8, 2, "stop", m, {}},
                                       {9, 3, "get", m, {arg::in_bstr, arg::in_bstr, arg::out_dispatch}},
                                       {10, 4, "set", m, {arg::in_bstr, arg::in_bstr, arg::in_bstr, arg::out_dispatch}},
                                       {11, 5, "watch", m, {arg::in_bstr, arg::in_bstr}},
                                       {12, 6, "end_watch", m, {arg::in_bstr, arg::in_bstr}},
                                       {13, 7, "get_all", m, {arg::out_dispatch}},
                                       {14, 8, "get_changes", m, {arg::out_dispatch}},
                                       {15, 9, "num_threads", g, {arg::out_long}},
                                       {16, 9, "num_threads", p, {arg::in_long}},
                                       {17, 10, "poll_period", g, {arg::out_long}},
                                       {18, 10, "poll_period", p, {arg::in_long}},
                                       {19, 11, "timeout", g, {arg::out_long}},
                                       {20, 11, "timeout", p, {arg::in_long}},
                                       {21, 12, "retry_count", g, {arg::out_long}},
                                       {22, 12, "retry_count", p, {arg::in_long}},
                                       {23, 13, "user", g, {arg::out_bstr}},
                                       {24, 13, "user", p, {arg::in_bstr}},
                                       {25, 14, "password", g, {arg::out_bstr}},
                                       {26, 14, "password", p, {arg::in_bstr}},
                                       {27, 15, "get_device_changes", m, {arg::in_bstr, arg::out_dispatch}},
                                       {28, 16, "clear_watch", m, {}},
                                       {29, 17, "end_device_watch", m, {arg::in_bstr}},
                                       {30, 18, "watch_size", g, {arg::out_long}},
                                       {31, 19, "get_next", m, {arg::in_bstr, arg::in_bstr, arg::out_dispatch}},
                                   }});
    com::register_interface_table({IID_Icom_variable,
                                   "Icom_variable",
                                   {
                                       {7, 1, "ip", g, {arg::out_bstr}},
                                       {8, 1, "ip", p, {arg::in_bstr}},
                                       {9, 2, "name", g, {arg::out_bstr}},
                                       {10, 2, "name", p, {arg::in_bstr}},
                                       {11, 3, "value", g, {arg::out_bstr}},
                                       {12, 3, "value", p, {arg::in_bstr}},
                                       {13, 4, "valid", g, {arg::out_long}},
                                       {14, 5, "type", g, {arg::out_long}},
                                   }});
    com::register_interface_table({IID_Icom_variable_vector,
                                   "Icom_variable_vector",
                                   {
                                       {7, 1, "length", g, {arg::out_long}},
                                       {8, 2, "at", m, {arg::in_long, arg::out_dispatch}},
                                   }});
}

CComModule _Module;

BEGIN_OBJECT_MAP(ObjectMap)
OBJECT_ENTRY(CLSID_com_manager, Ccom_manager)
OBJECT_ENTRY(CLSID_com_variable, Ccom_variable)
OBJECT_ENTRY(CLSID_com_variable_vector, Ccom_variable_vector)
END_OBJECT_MAP()

const com::typelib_registration typelib{LIBID_QUERANTLib, "1.0", "Querant 1.0 Type Library"};

struct module_init {
    module_init()
    {
        register_tables();
        _Module.Init(ObjectMap, com::server_kind::inproc, &typelib);
    }
} module_init_once;

} // namespace

#define QUERANT_EXPORT extern "C" __attribute__((visibility("default")))

QUERANT_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    return _Module.GetClassObject(clsid, riid, out);
}
QUERANT_EXPORT HRESULT DllCanUnloadNow() { return _Module.CanUnloadNow(); }
QUERANT_EXPORT HRESULT DllRegisterServer() { return _Module.RegisterServer(TRUE); }
QUERANT_EXPORT HRESULT DllUnregisterServer() { return _Module.UnregisterServer(TRUE); }
