// The automation objects of the discovery server: the shared manager with its
// cache of adapter objects, the adapter object owning one engine, the device
// handle and the text list.
#pragma once

#include <scoutline/adapter.h>
#include <scoutline/adapter_list.h>
#include <scoutline/com/interfaces.h>

#include <atl/atlcom.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

class Ccom_device;

// Private interface by which the server recognises its own device objects
// when a client hands one back (device_next).
VX_DEFINE_GUID(IID_Idevice_record, "{CF913DE5-748E-4A90-9152-86AB35676B98}");
struct Idevice_record : IUnknown {
    virtual Ccom_device* device_object() = 0;
};
VX_DEFINE_UUIDOF(Idevice_record, IID_Idevice_record);

namespace scoutline {

// The process-wide adapter list, built on first use and kept to the end.
qm::vx::adapter_list_t& adapter_list();
// Test hook: the next use of the list scans the adapters again.
void reset_adapter_list();

// The description text of a failed vector index.
std::string illegal_index_text(LONG index, size_t length);

} // namespace scoutline

class Ccom_adapter;

class Cmanager : public CComObjectRootEx<CComSingleThreadModel>,
                 public CComCoClass<Cmanager, &CLSID_manager>,
                 public IDispatchImpl<Imanager, &IID_Imanager, &LIBID_SCOUTLINELib> {
public:
    DECLARE_CLASSFACTORY_SINGLETON(Cmanager)
    DECLARE_REGISTRY_DATA("manager Class", "Scoutline.manager.1", "Scoutline.manager", true, true, nullptr,
                          LIBID_SCOUTLINELib, nullptr, &APPID_Scoutline)
    BEGIN_COM_MAP(Cmanager)
    COM_INTERFACE_ENTRY(Imanager)
    COM_INTERFACE_ENTRY2(IDispatch, Imanager)
    END_COM_MAP()

    HRESULT show_console() override;
    HRESULT get_adapters(IDispatch** vector) override;
    HRESULT adapter_get(BSTR name, IDispatch** adapter) override;

    // Called by an adapter object on its last release.
    void forget(const std::string& name, Ccom_adapter* adapter);
    size_t cached_adapters() const { return cache.size(); }

private:
    // Adapter objects by name; not referenced, they leave on their last release.
    std::map<std::string, Ccom_adapter*> cache;
};

class Ccom_adapter : public CComObjectRootEx<CComSingleThreadModel>,
                     public CComCoClass<Ccom_adapter, &CLSID_com_adapter>,
                     public IDispatchImpl<Icom_adapter, &IID_Icom_adapter, &LIBID_SCOUTLINELib> {
public:
    DECLARE_REGISTRY_DATA("com_adapter Class", "Scoutline.com_adapter.1", "Scoutline.com_adapter", true, true, nullptr,
                          LIBID_SCOUTLINELib, nullptr, &APPID_Scoutline)
    BEGIN_COM_MAP(Ccom_adapter)
    COM_INTERFACE_ENTRY(Icom_adapter)
    COM_INTERFACE_ENTRY2(IDispatch, Icom_adapter)
    END_COM_MAP()

    void bind(std::unique_ptr<qm::vx::adapter_t> engine, Cmanager* owner, const std::string& name);
    // Leaves the manager's cache and destroys the engine (threads stop,
    // adapter closes, address history saved).
    void FinalRelease();
    qm::vx::adapter_t* get_engine() const { return engine.get(); }

    HRESULT get_autoassign(LONG* on) override;
    HRESULT put_autoassign(LONG on) override;
    HRESULT get_ip(BSTR* ip) override;
    HRESULT get_ip_subnet(BSTR* mask) override;
    HRESULT get_ip_start(BSTR* ip) override;
    HRESULT put_ip_start(BSTR ip) override;
    HRESULT get_ip_end(BSTR* ip) override;
    HRESULT put_ip_end(BSTR ip) override;
    HRESULT get_ip_start_default(BSTR* ip) override;
    HRESULT get_ip_end_default(BSTR* ip) override;
    HRESULT device_first(IDispatch** device) override;
    HRESULT device_next(IDispatch* current, IDispatch** device) override;
    HRESULT get_send_reservation(LONG* on) override;
    HRESULT put_send_reservation(LONG on) override;
    HRESULT start() override;
    HRESULT device_get(BSTR mac, IDispatch** device) override;
    HRESULT device_remove(BSTR mac, LONG* removed) override;

private:
    HRESULT new_device(qm::vx::device_ptr record, IDispatch** device);

    // Shared only so that device objects can tell when it is gone; this
    // object is its one owner.
    std::shared_ptr<qm::vx::adapter_t> engine;
    Cmanager* owner = nullptr;
    std::string name;
};

class Ccom_device : public CComObjectRootEx<CComSingleThreadModel>,
                    public CComCoClass<Ccom_device, &CLSID_com_device>,
                    public IDispatchImpl<Icom_device, &IID_Icom_device, &LIBID_SCOUTLINELib>,
                    public Idevice_record {
public:
    DECLARE_REGISTRY_DATA("com_device Class", "Scoutline.com_device.1", "Scoutline.com_device", true, true, nullptr,
                          LIBID_SCOUTLINELib, nullptr, &APPID_Scoutline)
    BEGIN_COM_MAP(Ccom_device)
    COM_INTERFACE_ENTRY(Icom_device)
    COM_INTERFACE_ENTRY2(IDispatch, Icom_device)
    COM_INTERFACE_ENTRY(Idevice_record)
    END_COM_MAP()

    // A record of `engine`'s table, or null for an unbound object.
    void bind(qm::vx::device_ptr record, std::weak_ptr<qm::vx::adapter_t> engine);
    // The record while both it and its engine exist; the object becomes
    // unbound when the engine goes.
    qm::vx::device_ptr bound_record();
    Ccom_device* device_object() override { return this; }

    HRESULT get_ip(BSTR* ip) override;
    HRESULT put_ip(BSTR ip) override;
    HRESULT get_mac(BSTR* mac) override;
    HRESULT get_age(LONG* ms) override;
    HRESULT get_valid(LONG* valid) override;

private:
    qm::vx::device_ptr record;
    std::weak_ptr<qm::vx::adapter_t> engine;
};

class Ccom_bstr_vector : public CComObjectRootEx<CComSingleThreadModel>,
                         public CComCoClass<Ccom_bstr_vector, &CLSID_com_bstr_vector>,
                         public IDispatchImpl<Icom_bstr_vector, &IID_Icom_bstr_vector, &LIBID_SCOUTLINELib>,
                         public ISupportErrorInfoImpl<&IID_Icom_bstr_vector> {
public:
    DECLARE_REGISTRY_DATA("com_bstr_vector Class", "Scoutline.com_bstr_vector.1", "Scoutline.com_bstr_vector", true,
                          true, nullptr, LIBID_SCOUTLINELib, nullptr, &APPID_Scoutline)
    BEGIN_COM_MAP(Ccom_bstr_vector)
    COM_INTERFACE_ENTRY(Icom_bstr_vector)
    COM_INTERFACE_ENTRY2(IDispatch, Icom_bstr_vector)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    static constexpr DISPID first_element = 256;

    std::vector<std::string> items;

    HRESULT get_length(LONG* length) override;
    HRESULT at(LONG index, BSTR* text) override;
    // DISPIDs from 256 on address the elements (property get only).
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* arg_err) override;
};
