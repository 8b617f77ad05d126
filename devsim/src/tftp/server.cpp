#include "tftp/server.h"

#include <strings.h>

#include <algorithm>

#include "tftp/packet.h"

namespace devsim::tftp {

std::string endpoint_text(const endpoint_t& e)
{
    return std::to_string(e.ip >> 24) + "." + std::to_string(e.ip >> 16 & 0xFF) + "." +
        std::to_string(e.ip >> 8 & 0xFF) + "." + std::to_string(e.ip & 0xFF) + ":" + std::to_string(e.port);
}

server_t::server_t(flash::flash_t& flash, faults_t& faults, transport_t transport, log_fn log)
    : flash_(flash), faults_(faults), transport_(std::move(transport)), log_(std::move(log))
{}

server_t::~server_t()
{
    for (const auto& t : transfers_)
        transport_.close_port(t.port);
}

void server_t::receive(uint16_t local_port, const endpoint_t& from, std::span<const uint8_t> packet, time_point now)
{
    if (faults_.silent)
        return;
    if (local_port == port)
        return request(from, packet, now);
    auto it =
        std::find_if(transfers_.begin(), transfers_.end(), [&](const transfer_t& t) { return t.port == local_port; });
    if (it == transfers_.end())
        return;
    if (!(it->peer == from)) {
        if (opcode_of(packet) != op_error)
            error(local_port, from, 5, "Unknown transfer ID");
        return;
    }
    it->last = now;
    on_transfer(*it, from, packet);
}

void server_t::request(const endpoint_t& from, std::span<const uint8_t> packet, time_point now)
{
    uint16_t op = opcode_of(packet);
    if (op == op_error)
        return; // an error is never answered
    auto r = parse_request(packet);
    if (!r)
        return error(port, from, 4, "Illegal TFTP operation");
    if (strcasecmp(r->mode.c_str(), "octet") != 0)
        return error(port, from, 4, "Only octet mode");
    int area = flash_.layout().find(r->name);
    if (area < 0)
        return error(port, from, 1, "File not found");
    bool writing = r->op == op_wrq;
    if (writing && faults_.refuse_writes)
        return error(port, from, 2, "Access violation");

    if (transfers_.size() >= max_transfers) {
        auto idlest = std::min_element(transfers_.begin(), transfers_.end(),
                                       [](const transfer_t& a, const transfer_t& b) { return a.last < b.last; });
        close(static_cast<size_t>(idlest - transfers_.begin()));
    }
    auto local = transport_.open_port();
    if (!local)
        return error(port, from, 0, "No free transfer port");
    if (log_)
        log_(std::string(writing ? "wrq " : "rrq ") + r->name + " " + endpoint_text(from));
    transfers_.push_back({*local, from, static_cast<size_t>(area), writing, 0, now});
    transfer_t& t = transfers_.back();
    if (writing) {
        flash_.erase(t.area);
        send(t.port, t.peer, ack_packet(0));
    } else {
        send_data(t, 1);
    }
}

void server_t::on_transfer(transfer_t& t, const endpoint_t& from, std::span<const uint8_t> packet)
{
    uint16_t op = opcode_of(packet);
    if (op == op_error) {
        close(static_cast<size_t>(&t - transfers_.data()));
        return;
    }
    if (t.writing && op == op_data)
        return store(t, packet);
    if (!t.writing && op == op_ack && packet.size() >= 4) {
        // Areas are at most 0x20000 bytes (257 blocks): block numbers never wrap.
        uint32_t acked = block_of(packet);
        uint32_t last = static_cast<uint32_t>(flash_.read(t.area).size() / block_size) + 1; // the empty block
        if (acked == last) {
            if (log_)
                log_("sent " + name(t) + " " + endpoint_text(t.peer));
            close(static_cast<size_t>(&t - transfers_.data()));
        } else if (acked < last) {
            send_data(t, acked + 1);
        }
    }
    // Anything else on a transfer port is ignored.
}

void server_t::send_data(transfer_t& t, uint32_t block)
{
    if (stopped(t))
        return;
    ++t.blocks;
    auto bytes = flash_.read(t.area);
    size_t offset = std::min<size_t>(size_t{block - 1} * block_size, bytes.size());
    size_t length = std::min(block_size, bytes.size() - offset);
    send(t.port, t.peer, data_packet(static_cast<uint16_t>(block), bytes.subspan(offset, length)));
}

void server_t::store(transfer_t& t, std::span<const uint8_t> packet)
{
    uint16_t block = block_of(packet);
    if (block == 0 || packet.size() < 4 || stopped(t))
        return;
    ++t.blocks;
    auto data = packet.subspan(4);
    size_t offset = size_t{block - 1u} * block_size;
    size_t size = flash_.read(t.area).size();
    if (data.size() > block_size || offset + data.size() > size) {
        error(t.port, t.peer, 3, "Disk full");
        close(static_cast<size_t>(&t - transfers_.data()));
        return;
    }
    if (block == 1 && !data.empty() && faults_.corrupt_writes) {
        std::vector<uint8_t> spoiled(data.begin(), data.end());
        spoiled[spoiled.size() / 2] ^= 0x5A;
        flash_.write(t.area, offset, spoiled);
        if (log_)
            log_("corrupted " + name(t));
    } else {
        flash_.write(t.area, offset, data);
    }
    send(t.port, t.peer, ack_packet(block));
}

void server_t::send(uint16_t local_port, const endpoint_t& to, const std::vector<uint8_t>& packet)
{
    auto what = [&] { return std::to_string(opcode_of(packet)) + " " + std::to_string(block_of(packet)); };
    // Each switch counts down to its packet and is off afterwards.
    bool dropped = faults_.drop && --faults_.drop == 0;
    bool doubled = faults_.duplicate && --faults_.duplicate == 0;
    if (dropped) {
        if (log_)
            log_("dropped " + what());
        return;
    }
    transport_.send(local_port, to, packet);
    if (doubled) {
        if (log_)
            log_("duplicated " + what());
        transport_.send(local_port, to, packet);
    }
}

void server_t::error(uint16_t local_port, const endpoint_t& to, uint16_t code, const std::string& text)
{
    if (log_)
        log_("error " + std::to_string(code) + " " + text + " " + endpoint_text(to));
    send(local_port, to, error_packet(code, text));
}

void server_t::close(size_t index)
{
    transport_.close_port(transfers_[index].port);
    transfers_.erase(transfers_.begin() + static_cast<std::ptrdiff_t>(index));
}

time_point server_t::deadline() const
{
    time_point next = time_point::max();
    for (const auto& t : transfers_)
        next = std::min(next, t.last + idle_limit);
    return next;
}

void server_t::expire(time_point now)
{
    for (size_t i = transfers_.size(); i-- > 0;)
        if (transfers_[i].last + idle_limit <= now)
            close(i);
}

} // namespace devsim::tftp
