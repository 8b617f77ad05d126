// UDP for the simulated devices on the simulator's raw socket: each device
// owns its address and MAC, and services bind (device, port) pairs.
//
// A service binds a port of a device with a handler; every datagram that
// arrives at that device's MAC and current address for that port reaches the
// handler, which answers with `reply` (from any local port of the device) or
// `send`. Ports can be bound and released at run time, also from inside a
// handler (a TFTP server answers each transfer from a fresh port and keeps it
// for the transfer). Datagrams to unbound ports, to devices without an
// address, fragments and malformed packets are dropped and counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

#include "device.h"
#include "udp/ipv4.h"

namespace devsim::udp {

struct datagram_t {
    device_t& device;   // the receiving device
    uint32_t source_ip; // the sender, host order
    uint16_t source_port;
    uint16_t destination_port; // the device's port it came to
    const uint8_t* data;
    size_t size;
};

struct stack_counters {
    unsigned long received = 0;  // datagrams handed to a handler
    unsigned long malformed = 0; // IPv4 frames to a device that failed a check
    unsigned long unbound = 0;   // datagrams to a port nobody bound, or to a device without address
    unsigned long sent = 0;
    unsigned long send_failed = 0; // no MAC known for the peer, too large, or the link refused
};

class stack_t {
public:
    using send_frame_fn = std::function<bool(const frame_t&)>;
    using handler_fn = std::function<void(const datagram_t&)>;

    // `world.devices` must not grow or shrink while the stack lives.
    stack_t(world_t& world, send_frame_fn send_frame);

    // false when the port is taken (or is 0).
    bool bind(const device_t& device, uint16_t port, handler_fn handler);
    // Binds a free port from 49152..65535; returns it, or 0 when none is free.
    uint16_t bind_any(const device_t& device, handler_fn handler);
    void release(const device_t& device, uint16_t port);
    bool bound(const device_t& device, uint16_t port) const;

    // Sends from the device's address and `source_port` to a peer the
    // device has heard from (its MAC is learnt from what it sent).
    bool send(device_t& device, uint16_t source_port, uint32_t ip, uint16_t port, const uint8_t* data, size_t size);
    bool reply(const datagram_t& to, uint16_t source_port, const uint8_t* data, size_t size)
    {
        return send(to.device, source_port, to.source_ip, to.source_port, data, size);
    }

    // An IPv4 frame from the link (see parse_datagram for the flag).
    void handle_frame(const uint8_t* frame, size_t size, bool udp_checksum_ready = true);

    const stack_counters& counters() const { return counters_; }

private:
    static uint64_t key(const device_t& device, uint16_t port)
    {
        return static_cast<uint64_t>(device.index) << 16 | port;
    }
    static uint64_t mac_key(const mac_t& mac);

    send_frame_fn send_frame_;
    std::unordered_map<uint64_t, device_t*> by_mac_;
    std::unordered_map<uint64_t, std::shared_ptr<handler_fn>> ports_;
    std::unordered_map<uint32_t, mac_t> neighbours_; // peer address -> MAC, learnt from received datagrams
    uint16_t next_ephemeral_ = 49152;
    stack_counters counters_;
};

} // namespace devsim::udp
