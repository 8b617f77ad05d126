// The adapter engine: construction, open and programming of the adapter,
// start/stop of its threads, frame parsing, sending, queues and switches.
#include <scoutline/adapter.h>
#include <scoutline/filter_program.h>
#include <scoutline/frames.h>
#include <scoutline/threads.h>

#include <qm/console.h>
#include <qm/exception.h>
#include <qm/log_file.h>

#include <w32n.h>
#include <windows.h>

#include <cstring>
#include <ostream>
#include <sstream>

namespace qm::vx {

namespace {

// ARP replies queued while an assignment runs; a flood beyond this drops the
// oldest (one reply is consumed per step).
constexpr size_t arp_response_limit = 256;
constexpr DWORD send_wait_ms = 4000;
constexpr uint32_t stall_ms = 100;

std::string error_number(DWORD error) { return std::to_string(error); }

// One NDIS request, complete on return; false on failure.
bool ndis_request(int32_t handle, uint32_t type, uint32_t oid, void* data, uint32_t length)
{
    W32N_REQUEST request;
    std::memset(&request, 0, sizeof request);
    request.RequestType = type;
    request.Oid = oid;
    request.InformationBuffer = data;
    request.InformationBufferLength = length;
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    qm::wapi::handle_t event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    overlapped.hEvent = event.get();
    return W32N_MakeNdisRequest(handle, &request, &overlapped, 1) == 0;
}

} // namespace

void default_range(const qm::ip_address_t& ip, const qm::ip_address_t& mask, qm::ip_address_t& start,
                   qm::ip_address_t& end)
{
    start.clear();
    end.clear();
    if (ip.is_null())
        return;
    const uint32_t net = ip.number & mask.number;
    const uint32_t host = ip.number & ~mask.number;
    start.assign_number(net + 1);
    end.assign_number(net + 199);
    if (host < 200) {
        if (host <= 100)
            start.assign_number(ip.number + 1);
        else
            end.assign_number(ip.number - 1);
    }
}

LogFile& server_log()
{
    static LogFile log;
    return log;
}

adapter_t::adapter_t(const adapter_info_t& adapter_info)
    : history("VXHistory.ini"), info(adapter_info), ip(adapter_info.ip), mask(adapter_info.mask),
      link(std::make_shared<adapter_link_t>())
{
    link->adapter = this;
    receive_thread = std::make_unique<packet_thread_t>(this);
    arp_thread = std::make_unique<arp_thread_t>(this);
    reservation_thread = std::make_unique<reservation_thread_t>(this);
    server_log().file_name = GetProgramDirectory() + "scoutline.log";
    open();
    sweep_timer.restart();
}

adapter_t::~adapter_t()
{
    // Records kept by clients no longer reach this engine.
    {
        std::unique_lock guard(link->lock);
        link->adapter = nullptr;
    }
    qm::console() << "closing down adapter..." << std::endl;
    stop();
    std::lock_guard guard(adapter_lock);
    devices.clear();
}

void adapter_t::open()
{
    try {
        if (handle.load() != -1)
            throw qm::exception_t(qm::wapi::last_error_text());
        const int32_t opened = W32N_OpenAdapterA(info.open_name.c_str());
        handle = opened;
        if (opened == -1)
            throw qm::exception_t(qm::wapi::last_error_text());

        uint8_t address[16] = {};
        if (!ndis_request(opened, 0, oid_802_3_current_address, address, sizeof address)) {
            const DWORD error = W32N_GetLastError();
            qm::console() << "Failed to read adaptor MAC address: " << error << std::endl;
            throw qm::exception_t("Failed to read adaptor MAC address: " + error_number(error));
        }
        {
            std::lock_guard guard(adapter_lock);
            std::memcpy(own_mac.bytes, address, 6);
        }
        qm::console() << "Adaptor MAC address: " << get_own_mac() << std::endl;

        if (!W32N_SetBPFProgram(opened, receive_filter_program, DWORD(receive_filter_bytes))) {
            const DWORD error = W32N_GetLastError();
            qm::console() << "W32N_SetBPFProgram failed " << error << std::endl;
            throw qm::exception_t("W32N_SetBPFProgram failed " + error_number(error));
        }
        qm::console() << "Packet filter program set successfully." << std::endl;

        uint32_t filter = adapter_packet_filter;
        if (!ndis_request(opened, 1, oid_gen_current_packet_filter, &filter, sizeof filter)) {
            const DWORD error = W32N_GetLastError();
            qm::console() << "Failed to set adaptor to multicast mode " << error << std::endl;
            throw qm::exception_t("Failed to set adaptor to multicast mode " + error_number(error));
        }
        qm::console() << "Adaptor set to multicast mode successfully." << std::endl;

        uint8_t multicast[12];
        std::memcpy(multicast, reservation_multicast, 6);
        std::memcpy(multicast + 6, announcement_multicast, 6);
        if (!ndis_request(opened, 1, oid_802_3_multicast_list, multicast, sizeof multicast)) {
            const DWORD error = W32N_GetLastError();
            qm::console() << "Failed to set reservation MAC to multicast MAC list " << error << std::endl;
            throw qm::exception_t("Failed to set reservation MAC to multicast MAC list " + error_number(error));
        }
        qm::console() << "Adaptor set reservation MAC to MAC list." << std::endl;

        {
            std::lock_guard guard(adapter_lock);
            if (!ip.is_null()) {
                default_range(ip, mask, ip_start, ip_end);
                history.set_range(ip_start, ip_end);
                ip_start_default = ip_start;
                ip_end_default = ip_end;
            }
        }

        std::ostringstream summary;
        summary << "\nOpened adapter " << info.open_name << "\n"
                << "adapter title: " << info.name << "\n"
                << "MAC address:   " << get_own_mac() << "\n"
                << "IP address:    " << get_ip() << "\n"
                << "Subnet mask:   " << get_mask() << "\n"
                << "Default range: " << get_ip_start() << " to " << get_ip_end();
        qm::console() << summary.str() << std::endl;

        qm::console() << "Reading IP history" << std::endl;
        history.load(info.name);
        history_loaded = true;
        history.mark_own(get_ip());
    } catch (const qm::exception_t& e) {
        qm::console() << "AdapterOpen failure: " << e.what() << std::endl;
    }
}

void adapter_t::start()
{
    running = true;
    try {
        receive_thread->start();
        arp_thread->start();
    } catch (const qm::exception_t& e) {
        qm::console() << "AdapterOpen failure: " << e.what() << std::endl;
    }
}

void adapter_t::stop()
{
    running = false;
    receive_thread->stop();
    arp_thread->stop();
    {
        std::lock_guard sw(reservation_switch);
        reservation_thread->stop();
    }
    const int32_t opened = handle.exchange(-1);
    if (opened != -1)
        W32N_CloseAdapter(opened);
    qm::console() << "Writing IP history" << std::endl;
    // Saving deletes the section first: one never read would be lost.
    if (history_loaded)
        history.save(info.name);
}

bool adapter_t::packet_send(const uint8_t* frame, uint32_t length)
{
    std::lock_guard guard(adapter_lock);
    // The event is closed on every way out.
    qm::wapi::handle_t event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid())
        throw qm::exception_t("Can not create event for overlapped");
    if (!ResetEvent(event)) {
        qm::console() << "ResetEvent failed on overlapped event: " << GetLastError() << std::endl;
        throw qm::exception_t("ResetEvent failed on overlapped event");
    }
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = event.get();
    DWORD sent = 0;
    if (!W32N_PacketSend(handle.load(), frame, length, &sent, &overlapped)) {
        const DWORD error = W32N_GetLastError();
        if (error != ERROR_IO_PENDING) {
            qm::console() << "packet_send W32N Failure: " << error << std::endl;
            return false;
        }
    }
    try {
        if (!event.wait(send_wait_ms))
            throw qm::exception_t("WAIT_TIMEOUT in packet_send");
    } catch (const qm::exception_t& e) {
        qm::console() << "packet_send API Failure: " << e.what() << std::endl;
        return false;
    }
    return true;
}

void adapter_t::parse_frame(const uint8_t* buffer, size_t frame_length)
{
    const uint8_t* frame = buffer + receive_frame_offset;
    const size_t length = frame_length < receive_frame_capacity ? frame_length : receive_frame_capacity;
    parsed.fetch_add(1, std::memory_order_relaxed);

    switch (classify_frame(frame, length)) {
    case frame_kind_t::arp_reply: {
        arp_response_item_t item;
        read_arp_reply(frame, length, item.mac, item.ip);
        arp_response_push(item);
        return;
    }
    case frame_kind_t::arp_other:
    case frame_kind_t::device_other:
        return;
    case frame_kind_t::announcement: {
        const qm::mac_address_t source = frame_source(frame, length);
        if (source == get_own_mac())
            return;
        touch(source);
        const tag_walk_end_t end =
            walk_tags(frame, length, announcement_tags_offset, [&](const qm::ip_address_t& address) {
                std::lock_guard guard(adapter_lock);
                auto it = devices.find(source);
                if (it == devices.end())
                    return;
                device_t& record = *it->second;
                record.set_ip(address);
                if (!address.is_null()) {
                    history.add(source, address);
                } else if (autoassign && !record.failed && !record.queued) {
                    record.queued = true;
                    qm::console() << "Queueing auto IP assignment " << source << std::endl;
                    assignment_push(assignment_item_t{source, qm::ip_address_t(), 1});
                }
            });
        if (end == tag_walk_end_t::zero_length) {
            server_log().WriteCategory("tagLength", "tagLength is 0!!!");
            qm::sleep(stall_ms);
        }
        return;
    }
    case frame_kind_t::empty:
        server_log().WriteCategory("empty packet", "empty packet");
        qm::sleep(stall_ms);
        return;
    case frame_kind_t::unrecognized:
        server_log().WriteCategory("packet", "receive unrecognized packet");
        qm::sleep(stall_ms);
        qm::console() << "Received unrecognized packet (filter problem?)" << std::endl;
        return;
    }
}

bool adapter_t::assignment_empty()
{
    std::lock_guard guard(queue_lock);
    return assignment_queue.empty();
}

assignment_item_t& adapter_t::assignment_front()
{
    std::lock_guard guard(queue_lock);
    if (assignment_queue.empty())
        throw qm::exception_t("assignment queue is empty");
    return assignment_queue.front();
}

void adapter_t::assignment_pop()
{
    std::lock_guard guard(queue_lock);
    if (!assignment_queue.empty())
        assignment_queue.pop_front();
}

void adapter_t::assignment_push(const assignment_item_t& item)
{
    std::lock_guard guard(queue_lock);
    assignment_queue.push_back(item);
}

bool adapter_t::arp_response_empty()
{
    std::lock_guard guard(queue_lock);
    return arp_response_queue.empty();
}

arp_response_item_t adapter_t::arp_response_front()
{
    std::lock_guard guard(queue_lock);
    if (arp_response_queue.empty())
        throw qm::exception_t("ARP response queue is empty");
    return arp_response_queue.front();
}

void adapter_t::arp_response_pop()
{
    std::lock_guard guard(queue_lock);
    if (!arp_response_queue.empty())
        arp_response_queue.pop_front();
}

void adapter_t::arp_response_push(const arp_response_item_t& item)
{
    std::lock_guard guard(queue_lock);
    // With no assignment queued every reply would be discarded when the next
    // item starts anyway; keeping them only lets the queue grow without bound.
    if (assignment_queue.empty())
        return;
    if (arp_response_queue.size() >= arp_response_limit)
        arp_response_queue.pop_front();
    arp_response_queue.push_back(item);
}

void adapter_t::arp_response_clear()
{
    std::lock_guard guard(queue_lock);
    arp_response_queue.clear();
}

size_t adapter_t::arp_response_size()
{
    std::lock_guard guard(queue_lock);
    return arp_response_queue.size();
}

bool adapter_t::get_autoassign() { return locked(autoassign); }

void adapter_t::set_autoassign(bool on)
{
    std::lock_guard guard(adapter_lock);
    autoassign = on;
}

bool adapter_t::get_send_reservation() { return locked(send_reservation); }

void adapter_t::set_send_reservation(bool on)
{
    // The sender is started and stopped outside the adapter lock: it may be
    // waiting for that lock in packet_send, and stopping joins it.
    std::lock_guard sw(reservation_switch);
    if (on)
        reservation_thread->start();
    else
        reservation_thread->stop();
    std::lock_guard guard(adapter_lock);
    send_reservation = on;
}

qm::mac_address_t adapter_t::get_own_mac() { return locked(own_mac); }

qm::ip_address_t adapter_t::get_ip() { return locked(ip); }

qm::ip_address_t adapter_t::get_mask() { return locked(mask); }

qm::ip_address_t adapter_t::get_ip_start() { return locked(ip_start); }

qm::ip_address_t adapter_t::get_ip_end() { return locked(ip_end); }

qm::ip_address_t adapter_t::get_ip_start_default() { return locked(ip_start_default); }

qm::ip_address_t adapter_t::get_ip_end_default() { return locked(ip_end_default); }

void adapter_t::set_ip_start(const qm::ip_address_t& address)
{
    std::lock_guard guard(adapter_lock);
    ip_start = address;
    history.set_range(ip_start, ip_end);
}

void adapter_t::set_ip_end(const qm::ip_address_t& address)
{
    std::lock_guard guard(adapter_lock);
    ip_end = address;
    history.set_range(ip_start, ip_end);
}

} // namespace qm::vx
