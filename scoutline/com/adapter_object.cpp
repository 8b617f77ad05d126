// The adapter object: the engine of one adapter name, alive while clients
// hold the object. Every member does nothing when no engine was found.
#include <scoutline/com/objects.h>

namespace {

HRESULT text_out(BSTR* out, const std::string& text)
{
    if (!out)
        return E_POINTER;
    *out = com::bstr_from_utf8(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

qm::ip_address_t ip_from(BSTR text)
{
    qm::ip_address_t ip;
    ip.assign_text(com::bstr_to_utf8(text));
    return ip;
}

qm::mac_address_t mac_from(BSTR text)
{
    qm::mac_address_t mac;
    mac.assign_text(com::bstr_to_utf8(text));
    return mac;
}

} // namespace

void Ccom_adapter::bind(std::unique_ptr<qm::vx::adapter_t> new_engine, Cmanager* new_owner, const std::string& new_name)
{
    engine = std::move(new_engine);
    owner = new_owner;
    name = new_name;
}

void Ccom_adapter::FinalRelease()
{
    if (owner)
        owner->forget(name, this);
    owner = nullptr;
    engine.reset();
}

HRESULT Ccom_adapter::new_device(qm::vx::device_ptr record, IDispatch** device)
{
    CComObject<Ccom_device>* object = nullptr;
    HRESULT hr = CComObject<Ccom_device>::CreateInstance(&object);
    if (FAILED(hr))
        return hr;
    object->AddRef();
    object->bind(std::move(record), engine);
    hr = object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(device));
    object->Release();
    return hr;
}

HRESULT Ccom_adapter::get_autoassign(LONG* on)
{
    if (!engine)
        return S_OK;
    if (!on)
        return E_POINTER;
    *on = engine->get_autoassign() ? 1 : 0;
    return S_OK;
}

HRESULT Ccom_adapter::put_autoassign(LONG on)
{
    if (engine)
        engine->set_autoassign(on != 0);
    return S_OK;
}

HRESULT Ccom_adapter::get_ip(BSTR* ip) { return engine ? text_out(ip, engine->get_ip().to_string()) : S_OK; }

HRESULT Ccom_adapter::get_ip_subnet(BSTR* mask)
{
    return engine ? text_out(mask, engine->get_mask().to_string()) : S_OK;
}

HRESULT Ccom_adapter::get_ip_start(BSTR* ip)
{
    return engine ? text_out(ip, engine->get_ip_start().to_string()) : S_OK;
}

HRESULT Ccom_adapter::put_ip_start(BSTR ip)
{
    if (engine)
        engine->set_ip_start(ip_from(ip));
    return S_OK;
}

HRESULT Ccom_adapter::get_ip_end(BSTR* ip) { return engine ? text_out(ip, engine->get_ip_end().to_string()) : S_OK; }

HRESULT Ccom_adapter::put_ip_end(BSTR ip)
{
    if (engine)
        engine->set_ip_end(ip_from(ip));
    return S_OK;
}

HRESULT Ccom_adapter::get_ip_start_default(BSTR* ip)
{
    return engine ? text_out(ip, engine->get_ip_start_default().to_string()) : S_OK;
}

HRESULT Ccom_adapter::get_ip_end_default(BSTR* ip)
{
    return engine ? text_out(ip, engine->get_ip_end_default().to_string()) : S_OK;
}

HRESULT Ccom_adapter::device_first(IDispatch** device)
{
    if (!engine)
        return S_OK;
    if (!device)
        return E_POINTER;
    return new_device(engine->device_first(), device);
}

HRESULT Ccom_adapter::device_next(IDispatch* current, IDispatch** device)
{
    if (!engine || !current)
        return S_OK;
    if (!device)
        return E_POINTER;
    Idevice_record* handle = nullptr;
    if (FAILED(current->QueryInterface(IID_Idevice_record, reinterpret_cast<void**>(&handle))) || !handle)
        return S_OK;
    qm::vx::device_ptr record = handle->device_object()->bound_record();
    handle->Release();
    return new_device(engine->device_next(record), device);
}

HRESULT Ccom_adapter::get_send_reservation(LONG* on)
{
    if (!engine)
        return S_OK;
    if (!on)
        return E_POINTER;
    *on = engine->get_send_reservation() ? 1 : 0;
    return S_OK;
}

HRESULT Ccom_adapter::put_send_reservation(LONG on)
{
    if (engine)
        engine->set_send_reservation(on != 0);
    return S_OK;
}

HRESULT Ccom_adapter::start()
{
    if (engine)
        engine->start();
    return S_OK;
}

HRESULT Ccom_adapter::device_get(BSTR mac, IDispatch** device)
{
    if (!engine)
        return S_OK;
    if (!device)
        return E_POINTER;
    return new_device(engine->device_get(mac_from(mac)), device);
}

HRESULT Ccom_adapter::device_remove(BSTR mac, LONG* removed)
{
    if (!engine)
        return S_OK;
    if (!removed)
        return E_POINTER;
    *removed = engine->device_remove(mac_from(mac)) ? 1 : 0;
    return S_OK;
}
