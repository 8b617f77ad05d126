// The discovery engine of one network adapter: opens and programs the adapter,
// parses every received frame, keeps the table of devices heard on the
// segment, holds the work queues of the address assignment and owns the
// adapter's worker threads.
#pragma once

#include <scoutline/ip_history.h>
#include <scoutline/types.h>

#include <qm/address.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

class LogFile;

namespace qm::vx {

class adapter_t;
class packet_thread_t;
class arp_thread_t;
class reservation_thread_t;

// The server's log, "scoutline.log" in the program's directory once an
// engine has been built.
LogFile& server_log();

// The default assignment range of an adapter address: .1 to .199 of its
// network, cut so that it never holds the address itself when that lies in
// .1 to .199. Without an address the range is 0.0.0.0 to 0.0.0.0.
void default_range(const qm::ip_address_t& ip, const qm::ip_address_t& mask, qm::ip_address_t& start,
                   qm::ip_address_t& end);

// Device records reach their engine through this link, which the engine
// clears when it goes, so a record kept by a client outlives its engine safely.
struct adapter_link_t {
    std::shared_mutex lock;
    adapter_t* adapter = nullptr;
};

// One device heard on the segment. Records are shared: the engine's table holds
// one reference, and anyone who was handed a record may keep it alive.
class device_t {
public:
    device_t(const qm::mac_address_t& mac, std::shared_ptr<adapter_link_t> adapter);

    device_t(const device_t&) = delete;
    device_t& operator=(const device_t&) = delete;

    qm::ip_address_t get_ip();
    void set_ip(const qm::ip_address_t& address);
    // The user's manual assignment of an address to this device. Does nothing
    // once the engine is gone.
    void request_ip(const qm::ip_address_t& address);
    qm::mac_address_t get_mac() const { return mac; }
    // Milliseconds since the device was last heard.
    uint32_t get_age();
    void refresh();

    // Guarded by the engine's adapter lock.
    bool failed = false; // an assignment got no answer at all
    bool queued = false; // an assignment is queued

private:
    qm::ip_address_t ip;
    const qm::mac_address_t mac;
    std::mutex ip_lock;
    std::mutex age_lock;
    std::shared_ptr<adapter_link_t> adapter;
    qm::tick_timer_t heard;
};

using device_ptr = std::shared_ptr<device_t>;

class adapter_t {
public:
    explicit adapter_t(const adapter_info_t& info);
    ~adapter_t();

    adapter_t(const adapter_t&) = delete;
    adapter_t& operator=(const adapter_t&) = delete;

    void open();
    void start();
    void stop();

    bool packet_send(const uint8_t* frame, uint32_t length);
    // A completed read: the library's receive buffer (frame from byte 56) and
    // the number of frame bytes received.
    void parse_frame(const uint8_t* buffer, size_t frame_length);
    void touch(const qm::mac_address_t& mac);
    void request_manual_ip(const qm::mac_address_t& mac, const qm::ip_address_t& ip);

    // Assignment queue; each call takes the queue lock for its own duration.
    bool assignment_empty();
    // The front item; only the ARP thread uses it, and updates it in place.
    assignment_item_t& assignment_front();
    void assignment_pop();
    void assignment_push(const assignment_item_t& item);

    // ARP response queue.
    bool arp_response_empty();
    arp_response_item_t arp_response_front();
    void arp_response_pop();
    void arp_response_push(const arp_response_item_t& item);
    void arp_response_clear();
    size_t arp_response_size();

    bool get_autoassign();
    void set_autoassign(bool on);
    bool get_send_reservation();
    void set_send_reservation(bool on);

    qm::mac_address_t get_own_mac();
    qm::ip_address_t get_ip();
    qm::ip_address_t get_mask();
    qm::ip_address_t get_ip_start();
    qm::ip_address_t get_ip_end();
    qm::ip_address_t get_ip_start_default();
    qm::ip_address_t get_ip_end_default();
    void set_ip_start(const qm::ip_address_t& ip);
    void set_ip_end(const qm::ip_address_t& ip);

    // Device table, in ascending MAC order.
    device_ptr device_first();
    device_ptr device_next(const device_t* record);
    device_ptr device_next(const device_ptr& record) { return device_next(record.get()); }
    device_ptr device_get(const qm::mac_address_t& mac);
    bool device_remove(const qm::mac_address_t& mac);
    size_t device_count();
    // Frames handed to parse_frame so far (for the benchmark).
    uint64_t frames_parsed() const { return parsed.load(std::memory_order_relaxed); }

    bool is_running() const { return running.load(); }
    bool is_open() const { return handle.load() != -1; }
    int32_t get_handle() const { return handle.load(); }
    const adapter_info_t& get_info() const { return info; }
    ip_history_t& get_history() { return history; }

private:
    friend class arp_thread_t;

    std::atomic<uint64_t> parsed{0};

    // A copy of a field guarded by the adapter lock.
    template <class T> T locked(const T& field)
    {
        std::lock_guard guard(adapter_lock);
        return field;
    }

    // Fields in the engine's order.
    std::atomic<int32_t> handle{-1};
    std::atomic<bool> running{false};
    ip_history_t history;
    std::mutex queue_lock;
    std::list<assignment_item_t> assignment_queue;
    std::list<arp_response_item_t> arp_response_queue;
    std::recursive_mutex adapter_lock;
    std::map<qm::mac_address_t, device_ptr> devices;
    qm::tick_timer_t sweep_timer;
    adapter_info_t info;
    bool autoassign = false;
    bool send_reservation = false;
    qm::mac_address_t own_mac;
    qm::ip_address_t ip;
    qm::ip_address_t mask;
    qm::ip_address_t ip_end;
    qm::ip_address_t ip_start;
    qm::ip_address_t ip_start_default;
    qm::ip_address_t ip_end_default;

    // Set once open has read the history section: only a section that was
    // read is rewritten, so an adapter that failed to open keeps its history.
    std::atomic<bool> history_loaded{false};
    // Serialises switching the reservation sender; never taken by a worker.
    std::mutex reservation_switch;
    std::shared_ptr<adapter_link_t> link;

    std::unique_ptr<packet_thread_t> receive_thread;
    std::unique_ptr<arp_thread_t> arp_thread;
    std::unique_ptr<reservation_thread_t> reservation_thread;
};

} // namespace qm::vx
