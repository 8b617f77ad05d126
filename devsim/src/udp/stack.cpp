#include "udp/stack.h"

namespace devsim::udp {
namespace {

constexpr uint16_t first_ephemeral = 49152;
constexpr size_t max_neighbours = 65536;

} // namespace

uint64_t stack_t::mac_key(const mac_t& mac)
{
    uint64_t k = 0;
    for (uint8_t b : mac)
        k = k << 8 | b;
    return k;
}

stack_t::stack_t(world_t& world, send_frame_fn send_frame) : send_frame_(std::move(send_frame))
{
    for (auto& device : world.devices)
        by_mac_.emplace(mac_key(device.mac), &device);
}

bool stack_t::bind(const device_t& device, uint16_t port, handler_fn handler)
{
    if (port == 0)
        return false;
    return ports_.emplace(key(device, port), std::make_shared<handler_fn>(std::move(handler))).second;
}

uint16_t stack_t::bind_any(const device_t& device, handler_fn handler)
{
    auto shared = std::make_shared<handler_fn>(std::move(handler));
    for (unsigned tries = 0; tries < 65536u - first_ephemeral; ++tries) {
        uint16_t port = next_ephemeral_;
        next_ephemeral_ = next_ephemeral_ == 65535 ? first_ephemeral : static_cast<uint16_t>(next_ephemeral_ + 1);
        if (ports_.emplace(key(device, port), shared).second)
            return port;
    }
    return 0;
}

void stack_t::release(const device_t& device, uint16_t port) { ports_.erase(key(device, port)); }

bool stack_t::bound(const device_t& device, uint16_t port) const { return ports_.count(key(device, port)) != 0; }

bool stack_t::send(device_t& device, uint16_t source_port, uint32_t ip, uint16_t port, const uint8_t* data, size_t size)
{
    auto peer = neighbours_.find(ip);
    if (peer == neighbours_.end() || device.ip == 0 || size > max_payload) {
        ++counters_.send_failed;
        return false;
    }
    frame_t frame = build_datagram(peer->second, device.mac, device.ip, source_port, ip, port, data, size);
    if (!send_frame_(frame)) {
        ++counters_.send_failed;
        return false;
    }
    ++counters_.sent;
    device.out_octets += static_cast<uint32_t>(frame.size());
    return true;
}

void stack_t::handle_frame(const uint8_t* frame, size_t size, bool udp_checksum_ready)
{
    if (size < 14)
        return;
    mac_t destination;
    std::copy(frame, frame + 6, destination.begin());
    auto owner = by_mac_.find(mac_key(destination));
    if (owner == by_mac_.end())
        return; // for another station
    device_t& device = *owner->second;
    device.in_octets += static_cast<uint32_t>(size);

    auto v = parse_datagram(frame, size, udp_checksum_ready);
    if (!v) {
        ++counters_.malformed;
        return;
    }
    if (device.ip == 0 || v->destination_ip != device.ip) {
        ++counters_.unbound;
        return;
    }
    auto bound_port = ports_.find(key(device, v->destination_port));
    if (bound_port == ports_.end()) {
        ++counters_.unbound;
        return;
    }
    if (neighbours_.size() >= max_neighbours)
        neighbours_.clear();
    neighbours_[v->source_ip] = v->source_mac;
    ++counters_.received;
    // A handler may release its own port: keep the handler alive for the call.
    auto handler = bound_port->second;
    (*handler)(datagram_t{device, v->source_ip, v->source_port, v->destination_port, v->payload, v->size});
}

} // namespace devsim::udp
