// The console's memory of the devices the discovery server reports on the
// selected adapter: one record per MAC, a second index by address, the dead
// state from the device's age, and three events for the poll view.
#pragma once

#include <scoutline/com/interfaces.h>

#include <qm/address.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct PolledValue {
    int32_t type = 0;  // SNMP syntax of the last reading, 0 before the first
    std::string base;  // first reading of a counter
    std::string shown; // what the list displays
};

struct DeviceRecord {
    std::string mac;
    std::string ip;
    int32_t age = 0;
    int dead = 0;
    std::map<std::string, PolledValue> values; // by OID, filled by the poll view
};

// An address text as the console compares it; text that does not parse
// counts as 0.0.0.0.
qm::ip_address_t ParseIp(const std::string& text);

class DeviceTable {
public:
    DeviceTable();
    virtual ~DeviceTable();
    DeviceTable(const DeviceTable&) = delete;
    DeviceTable& operator=(const DeviceTable&) = delete;

    // The device is alive and reachable at ip.
    virtual void OnDeviceUp(const std::string& ip, DeviceRecord& record) = 0;
    // The device is no longer reachable at ip (dead, or its address changed).
    virtual void OnDeviceDown(const std::string& ip, DeviceRecord& record) = 0;
    // Periodic refresh of a device that has an address.
    virtual void OnDeviceRefresh(const std::string& ip, DeviceRecord& record) = 0;

    // Walks the server's devices into the table; a failed call is fatal.
    // Without an adapter there is nothing to walk.
    void Refresh();
    void Upsert(const std::string& mac, const std::string& ip, int32_t age);
    // OnDeviceRefresh for every addressed device, in order of its IP text.
    void NotifyAll();
    int Count() const;
    int ActiveCount() const;
    // Asks the server to forget dead and unaddressed devices, then forgets
    // every device. Throws _com_error when the server fails.
    void Clear();
    // The adapter's network (default range start AND mask) and mask; throws
    // _com_error when the server fails, 0.0.0.0 without an adapter.
    qm::ip_address_t AdapterNetwork();
    qm::ip_address_t AdapterMask();

    // An alive device other than record that reports the address, or null.
    DeviceRecord* OtherAt(const std::string& ip, const DeviceRecord* record) const;

    const std::map<std::string, DeviceRecord*>& ByIp() const { return byIp; }
    const std::map<std::string, std::unique_ptr<DeviceRecord>>& ByMac() const { return byMac; }
    Icom_adapter* Adapter() const { return adapter; }
    int32_t AgeLimit() const { return ageLimit; }

protected:
    CComPtr<Icom_adapter> adapter;
    std::map<std::string, std::unique_ptr<DeviceRecord>> byMac;
    std::map<std::string, DeviceRecord*> byIp;
    int32_t ageLimit;

private:
    void Walk();
    void EraseIp(const std::string& ip, const DeviceRecord* record);
};
