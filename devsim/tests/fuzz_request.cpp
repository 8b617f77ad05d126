// Arbitrary bytes as what a device receives: an SNMP message (raw, or its
// PDU behind a valid header with either community) and an Ethernet frame to
// the UDP stack. Nothing may crash, and every answer must decode.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "snmp/engine.h"
#include "udp/stack.h"

namespace {

using namespace devsim;

struct fixture {
    snmp::mib_t mib;
    world_t world;
    std::vector<snmp::store_t> stores;
    std::unique_ptr<udp::stack_t> stack;
    fixture()
    {
        for (family_t f : {family_t::birch, family_t::cedar}) {
            device_t d;
            d.index = static_cast<int>(world.devices.size());
            d.mac = {0x00, 0x60, 0x2B, 0x10, 0x00, static_cast<uint8_t>(d.index + 1)};
            d.ip = 0xC0A84D0A + static_cast<uint32_t>(d.index);
            d.set_family(f);
            world.devices.push_back(d);
        }
        world.devices[1].transmitters = 16;
        stores.resize(world.devices.size());
        stack = std::make_unique<udp::stack_t>(world, [](const frame_t& f) {
            if (f.size() < udp::header_size)
                __builtin_trap();
            return true;
        });
        for (auto& d : world.devices)
            stack->bind(d, 161, [this](const udp::datagram_t& in) { serve(in.device, in.data, in.size); });
    }
    void serve(device_t& d, const uint8_t* data, size_t size, int forced = 0)
    {
        snmp::outcome_t out = snmp::answer(mib, d, stores[static_cast<size_t>(d.index)], data, size, 100, forced);
        if (out.response.empty())
            return;
        std::string community;
        if (!snmp::decode(out.response.data(), out.response.size(), community))
            __builtin_trap();
        if (out.response.size() > udp::max_payload)
            __builtin_trap();
    }
};

// SEQUENCE { INTEGER 0, OCTET STRING community } followed by `body`.
std::vector<uint8_t> wrapped(const char* community, const uint8_t* body, size_t size)
{
    u_char head[64];
    size_t left = sizeof head;
    long version = SNMP_VERSION_1;
    u_char* p = asn_build_sequence(head, &left, ASN_SEQUENCE | ASN_CONSTRUCTOR, 0);
    if (!p)
        return {};
    u_char* content = p;
    p = asn_build_int(p, &left, ASN_UNIVERSAL | ASN_PRIMITIVE | ASN_INTEGER, &version, sizeof version);
    if (!p)
        return {};
    p = asn_build_string(p, &left, ASN_UNIVERSAL | ASN_PRIMITIVE | ASN_OCTET_STR,
                         reinterpret_cast<const u_char*>(community), std::strlen(community));
    if (!p)
        return {};
    size_t inner = static_cast<size_t>(p - content) + size;
    left = sizeof head;
    if (!asn_build_sequence(head, &left, ASN_SEQUENCE | ASN_CONSTRUCTOR, inner))
        return {};
    std::vector<uint8_t> message(head, p);
    message.insert(message.end(), body, body + size);
    return message;
}

// A request of the fuzzer's choosing over the device's own variables:
// command, then per binding an object, an instance, a type and a value.
std::vector<uint8_t> structured(const snmp::mib_t& mib, const uint8_t* data, size_t size)
{
    static const int commands[] = {SNMP_MSG_GET, SNMP_MSG_GETNEXT, SNMP_MSG_SET};
    static const u_char types[] = {ASN_INTEGER, ASN_OCTET_STR, ASN_IPADDRESS, ASN_TIMETICKS, ASN_NULL, ASN_OBJECT_ID};
    if (size < 1)
        return {};
    snmp::pdu_ptr pdu(snmp_pdu_create(commands[data[0] % 3]));
    size_t at = 1;
    while (at + 5 <= size) {
        const auto& object = mib.objects()[data[at] % mib.objects().size()];
        snmp::oid_t name = object.base;
        if (object.dsp_entry)
            name.insert(name.begin(), {1, 3, 6, 1, 4, 1, 2680, 1, 4, 2, 24, 41, 6, 1, 1, 1});
        for (int i = 0; i < (data[at + 1] & 3); ++i)
            name.push_back(data[at + 2 + i % 2] % 20);
        u_char type = types[data[at + 4] % 6];
        size_t length = std::min<size_t>(data[at + 4] >> 3, size - at - 5);
        const uint8_t* value = data + at + 5;
        long integer = static_cast<int8_t>(data[at + 3]) * 1000L;
        if (type == ASN_INTEGER || type == ASN_TIMETICKS)
            snmp_pdu_add_variable(pdu.get(), name.data(), name.size(), type, &integer, sizeof integer);
        else if (type == ASN_OBJECT_ID)
            snmp_pdu_add_variable(pdu.get(), name.data(), name.size(), type, name.data(), name.size() * sizeof(oid));
        else if (type == ASN_NULL)
            snmp_add_null_var(pdu.get(), name.data(), name.size());
        else
            snmp_pdu_add_variable(pdu.get(), name.data(), name.size(), type, value, length);
        at += 5 + length;
    }
    return snmp::encode(pdu.get(), "quenmil");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fixture f;
    if (size < 1)
        return 0;
    device_t& device = f.world.devices[data[0] & 1];
    const uint8_t* rest = data + 1;
    size_t n = size - 1;
    if (data[0] & 0x80) {
        auto message = structured(f.mib, rest, n);
        f.serve(device, message.data(), message.size());
        return 0;
    }
    switch ((data[0] >> 1) & 3) {
    case 0:
        f.serve(device, rest, n, (data[0] >> 3) & 1 ? SNMP_ERR_GENERR : 0);
        break;
    case 1:
    case 2: {
        auto message = wrapped((data[0] >> 1 & 3) == 1 ? "quenmil" : "tagrok", rest, n);
        f.serve(device, message.data(), message.size());
        break;
    }
    default: {
        f.stack->handle_frame(rest, n, (data[0] >> 3) & 1);
        // The same bytes as the payload of a well-formed datagram to port 161.
        frame_t frame = udp::build_datagram(device.mac, {0x02, 0, 0, 0, 0, 1}, 0xC0A84D01, 40000, device.ip, 161, rest,
                                            std::min(n, udp::max_payload));
        f.stack->handle_frame(frame.data(), frame.size());
        break;
    }
    }
    return 0;
}
