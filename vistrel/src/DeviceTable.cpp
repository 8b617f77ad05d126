// The device table: the walk of the server's devices, the per-record state
// machine that reports addresses coming and going, and forgetting devices.
#include "DeviceTable.h"

#include "ComFailure.h"
#include "IniFile.h"
#include "IpValue.h"
#include "ServerCalls.h"

qm::ip_address_t ParseIp(const std::string& text)
{
    qm::ip_address_t address;
    address.assign_text(text);
    return address;
}

DeviceTable::DeviceTable() : ageLimit(ReadIniInt("Configuration", "Age To Die", 5000)) {}

DeviceTable::~DeviceTable() = default;

void DeviceTable::Refresh()
{
    if (!adapter)
        return;
    try {
        Walk();
    } catch (const _com_error& e) {
        ReportComError(e, "COM Scoutline, device access error(device update). ");
    }
}

void DeviceTable::Walk()
{
    CComPtr<IDispatch> current;
    CheckCall(adapter->device_first(&current.p), adapter.p);
    for (;;) {
        CComPtr<Icom_device> device = QueryAs<Icom_device>(current);
        CheckObject(device);
        LONG valid = 0;
        CheckCall(device->get_valid(&valid), device.p);
        if (!valid)
            return;
        BSTR text = nullptr;
        CheckCall(device->get_ip(&text), device.p);
        const std::string ip = TakeText(text);
        text = nullptr;
        CheckCall(device->get_mac(&text), device.p);
        const std::string mac = TakeText(text);
        LONG age = 0;
        CheckCall(device->get_age(&age), device.p);
        Upsert(mac, ip, static_cast<int32_t>(age));
        CComPtr<IDispatch> next;
        CheckCall(adapter->device_next(current, &next.p), adapter.p);
        current = next;
    }
}

void DeviceTable::EraseIp(const std::string& ip, const DeviceRecord* record)
{
    // Another device may have taken the address since: its entry stays.
    auto it = byIp.find(ip);
    if (it == byIp.end() || it->second != record)
        return;
    // Another device that reports the address too takes the entry over, so
    // it goes on being refreshed.
    if (DeviceRecord* other = OtherAt(ip, record))
        it->second = other;
    else
        byIp.erase(it);
}

DeviceRecord* DeviceTable::OtherAt(const std::string& ip, const DeviceRecord* record) const
{
    for (const auto& [mac, other] : byMac)
        if (other.get() != record && !other->dead && other->ip == ip)
            return other.get();
    return nullptr;
}

void DeviceTable::Upsert(const std::string& mac, const std::string& ip, int32_t age)
{
    const qm::ip_address_t address = ParseIp(ip);
    const bool newZero = address.is_null();

    auto it = byMac.find(mac);
    if (it == byMac.end()) {
        auto created = std::make_unique<DeviceRecord>();
        created->mac = mac;
        created->ip = ip;
        created->age = age;
        created->dead = age >= ageLimit ? 1 : 0;
        DeviceRecord& r = *created;
        byMac.emplace(mac, std::move(created));
        if (newZero)
            return;
        byIp[ip] = &r;
        if (!r.dead)
            OnDeviceUp(ip, r);
        return;
    }

    DeviceRecord& r = *it->second;
    const std::string old = r.ip;
    const qm::ip_address_t oldAddress = ParseIp(old);
    r.ip = ip;
    r.age = age;
    bool changed = false;
    if (age >= ageLimit && !r.dead) {
        r.dead = 1;
        changed = true;
    } else if (age < ageLimit && r.dead) {
        r.dead = 0;
        changed = true;
    }

    if (oldAddress.is_null()) {
        if (newZero)
            return;
        byIp[ip] = &r;
        if (!r.dead)
            OnDeviceUp(ip, r);
    } else if (newZero) {
        EraseIp(old, &r);
        OnDeviceDown(old, r);
    } else if (oldAddress != address) {
        EraseIp(old, &r);
        OnDeviceDown(old, r);
        byIp[ip] = &r;
        if (!r.dead)
            OnDeviceUp(ip, r);
    } else if (changed) {
        if (r.dead)
            OnDeviceDown(ip, r);
        else
            OnDeviceUp(ip, r);
    }
}

void DeviceTable::NotifyAll()
{
    for (auto& [ip, record] : byIp)
        OnDeviceRefresh(ip, *record);
}

int DeviceTable::Count() const { return static_cast<int>(byMac.size()); }

int DeviceTable::ActiveCount() const
{
    int active = 0;
    for (const auto& [mac, record] : byMac)
        if (!record->dead)
            ++active;
    return active;
}

void DeviceTable::Clear()
{
    for (const auto& [mac, record] : byMac) {
        if (!record->dead && !ParseIp(record->ip).is_null())
            continue;
        CheckObject(adapter);
        LONG removed = 0;
        CheckCall(adapter->device_remove(_bstr_t(mac.c_str()), &removed), adapter.p);
    }
    byIp.clear();
    byMac.clear();
}

qm::ip_address_t DeviceTable::AdapterNetwork()
{
    qm::ip_address_t network;
    if (!adapter)
        return network;
    BSTR text = nullptr;
    CheckCall(adapter->get_ip_start_default(&text), adapter.p);
    network = ParseIp(TakeText(text));
    network &= AdapterMask();
    return network;
}

qm::ip_address_t DeviceTable::AdapterMask()
{
    if (!adapter)
        return {};
    BSTR text = nullptr;
    CheckCall(adapter->get_ip_subnet(&text), adapter.p);
    return ParseIp(TakeText(text));
}
