#include "l2/responder.h"

namespace devsim::l2 {

responder_t::responder_t(world_t& world, event_log_t& log, send_fn send, link_t* link, std::chrono::milliseconds period,
                         bool verbose)
    : world_(world), log_(log), send_(std::move(send)), link_(link), period_(period), verbose_(verbose),
      next_announce_(clock_t_::now())
{}

void responder_t::on_readable()
{
    uint8_t buffer[2048];
    for (;;) {
        bool checksum_ready = true;
        long got = link_->receive(buffer, sizeof buffer, &checksum_ready);
        if (got < 0)
            return;
        handle_frame(buffer, static_cast<size_t>(got), checksum_ready);
    }
}

void responder_t::on_deadline(clock_t_::time_point now)
{
    announce_all();
    next_announce_ = now + period_;
}

void responder_t::announce_all()
{
    for (const auto& device : world_.devices)
        announce(device);
}

void responder_t::announce(const device_t& device)
{
    frame_t frame =
        build_announcement(device.announce_destination(), device.mac, device.announced_ip(), device.shape());
    bool ok = send_(frame);
    if (verbose_ || !ok)
        log_.line(std::string(ok ? "announce " : "send-failed ") + mac_text(device.mac) + " " +
                  ip_text(device.announced_ip()));
}

void responder_t::handle_frame(const uint8_t* data, size_t size, bool checksum_ready)
{
    auto eth = parse_ethernet(data, size);
    if (!eth || world_.owns(eth->src))
        return; // our own frames seen again
    switch (eth->type) {
    case ethertype_device:
        if (is_reservation_request(data, size)) {
            ++world_.reservations;
            log_.write_state(world_); // before the line, so a reader of the line finds it
            log_.line("reservation " + hex_text(data, size));
            announce_all();
        }
        break;
    case ethertype_rarp:
        on_rarp(data, size);
        break;
    case ethertype_arp:
        on_arp(data, size);
        break;
    case ethertype_ipv4:
        if (ipv4_)
            ipv4_(data, size, checksum_ready);
        break;
    default:
        break;
    }
}

void responder_t::on_rarp(const uint8_t* data, size_t size)
{
    auto arp = parse_arp(data, size);
    if (!arp || arp->opcode != 4)
        return;
    device_t* device = world_.find(arp->target_mac);
    if (!device)
        return;
    if (device->has(quirk::ignore_rarp)) {
        log_.line("rarp-ignored " + mac_text(device->mac) + " " + ip_text(arp->target_ip));
        return;
    }
    device->ip = arp->target_ip;
    log_.write_state(world_);
    log_.line("assigned " + mac_text(device->mac) + " " + ip_text(device->ip));
    announce(*device);
}

void responder_t::on_arp(const uint8_t* data, size_t size)
{
    auto arp = parse_arp(data, size);
    if (!arp || arp->opcode != 1 || arp->target_ip == 0)
        return;
    auto eth = parse_ethernet(data, size);
    log_.line("arp-request " + mac_text(eth->src) + " " + ip_text(arp->target_ip) + " " + mac_text(arp->target_mac));
    auto answer = [&](const mac_t& mac, const char* who) {
        frame_t reply = build_arp_reply(mac, arp->target_ip, data, size);
        send_(reply);
        log_.line(std::string("arp-reply ") + mac_text(mac) + " " + ip_text(arp->target_ip) + " " + who);
    };
    for (const auto& device : world_.devices)
        if (device.ip == arp->target_ip)
            answer(device.mac, "device");
    for (const auto& squatter : world_.squatters)
        if (squatter.ip == arp->target_ip)
            answer(squatter.mac, "squatter");
}

} // namespace devsim::l2
