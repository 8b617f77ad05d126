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
    // Next incoming frame without blocking; -1 when none is queued. Frames the
    // host itself sends are skipped. `checksum_ready`, when given, is set
    // false for a frame whose transport checksum the sending kernel left to
    // the hardware (frames from this host over a veth pair).
    long receive(uint8_t* buffer, size_t capacity, bool* checksum_ready = nullptr);

private:
    int fd_ = -1;
    int ifindex_ = 0;
    mac_t own_mac_{};
};

} // namespace devsim::l2
