#include "snmp/agent.h"

namespace devsim::snmp {

agent_t::agent_t(world_t& world, udp::stack_t& stack, event_log_t& log, bool verbose)
    : stack_(stack), log_(log), verbose_(verbose), stores_(world.devices.size()), started_(clock_t_::now())
{
    for (auto& device : world.devices)
        stack_.bind(device, agent_port, [this](const udp::datagram_t& d) { on_request(d); });
}

uint32_t agent_t::uptime() const
{
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock_t_::now() - started_);
    return static_cast<uint32_t>(elapsed.count() / 10);
}

void agent_t::on_request(const udp::datagram_t& d)
{
    ++counters_.requests;
    device_t& device = d.device;
    if (device.fault("snmp-silent")) {
        ++counters_.silent;
        return;
    }
    int forced = static_cast<int>(device.fault("snmp-error").value_or(0));
    const auto frozen = device.fault("snmp-uptime");
    const uint32_t up = frozen ? static_cast<uint32_t>(*frozen) : uptime();
    outcome_t out = answer(mib_, device, stores_.at(static_cast<size_t>(device.index)), d.data, d.size, up, forced);
    std::string who = std::to_string(device.index) + " " + ip_text(d.source_ip);
    if (out.response.empty()) {
        ++counters_.ignored;
        if (verbose_)
            log_.line("snmp-ignored " + who);
        return;
    }
    for (const auto& w : out.written)
        log_.line("snmp-set " + std::to_string(device.index) + " " + w);
    if (verbose_)
        log_.line("snmp " + who + " command " + std::to_string(out.command) + " error " + std::to_string(out.error));
    if (auto delay = device.fault("snmp-late")) {
        late_.emplace(clock_t_::now() + std::chrono::milliseconds(*delay),
                      late_answer{&device, d.source_ip, d.source_port, std::move(out.response)});
        return;
    }
    if (stack_.reply(d, agent_port, out.response.data(), out.response.size()))
        ++counters_.answered;
}

clock_t_::time_point agent_t::deadline() const
{
    return late_.empty() ? clock_t_::time_point::max() : late_.begin()->first;
}

void agent_t::on_deadline(clock_t_::time_point now)
{
    while (!late_.empty() && late_.begin()->first <= now) {
        late_answer& a = late_.begin()->second;
        if (stack_.send(*a.device, agent_port, a.ip, a.port, a.bytes.data(), a.bytes.size()))
            ++counters_.answered;
        late_.erase(late_.begin());
    }
}

} // namespace devsim::snmp
