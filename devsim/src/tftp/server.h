// A device's TFTP server: its flash areas as files, in octet mode with
// 512-byte blocks, as the devices behave:
// - a read sends DATA 1 at once and answers every ACK k with DATA k+1; it
//   always ends with an empty DATA packet (areas are whole blocks);
// - a write erases the area first (so a write of 0 bytes invalidates it),
//   then stores every DATA k at (k-1)*512 and answers it with ACK k; data
//   beyond the area gets "Disk full";
// - unknown files get ERROR 1 at once, other bad requests ERROR 4;
// - it has no timers of its own: it never resends, the client does.
// Each transfer gets its own port from the transport; idle transfers are
// closed after a minute.
//
// No sockets here: datagrams come in through receive() and go out through
// the transport's send callback, so that the logic runs the same under the
// simulator's UDP layer and in unit tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "flash/flash.h"
#include "tftp/faults.h"

namespace devsim::tftp {

using time_point = std::chrono::steady_clock::time_point;

struct endpoint_t {
    uint32_t ip = 0; // host order
    uint16_t port = 0;
    bool operator==(const endpoint_t&) const = default;
};

struct transport_t {
    std::function<void(uint16_t local_port, const endpoint_t& to, std::span<const uint8_t> packet)> send;
    std::function<std::optional<uint16_t>()> open_port; // a free local port for a transfer
    std::function<void(uint16_t local_port)> close_port;
};

class server_t {
public:
    static constexpr uint16_t port = 69;
    static constexpr std::chrono::seconds idle_limit{60};
    static constexpr size_t max_transfers = 16; // the longest idle one makes room for a new one

    using log_fn = std::function<void(const std::string&)>;

    server_t(flash::flash_t& flash, faults_t& faults, transport_t transport, log_fn log = {});
    ~server_t();
    server_t(const server_t&) = delete;
    server_t& operator=(const server_t&) = delete;

    void receive(uint16_t local_port, const endpoint_t& from, std::span<const uint8_t> packet, time_point now);
    time_point deadline() const; // when the next idle transfer expires
    void expire(time_point now);
    size_t transfers() const { return transfers_.size(); }

private:
    struct transfer_t {
        uint16_t port;
        endpoint_t peer;
        size_t area;
        bool writing;
        unsigned blocks = 0; // data blocks sent or stored, for stop-after
        time_point last;
    };

    void request(const endpoint_t& from, std::span<const uint8_t> packet, time_point now);
    void on_transfer(transfer_t& t, const endpoint_t& from, std::span<const uint8_t> packet);
    void send_data(transfer_t& t, uint32_t block);
    void store(transfer_t& t, std::span<const uint8_t> packet);
    void send(uint16_t local_port, const endpoint_t& to, const std::vector<uint8_t>& packet);
    void error(uint16_t local_port, const endpoint_t& to, uint16_t code, const std::string& text);
    void close(size_t index);
    bool stopped(transfer_t& t) const { return faults_.stop_after && t.blocks >= faults_.stop_after; }
    const std::string& name(const transfer_t& t) const { return flash_.layout().areas[t.area].name; }

    flash::flash_t& flash_;
    faults_t& faults_;
    transport_t transport_;
    log_fn log_;
    std::vector<transfer_t> transfers_;
};

std::string endpoint_text(const endpoint_t& e); // "10.1.2.3:1234"

} // namespace devsim::tftp
