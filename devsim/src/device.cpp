#include "device.h"

#include <algorithm>
#include <utility>

namespace devsim {
namespace {

const std::vector<std::pair<quirk, const char*>>& quirk_table()
{
    static const std::vector<std::pair<quirk, const char*>> table = {
        {quirk::ignore_rarp, "ignore-rarp"},      {quirk::announce_zero, "announce-zero"},
        {quirk::broadcast_announce, "broadcast"}, {quirk::zero_length_tag, "zero-length-tag"},
        {quirk::truncated_tag, "truncated-tag"},  {quirk::short_ip_tag, "short-ip-tag"},
        {quirk::two_ip_tags, "two-ip-tags"},      {quirk::tags_before_ip, "tags-before-ip"},
        {quirk::bad_byte15, "bad-byte15"},        {quirk::kind0, "kind0"},
    };
    return table;
}

} // namespace

std::optional<quirk> parse_quirk(const std::string& name)
{
    for (const auto& [q, text] : quirk_table())
        if (name == text)
            return q;
    return std::nullopt;
}

const char* quirk_name(quirk q)
{
    for (const auto& [value, text] : quirk_table())
        if (value == q)
            return text;
    return "?";
}

const std::vector<quirk>& all_quirks()
{
    static const std::vector<quirk> list = [] {
        std::vector<quirk> v;
        for (const auto& entry : quirk_table())
            v.push_back(entry.first);
        return v;
    }();
    return list;
}

announce_shape device_t::shape() const
{
    // The first shape-changing quirk wins; a device sends one kind of frame.
    static const std::pair<quirk, announce_shape> shapes[] = {
        {quirk::zero_length_tag, announce_shape::zero_length_tag},
        {quirk::truncated_tag, announce_shape::truncated_tag},
        {quirk::short_ip_tag, announce_shape::short_ip_tag},
        {quirk::two_ip_tags, announce_shape::two_ip_tags},
        {quirk::tags_before_ip, announce_shape::tags_before_ip},
        {quirk::bad_byte15, announce_shape::bad_byte15},
        {quirk::kind0, announce_shape::kind0},
    };
    for (const auto& [q, s] : shapes)
        if (has(q))
            return s;
    return announce_shape::normal;
}

std::optional<long> device_t::fault(const std::string& name) const
{
    auto it = faults.find(name);
    if (it == faults.end())
        return std::nullopt;
    return it->second;
}

void device_t::set_family(family_t f)
{
    const family_defaults& d = defaults_of(f);
    family = f;
    transmitters = d.transmitters;
    receivers = d.receivers;
    firmware = d.firmware;
    hardware_platform = d.hardware_platform;
    hardware_version = d.hardware_version;
    flash_size = d.flash_size;
    dsp = dsp_t{};
    dsp.present = d.dsp;
    if (dsp.present)
        for (int k = 1; k <= 8; ++k)
            dsp.args.push_back(k * 10);
}

mac_t device_t::announce_destination() const
{
    return has(quirk::broadcast_announce) ? mac_broadcast : mac_announce_group;
}

const device_t* world_t::find(const mac_t& mac) const
{
    auto it = std::find_if(devices.begin(), devices.end(), [&](const device_t& d) { return d.mac == mac; });
    return it == devices.end() ? nullptr : &*it;
}

device_t* world_t::find(const mac_t& mac) { return const_cast<device_t*>(std::as_const(*this).find(mac)); }

bool world_t::owns(const mac_t& mac) const
{
    if (find(mac))
        return true;
    return std::any_of(squatters.begin(), squatters.end(), [&](const squatter_t& s) { return s.mac == mac; });
}

} // namespace devsim
