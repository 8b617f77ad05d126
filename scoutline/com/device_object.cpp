// The device object: a handle on one record of an engine's table. It shares
// the record, so it never reaches freed memory, and it becomes unbound when
// its engine goes.
#include <scoutline/com/objects.h>

#include <algorithm>

void Ccom_device::bind(qm::vx::device_ptr new_record, std::weak_ptr<qm::vx::adapter_t> new_engine)
{
    record = std::move(new_record);
    engine = std::move(new_engine);
}

qm::vx::device_ptr Ccom_device::bound_record()
{
    if (record && engine.expired())
        record.reset();
    return record;
}

HRESULT Ccom_device::get_ip(BSTR* ip)
{
    auto r = bound_record();
    if (!r)
        return S_OK;
    if (!ip)
        return E_POINTER;
    *ip = com::bstr_from_utf8(r->get_ip().to_string());
    return *ip ? S_OK : E_OUTOFMEMORY;
}

HRESULT Ccom_device::put_ip(BSTR ip)
{
    if (auto r = bound_record()) {
        qm::ip_address_t address;
        address.assign_text(com::bstr_to_utf8(ip));
        r->request_ip(address);
    }
    return S_OK;
}

HRESULT Ccom_device::get_mac(BSTR* mac)
{
    auto r = bound_record();
    if (!r)
        return S_OK;
    if (!mac)
        return E_POINTER;
    *mac = com::bstr_from_utf8(r->get_mac().to_string());
    return *mac ? S_OK : E_OUTOFMEMORY;
}

HRESULT Ccom_device::get_age(LONG* ms)
{
    auto r = bound_record();
    if (!r)
        return S_OK;
    if (!ms)
        return E_POINTER;
    // A device silent for 2^31 ms or more stays at the largest age, never negative.
    *ms = static_cast<LONG>(std::min<uint32_t>(r->get_age(), 0x7FFFFFFFu));
    return S_OK;
}

HRESULT Ccom_device::get_valid(LONG* valid)
{
    if (!valid)
        return E_POINTER;
    *valid = bound_record() ? 1 : 0;
    return S_OK;
}
