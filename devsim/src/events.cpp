#include "events.h"

#include <cstdio>
#include <fstream>

namespace devsim {

void event_log_t::line(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void event_log_t::write_state(const world_t& world)
{
    if (state_file_.empty())
        return;
    std::string temp = state_file_ + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!out)
            return;
        out << "interface " << world.interface << "\n";
        out << "reservations " << world.reservations << "\n";
        for (const auto& d : world.devices)
            out << "device " << d.index << " " << mac_text(d.mac) << " " << ip_text(d.ip) << "\n";
        for (const auto& s : world.squatters)
            out << "squatter " << mac_text(s.mac) << " " << ip_text(s.ip) << "\n";
    }
    std::rename(temp.c_str(), state_file_.c_str());
}

} // namespace devsim
