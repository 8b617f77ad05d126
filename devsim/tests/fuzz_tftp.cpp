// The device TFTP server fed arbitrary datagrams: to the request port or to
// an open transfer, from the client or a stranger, with fault switches and
// idle expiry in between. It must answer within the protocol's sizes, keep
// its transfer ports balanced and never touch memory it does not own.
#include <cstdint>
#include <cstdlib>
#include <set>

#include "flash/flash.h"
#include "tftp/packet.h"
#include "tftp/server.h"

namespace {

using namespace devsim;

const flash::flash_t& prototype(images::family f)
{
    static const auto make = [](images::family fam) {
        images::firmware_spec spec;
        spec.fam = fam;
        return flash::flash_t(fam, images::make_firmware(spec).bytes);
    };
    static const flash::flash_t flashes[] = {make(images::family::cedar), make(images::family::dogwood),
                                             make(images::family::alder), make(images::family::alderamd),
                                             make(images::family::birch), make(images::family::birchamd)};
    return flashes[static_cast<int>(f)];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    flash::flash_t flash = prototype(static_cast<images::family>(data[0] % 6));
    tftp::faults_t faults;
    faults.drop = data[1] & 3;
    faults.duplicate = data[1] >> 2 & 3;
    faults.stop_after = data[1] >> 4 & 3;
    faults.refuse_writes = data[1] & 0x40;
    faults.corrupt_writes = data[1] & 0x80;

    std::set<uint16_t> open;
    uint16_t next_port = 1024, last_port = tftp::server_t::port;
    tftp::transport_t transport{[&](uint16_t from, const tftp::endpoint_t&, std::span<const uint8_t> p) {
                                    if (p.size() > 516 || (from != tftp::server_t::port && !open.count(from)))
                                        std::abort();
                                },
                                [&]() -> std::optional<uint16_t> {
                                    if (open.size() >= 20)
                                        return std::nullopt;
                                    open.insert(next_port);
                                    return last_port = next_port++;
                                },
                                [&](uint16_t port) {
                                    if (!open.erase(port))
                                        std::abort();
                                }};
    auto now = std::chrono::steady_clock::time_point{};
    {
        tftp::server_t server(flash, faults, transport);
        const tftp::endpoint_t client{0x0A000001, 4000}, stranger{0x0A000002, 4000};
        // Records: control byte, length byte, packet. Control bit 0: to the
        // last transfer port, else to port 69; bit 1: from a stranger; bit 2:
        // the packet is shorthand for a request (byte 0: read or write, byte
        // 1: which file), so transfers are reached without guessing names;
        // bits 4-7: seconds that pass first.
        const auto& areas = flash.layout().areas;
        for (size_t at = 2; at + 2 <= size;) {
            uint8_t control = data[at];
            size_t length = std::min<size_t>(data[at + 1] * 3, size - at - 2);
            std::span<const uint8_t> packet(data + at + 2, length);
            at += 2 + length;
            std::vector<uint8_t> request;
            if ((control & 4) && length >= 2) {
                request = tftp::request_packet(packet[0] & 1 ? tftp::op_wrq : tftp::op_rrq,
                                               areas[packet[1] % areas.size()].name);
                packet = request;
            }
            now += std::chrono::seconds(control >> 4);
            server.expire(now);
            uint16_t port = control & 1 ? last_port : tftp::server_t::port;
            server.receive(port, control & 2 ? stranger : client, packet, now);
            if (server.transfers() != open.size())
                std::abort();
        }
    }
    if (!open.empty())
        std::abort();
    return 0;
}
