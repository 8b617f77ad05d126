#include "tftp/service.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

namespace devsim::tftp {
namespace {

images::family image_family(family_t f) { return static_cast<images::family>(static_cast<int>(f)); }

std::vector<uint8_t> read_image(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read firmware image " + path);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The image a device starts with: a file, or a generated one of its family
// with the given or the family's default version. The hardware value is the
// family's, except that an alder version chosen here brings its own (3 below
// minor 20, else 4).
std::vector<uint8_t> initial_image(const device_t& device, const std::string& source)
{
    if (!source.empty() && !images::parse_version(source))
        return read_image(source);
    images::firmware_spec spec;
    spec.fam = image_family(device.family);
    spec.version = {device.firmware.major, device.firmware.minor, device.firmware.build, -1};
    spec.hardware = device.hardware_version;
    if (!source.empty()) {
        spec.version = *images::parse_version(source);
        if (spec.fam == images::family::alder || spec.fam == images::family::alderamd)
            spec.hardware = -1;
    }
    return images::make_firmware(spec).bytes;
}

std::string hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

} // namespace

service_t::unit_t::unit_t(device_t& d, const flash::flash_t& f) : device(d), flash(f) {}

service_t::service_t(world_t& world, udp::stack_t& stack, event_log_t& log,
                     const std::vector<std::pair<int, std::string>>& firmware)
    : stack_(stack), log_(log)
{
    std::vector<std::string> sources(world.devices.size());
    for (const auto& [k, source] : firmware)
        for (auto& d : world.devices)
            if (k < 0 || d.index == k)
                sources[static_cast<size_t>(d.index)] = source;
    // Devices loaded alike share one prototype's areas until they write.
    std::map<std::pair<int, std::string>, flash::flash_t> prototypes;
    for (auto& device : world.devices) {
        const std::string& source = sources[static_cast<size_t>(device.index)];
        std::pair<int, std::string> key{static_cast<int>(device.family), source};
        auto it = prototypes.find(key);
        if (it == prototypes.end())
            it = prototypes.emplace(key, flash::flash_t(image_family(device.family), initial_image(device, source)))
                     .first;
        auto unit = std::make_unique<unit_t>(device, it->second);
        unit_t& u = *unit;
        u.flash.set_mac(device.mac);
        auto handler = [this, &u](const udp::datagram_t& d) { on_datagram(u, d); };
        transport_t transport{[this, &u](uint16_t from, const endpoint_t& to, std::span<const uint8_t> p) {
                                  stack_.send(u.device, from, to.ip, to.port, p.data(), p.size());
                              },
                              [this, &u, handler]() -> std::optional<uint16_t> {
                                  uint16_t port = stack_.bind_any(u.device, handler);
                                  return port ? std::optional<uint16_t>(port) : std::nullopt;
                              },
                              [this, &u](uint16_t port) {
                                  if (!closing_)
                                      stack_.release(u.device, port);
                              }};
        u.server =
            std::make_unique<server_t>(u.flash, u.faults, std::move(transport), [this, &u](const std::string& line) {
                log_.line("tftp " + std::to_string(u.device.index) + " " + line);
            });
        stack_.bind(device, server_t::port, handler);
        show(u, false);
        units_.push_back(std::move(unit));
    }
}

// The stack may be gone already: the servers' ports go with it.
service_t::~service_t() { closing_ = true; }

void service_t::on_datagram(unit_t& u, const udp::datagram_t& d)
{
    take_switches(u);
    auto now = clock_t_::now();
    u.server->receive(d.destination_port, {d.source_ip, d.source_port}, {d.data, d.size}, now);
    give_back_switches(u);
    if (u.flash.changes() != u.shown && u.refresh == clock_t_::time_point::max())
        u.refresh = now + settle;
}

void service_t::take_switches(unit_t& u)
{
    const device_t& d = u.device;
    u.faults.silent = d.fault("tftp-silent").has_value();
    u.faults.stop_after = static_cast<unsigned>(d.fault("tftp-stop-after").value_or(0));
    u.faults.refuse_writes = d.fault("tftp-refuse-write").has_value();
    u.faults.corrupt_writes = d.fault("tftp-corrupt-write").has_value();
    // The one-shot switches start counting when set (or set anew).
    long drop = d.fault("tftp-drop").value_or(0);
    if (drop != u.drop_armed)
        u.faults.drop = static_cast<unsigned>(u.drop_armed = drop);
    long duplicate = d.fault("tftp-duplicate").value_or(0);
    if (duplicate != u.duplicate_armed)
        u.faults.duplicate = static_cast<unsigned>(u.duplicate_armed = duplicate);
}

void service_t::give_back_switches(unit_t& u)
{
    auto spent = [&](long& armed, unsigned left, const char* name) {
        if (!armed || left)
            return;
        armed = 0;
        u.device.faults.erase(name);
        log_.line("fault-cleared " + std::to_string(u.device.index) + " " + name);
    };
    spent(u.drop_armed, u.faults.drop, "tftp-drop");
    spent(u.duplicate_armed, u.faults.duplicate, "tftp-duplicate");
}

void service_t::show(unit_t& u, bool announce)
{
    u.shown = u.flash.changes();
    u.refresh = clock_t_::time_point::max();
    device_t& d = u.device;
    const std::string k = std::to_string(d.index);
    // A device without a valid bank keeps reporting what it ran last.
    const auto& running = u.flash.firmware();
    if (running.stamp) {
        d.firmware.major = running.stamp->version.major;
        d.firmware.minor = running.stamp->version.minor;
        d.firmware.build = running.stamp->version.build;
        d.hardware_version = running.stamp->hardware;
    }
    if (announce)
        log_.line("firmware " + k + " " +
                  (running.stamp
                       ? "bank " + std::to_string(running.bank) + " " + images::version_text(running.stamp->version) +
                           " hardware " + std::to_string(running.stamp->hardware)
                       : std::string("none")));
    if (!d.dsp.present)
        return;
    auto dsp = u.flash.dsp();
    if (!dsp || !dsp->has_descriptor || dsp == u.dsp_shown)
        return;
    u.dsp_shown = dsp;
    d.dsp.flash_word = dsp->flash_word.value_or(0);
    d.dsp.arg_base = static_cast<int>(dsp->args_base);
    d.dsp.check_address = static_cast<int>(dsp->check_address);
    d.dsp.args.assign(dsp->args.begin(), dsp->args.end());
    if (announce)
        log_.line("dsp " + k + " " + (dsp->version ? images::version_text(*dsp->version) : std::string("?")) +
                  " flash-word " + hex(d.dsp.flash_word));
}

clock_t_::time_point service_t::deadline() const
{
    auto next = clock_t_::time_point::max();
    for (const auto& u : units_)
        next = std::min({next, u->refresh, u->server->deadline()});
    return next;
}

void service_t::on_deadline(clock_t_::time_point now)
{
    for (auto& u : units_) {
        if (u->refresh <= now)
            show(*u, true);
        u->server->expire(now);
    }
}

} // namespace devsim::tftp
