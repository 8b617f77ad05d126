// Address assignment: a state machine stepped once per ARPSleepMS that finds
// an address no other station answers for (IP_FIND), hands it to the device
// with a RARP reply and verifies by ARP that the device now answers (IP_VERIFY).
#include <scoutline/adapter.h>
#include <scoutline/frames.h>
#include <scoutline/threads.h>

#include <qm/console.h>
#include <qm/log_file.h>

#include <windows.h>

#include <ostream>

namespace qm::vx {

void arp_thread_t::read_settings()
{
    const std::string path = adapter->get_history().path();
    arp_retries = int32_t(GetPrivateProfileIntA("Retries", "ARP", 5, path.c_str()));
    rarp_retries = int32_t(GetPrivateProfileIntA("Retries", "RARP", 5, path.c_str()));
    sleep_ms = int32_t(GetPrivateProfileIntA("Timeouts", "ARPSleepMS", 100, path.c_str()));
    if (arp_retries < 0)
        arp_retries = 0;
    if (rarp_retries < 0)
        rarp_retries = 0;
    // Each step sleeps at least 1 ms: 0 or less would spin a core.
    if (sleep_ms < 1)
        sleep_ms = 1;
}

void arp_thread_t::thread_function()
{
    state = IDLE;
    rarp_left = 0;
    arp_left = 0;
    read_settings();
    try {
        while (adapter->is_running()) {
            switch (state) {
            case IDLE:
                step_idle();
                break;
            case IP_FIND:
                step_find();
                break;
            case IP_VERIFY:
                step_verify();
                break;
            }
            sleep(DWORD(sleep_ms));
        }
    } catch (const qm::exception_t&) {
        qm::console() << "arp_thread shutting down..." << std::endl;
    }
    qm::console() << "arp_thread exiting..." << std::endl;
}

void arp_thread_t::send_arp_request(const qm::ip_address_t& address)
{
    qm::console() << "Sending ARP request for " << address << std::endl;
    uint8_t frame[arp_request_size];
    build_arp_request(frame, adapter->get_own_mac(), adapter->get_ip(), address);
    adapter->packet_send(frame, arp_request_size);
}

void arp_thread_t::step_idle()
{
    if (adapter->assignment_empty())
        return;
    if (!adapter->arp_response_empty())
        adapter->arp_response_clear();
    arp_left = arp_retries;
    start_find();
}

void arp_thread_t::start_find()
{
    assignment_item_t& front = adapter->assignment_front();
    if (front.automatic == 1) {
        front.ip = adapter->get_history().suggest(front);
        qm::console() << "History suggests " << front.ip << " for " << front.mac << std::endl;
    }
    const qm::ip_address_t address = front.ip;
    if (address.is_null()) {
        state = IDLE;
        adapter->assignment_pop();
        return;
    }
    state = IP_FIND;
    send_arp_request(address);
}

void arp_thread_t::step_find()
{
    const assignment_item_t item = adapter->assignment_front();
    if (adapter->arp_response_empty()) {
        if (arp_left > 0) {
            --arp_left;
            send_arp_request(item.ip);
        } else {
            qm::console() << "ARP retries expired on " << item.ip << std::endl;
            if (!adapter->assignment_empty()) {
                arp_left = arp_retries;
                rarp_left = rarp_retries;
                state = IP_VERIFY;
                assign(item);
            }
        }
        return;
    }
    if (test_reply() && state != IP_VERIFY) {
        // Another station answers for the address.
        if (item.automatic == 1) {
            arp_left = arp_retries;
            start_find();
        } else {
            qm::console() << "Aborting manual IP assignment " << item.ip << std::endl;
            adapter->assignment_pop();
            state = IDLE;
        }
    }
}

void arp_thread_t::step_verify()
{
    if (adapter->assignment_empty())
        return;
    const assignment_item_t item = adapter->assignment_front();
    if (adapter->arp_response_empty()) {
        if (arp_left > 0) {
            --arp_left;
            send_arp_request(item.ip);
        } else if (rarp_left > 0) {
            --rarp_left;
            if (!adapter->assignment_empty()) {
                arp_left = arp_retries;
                assign(item);
            }
        } else {
            state = IDLE;
            adapter->assignment_pop();
            {
                std::lock_guard guard(adapter->adapter_lock);
                auto it = adapter->devices.find(item.mac);
                if (it != adapter->devices.end()) {
                    it->second->failed = true;
                    it->second->queued = false;
                }
            }
            qm::console() << "No response from " << item.mac << std::endl;
        }
        return;
    }
    if (test_reply()) {
        adapter->assignment_pop();
        state = IDLE;
    }
}

void arp_thread_t::assign(const assignment_item_t& item)
{
    qm::console() << "Assigning " << item.ip << " to " << item.mac << std::endl;
    uint8_t rarp[rarp_reply_size];
    build_rarp_reply(rarp, adapter->get_own_mac(), adapter->get_ip(), item.mac, item.ip);
    adapter->packet_send(rarp, rarp_reply_size);
    qm::sleep(1);
    send_arp_request(item.ip);
    qm::sleep(1);
}

bool arp_thread_t::test_reply()
{
    try {
        const arp_response_item_t response = adapter->arp_response_front();
        adapter->arp_response_pop();
        const assignment_item_t item = adapter->assignment_front();
        if (response.ip != item.ip)
            return false;
        if (response.mac == item.mac) {
            qm::console() << "current state: " << (state == IP_VERIFY ? "IP_VERIFY" : "IP_FIND") << std::endl;
            state = IP_VERIFY;
        }
        {
            std::lock_guard guard(adapter->adapter_lock);
            auto it = adapter->devices.find(response.mac);
            if (it != adapter->devices.end()) {
                it->second->set_ip(response.ip);
                it->second->queued = false;
                it->second->failed = false;
            }
        }
        qm::console() << "Recieved ARP response " << response.ip << " from " << response.mac << std::endl;
        adapter->get_history().add(response.mac, response.ip);
        return true;
    } catch (const qm::exception_t& e) {
        qm::console() << "adapter_test_arp_response error: " << e.what() << std::endl;
        return false;
    }
}

} // namespace qm::vx
