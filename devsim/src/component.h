// A part of the simulator driven by the main loop: it may own one descriptor
// to watch for input and one deadline for timed work. The layer-2 responder
// is one; an SNMP agent or a TFTP server would be others.
#pragma once

#include <chrono>

namespace devsim {

using clock_t_ = std::chrono::steady_clock;

class component_t {
public:
    virtual ~component_t() = default;
    virtual int fd() const { return -1; }
    virtual void on_readable() {}
    virtual clock_t_::time_point deadline() const { return clock_t_::time_point::max(); }
    virtual void on_deadline(clock_t_::time_point now) {}
};

} // namespace devsim
