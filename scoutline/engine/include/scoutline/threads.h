// Worker threads of an adapter engine: receive, reservation sender and the
// address assignment (ARP) state machine.
#pragma once

#include <scoutline/types.h>

#include <qm/thread.h>

#include <cstdint>

namespace qm::vx {

class adapter_t;

class adapter_thread_t : public qm::proc::thread_t {
public:
    explicit adapter_thread_t(adapter_t* adapter) : adapter(adapter) {}

protected:
    adapter_t* adapter;
};

// Keeps ten reads outstanding on the adapter and hands every completed frame
// to the engine's parser.
class packet_thread_t : public adapter_thread_t {
public:
    using adapter_thread_t::adapter_thread_t;
    ~packet_thread_t() override { stop(); }

    static constexpr int buffer_count = 10;
    static constexpr uint32_t wait_ms = 3000;

protected:
    void thread_function() override;
};

// Multicasts a reservation request every 1666 ms.
class reservation_thread_t : public adapter_thread_t {
public:
    using adapter_thread_t::adapter_thread_t;
    ~reservation_thread_t() override { stop(); }

    static constexpr uint32_t period_ms = 1666;

protected:
    void thread_function() override;
};

// Works through the assignment queue one item at a time: finds an address no
// one answers for, hands it out by RARP reply and verifies it by ARP.
class arp_thread_t : public adapter_thread_t {
public:
    using adapter_thread_t::adapter_thread_t;
    ~arp_thread_t() override { stop(); }

    enum : int32_t { IDLE = 0, IP_FIND = 1, IP_VERIFY = 2 };

protected:
    void thread_function() override;

private:
    void read_settings();
    void step_idle();
    void start_find();
    void step_find();
    void step_verify();
    void assign(const assignment_item_t& item);
    bool test_reply();
    void send_arp_request(const qm::ip_address_t& address);

    int32_t state = IDLE;
    int32_t rarp_left = 0;
    int32_t arp_left = 0;
    int32_t arp_retries = 5;
    int32_t rarp_retries = 5;
    int32_t sleep_ms = 100;
};

} // namespace qm::vx
