// The device table: one record per MAC heard, found or created as frames
// arrive, aged, iterated in MAC order and removed on request.
#include <scoutline/adapter.h>

#include <qm/console.h>

#include <ostream>

namespace qm::vx {

namespace {

// A device heard within this time loses its failed flag at the next sweep.
constexpr double sweep_interval_ms = 10000;
constexpr uint32_t sweep_recent_ms = 100000;

} // namespace

device_t::device_t(const qm::mac_address_t& mac, std::shared_ptr<adapter_link_t> adapter)
    : mac(mac), adapter(std::move(adapter))
{}

qm::ip_address_t device_t::get_ip()
{
    std::lock_guard guard(ip_lock);
    return ip;
}

void device_t::set_ip(const qm::ip_address_t& address)
{
    std::lock_guard guard(ip_lock);
    ip = address;
}

void device_t::request_ip(const qm::ip_address_t& address)
{
    // No record lock is held here: the engine takes its adapter lock inside.
    std::shared_lock guard(adapter->lock);
    if (adapter->adapter)
        adapter->adapter->request_manual_ip(mac, address);
}

uint32_t device_t::get_age()
{
    std::lock_guard guard(age_lock);
    return uint32_t(heard.elapsed());
}

void device_t::refresh()
{
    std::lock_guard guard(age_lock);
    heard.restart();
}

void adapter_t::touch(const qm::mac_address_t& mac)
{
    std::lock_guard guard(adapter_lock);
    auto it = devices.find(mac);
    if (it == devices.end())
        devices.emplace(mac, std::make_shared<device_t>(mac, link));
    else
        it->second->refresh();

    if (sweep_timer.elapsed() > sweep_interval_ms) {
        for (auto& [key, record] : devices)
            if (record->get_age() < sweep_recent_ms)
                record->failed = false;
        sweep_timer.restart();
    }
}

void adapter_t::request_manual_ip(const qm::mac_address_t& mac, const qm::ip_address_t& address)
{
    std::lock_guard guard(adapter_lock);
    auto it = devices.find(mac);
    if (it == devices.end())
        return;
    it->second->queued = true;
    it->second->failed = false;
    qm::console() << "Queueing manual IP assignment " << address << " " << mac << std::endl;
    assignment_push(assignment_item_t{mac, address, 0});
}

device_ptr adapter_t::device_first()
{
    std::lock_guard guard(adapter_lock);
    return devices.empty() ? nullptr : devices.begin()->second;
}

device_ptr adapter_t::device_next(const device_t* record)
{
    if (!record)
        return nullptr;
    std::lock_guard guard(adapter_lock);
    auto it = devices.upper_bound(record->get_mac());
    return it == devices.end() ? nullptr : it->second;
}

device_ptr adapter_t::device_get(const qm::mac_address_t& mac)
{
    std::lock_guard guard(adapter_lock);
    auto it = devices.find(mac);
    return it == devices.end() ? nullptr : it->second;
}

bool adapter_t::device_remove(const qm::mac_address_t& mac)
{
    // The record itself lives on while anyone still holds it.
    std::lock_guard guard(adapter_lock);
    return devices.erase(mac) > 0;
}

size_t adapter_t::device_count()
{
    std::lock_guard guard(adapter_lock);
    return devices.size();
}

} // namespace qm::vx
