// The devices' layer-2 behaviour: periodic announcements, answers to the
// server's reservation requests, adoption of RARP-assigned addresses and ARP
// replies for the addresses they own.
#pragma once

#include <chrono>
#include <functional>

#include "component.h"
#include "device.h"
#include "events.h"
#include "l2/link.h"

namespace devsim::l2 {

class responder_t : public component_t {
public:
    using send_fn = std::function<bool(const frame_t&)>;
    // Receives the IPv4 frames (see link_t::receive for the flag).
    using ipv4_fn = std::function<void(const uint8_t*, size_t, bool checksum_ready)>;

    // Frames go out through `send`; `link`, when given, is read for input.
    responder_t(world_t& world, event_log_t& log, send_fn send, link_t* link, std::chrono::milliseconds period,
                bool verbose);

    int fd() const override { return link_ ? link_->fd() : -1; }
    void on_readable() override;
    clock_t_::time_point deadline() const override { return next_announce_; }
    void on_deadline(clock_t_::time_point now) override;

    void set_ipv4_handler(ipv4_fn handler) { ipv4_ = std::move(handler); }
    void announce_all();
    void handle_frame(const uint8_t* data, size_t size, bool checksum_ready = true);

private:
    void announce(const device_t& device);
    void on_rarp(const uint8_t* data, size_t size);
    void on_arp(const uint8_t* data, size_t size);

    world_t& world_;
    event_log_t& log_;
    send_fn send_;
    ipv4_fn ipv4_;
    link_t* link_;
    std::chrono::milliseconds period_;
    bool verbose_;
    clock_t_::time_point next_announce_;
};

} // namespace devsim::l2
