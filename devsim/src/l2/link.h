// A raw AF_PACKET socket on one interface that sends frames with any source
// address and receives every frame the interface sees from the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "l2/frames.h"

namespace devsim::l2 {

class link_t {
public:
    explicit link_t(const std::string& interface); // throws std::runtime_error
    ~link_t();
    link_t(const link_t&) = delete;
    link_t& operator=(const link_t&) = delete;

    int fd() const { return fd_; }
    const mac_t& own_mac() const { return own_mac_; }
    bool send(const frame_t& frame);
    // Frames sent whole so far, by EtherType: the device protocol, ARP, and
    // everything else (for comparing with what a receiver got).
    struct sent_counts_t {
        uint64_t device = 0, arp = 0, other = 0;
    };
    const sent_counts_t& sent_counts() const { return sent_; }
    // Next incoming frame without blocking; -1 when none is queued. Frames the
    // host itself sends are skipped. `checksum_ready`, when given, is set
    // false for a frame whose transport checksum the sending kernel left to
    // the hardware (frames from this host over a veth pair).
    long receive(uint8_t* buffer, size_t capacity, bool* checksum_ready = nullptr);

private:
    int fd_ = -1;
    int ifindex_ = 0;
    mac_t own_mac_{};
    sent_counts_t sent_;
};

} // namespace devsim::l2
