// The SNMP agents of all devices: port 161 of every device, answered by the
// request engine with per-device values that last while the simulator runs,
// and the SNMP fault switches (no answer, late answer, error status).
#pragma once

#include <map>
#include <vector>

#include "component.h"
#include "events.h"
#include "snmp/engine.h"
#include "udp/stack.h"

namespace devsim::snmp {

inline constexpr uint16_t agent_port = 161;

struct agent_counters {
    unsigned long requests = 0; // datagrams to port 161
    unsigned long answered = 0; // answers sent (late ones when they left)
    unsigned long silent = 0;   // requests not answered because of snmp-silent
    unsigned long ignored = 0;  // messages that got no answer (undecodable, other version, community)
};

class agent_t : public component_t {
public:
    // Binds port 161 of every device. `verbose` logs every request.
    agent_t(world_t& world, udp::stack_t& stack, event_log_t& log, bool verbose);

    clock_t_::time_point deadline() const override;
    void on_deadline(clock_t_::time_point now) override;

    const agent_counters& counters() const { return counters_; }
    const mib_t& mib() const { return mib_; }

private:
    struct late_answer {
        device_t* device;
        uint32_t ip;
        uint16_t port;
        std::vector<uint8_t> bytes;
    };
    void on_request(const udp::datagram_t& d);
    uint32_t uptime() const;

    udp::stack_t& stack_;
    event_log_t& log_;
    bool verbose_;
    mib_t mib_;
    std::vector<store_t> stores_; // by device index
    clock_t_::time_point started_;
    std::multimap<clock_t_::time_point, late_answer> late_;
    agent_counters counters_;
};

} // namespace devsim::snmp
