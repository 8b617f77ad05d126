#include "snmp/mib.h"

#include <net-snmp/library/asn1.h>
#include <net-snmp/library/snmp.h>

#include <algorithm>
#include <climits>

namespace devsim::snmp {
namespace {

const oid_t system_group{1, 3, 6, 1, 2, 1, 1};
const oid_t if_entry{1, 3, 6, 1, 2, 1, 2, 2, 1};
const oid_t device_tree{1, 3, 6, 1, 4, 1, 2680, 1, 1};
const oid_t proc_group{1, 3, 6, 1, 4, 1, 2680, 1, 4, 1};
const oid_t dsp_control{1, 3, 6, 1, 4, 1, 2680, 1, 4, 2};

oid_t under(const oid_t& base, std::initializer_list<oid> tail)
{
    oid_t o = base;
    o.insert(o.end(), tail);
    return o;
}

value_t integer(long v)
{
    value_t value;
    value.type = ASN_INTEGER;
    value.integer = v;
    return value;
}
value_t unsigned_value(u_char type, uint32_t v)
{
    value_t value;
    value.type = type;
    value.integer = static_cast<long>(v);
    return value;
}
value_t octets(std::string bytes)
{
    value_t value;
    value.type = ASN_OCTET_STR;
    value.octets = std::move(bytes);
    return value;
}
value_t ip_address(uint32_t ip)
{
    value_t value;
    value.type = ASN_IPADDRESS;
    for (int shift = 24; shift >= 0; shift -= 8)
        value.octets += static_cast<char>((ip >> shift) & 0xFF);
    return value;
}
std::string mac_bytes(const mac_t& mac) { return std::string(mac.begin(), mac.end()); }

bool is_96k(long code) { return (code & 1) != 0; }
// Hardware platforms that run 48 kHz only.
bool platform_48k_only(int platform) { return platform == 36252 || platform == 57932; }

// The table's entries, built with a little chain of setters.
struct entry {
    object_t o;
    entry(const char* name, oid_t base, u_char type)
    {
        o.name = name;
        o.base = std::move(base);
        o.type = type;
        if (type == ASN_INTEGER) {
            o.min = INT32_MIN;
            o.max = INT32_MAX;
        } else {
            o.min = 0;
            o.max = 255;
        }
    }
    entry& rows(rows_t r, int fixed = 0)
    {
        o.rows = r;
        o.fixed = fixed;
        return *this;
    }
    entry& rw(long min, long max)
    {
        o.writable = true;
        o.min = min;
        o.max = max;
        return *this;
    }
    entry& rw()
    {
        o.writable = true;
        return *this;
    }
    entry& dsp(bool in_entry = false)
    {
        o.dsp = true;
        o.dsp_entry = in_entry;
        return *this;
    }
    entry& init(std::function<value_t(const view_t&)> fn)
    {
        o.initial = std::move(fn);
        return *this;
    }
    entry& value(long v)
    {
        return init([v](const view_t&) { return integer(v); });
    }
    entry& text(std::string t)
    {
        return init([t](const view_t&) { return octets(t); });
    }
    entry& accepts(std::function<bool(const device_t&, long)> fn)
    {
        o.accepts = std::move(fn);
        return *this;
    }
    entry& assign(std::function<void(device_t&, int, const value_t&)> fn)
    {
        o.assign = std::move(fn);
        return *this;
    }
};

std::vector<object_t> build_table()
{
    const oid_t& E = device_tree;
    std::vector<entry> t;
    auto add = [&t](const char* name, oid_t base, u_char type) -> entry& {
        t.emplace_back(name, std::move(base), type);
        return t.back();
    };

    // MIB-II system group.
    add("sysDescr", under(system_group, {1}), ASN_OCTET_STR).init([](const view_t& v) {
        const auto& f = v.device.firmware;
        return octets(std::string(family_name(v.device.family)) + " audio device, firmware " + std::to_string(f.major) +
                      "." + std::to_string(f.minor) + "." + std::to_string(f.build));
    });
    add("sysObjectID", under(system_group, {2}), ASN_OBJECT_ID).init([](const view_t& v) {
        value_t value;
        value.type = ASN_OBJECT_ID;
        value.id = {1, 3, 6, 1, 4, 1, 2680, 1, 2, static_cast<oid>(v.device.family)};
        return value;
    });
    add("sysUpTime", under(system_group, {3}), ASN_TIMETICKS).init([](const view_t& v) {
        return unsigned_value(ASN_TIMETICKS, v.uptime);
    });
    add("sysContact", under(system_group, {4}), ASN_OCTET_STR).rw(0, 255).text("");
    add("sysName", under(system_group, {5}), ASN_OCTET_STR).rw(0, 255).init([](const view_t& v) {
        return octets(std::string(family_name(v.device.family)) + "-" + std::to_string(v.device.index));
    });
    add("sysLocation", under(system_group, {6}), ASN_OCTET_STR).rw(0, 255).text("");
    add("sysServices", under(system_group, {7}), ASN_INTEGER).value(72);

    // One Ethernet interface, and the mask of the device's address.
    add("ifNumber", {1, 3, 6, 1, 2, 1, 2, 1}, ASN_INTEGER).value(1);
    add("ifIndex", under(if_entry, {1}), ASN_INTEGER).rows(rows_t::fixed, 1).init([](const view_t& v) {
        return integer(v.x);
    });
    add("ifDescr", under(if_entry, {2}), ASN_OCTET_STR).rows(rows_t::fixed, 1).text("ethernet");
    add("ifPhysAddress", under(if_entry, {6}), ASN_OCTET_STR).rows(rows_t::fixed, 1).init([](const view_t& v) {
        return octets(mac_bytes(v.device.mac));
    });
    add("ifInOctets", under(if_entry, {10}), ASN_COUNTER).rows(rows_t::fixed, 1).init([](const view_t& v) {
        return unsigned_value(ASN_COUNTER, v.device.in_octets);
    });
    add("ifOutOctets", under(if_entry, {16}), ASN_COUNTER).rows(rows_t::fixed, 1).init([](const view_t& v) {
        return unsigned_value(ASN_COUNTER, v.device.out_octets);
    });
    // The devices answer the mask at instance 0 rather than under their address.
    add("ipAdEntNetMask", {1, 3, 6, 1, 2, 1, 4, 20, 1, 3}, ASN_IPADDRESS).init([](const view_t&) {
        return ip_address(0xFFFFFF00);
    });

    // Firmware: the version and hardware follow the flash.
    add("firmwareProtocolVersion", under(E, {1, 1}), ASN_INTEGER).value(1);
    add("firmwareMajorVersion", under(E, {1, 2}), ASN_INTEGER).init([](const view_t& v) {
        return integer(v.device.firmware.major);
    });
    add("firmwareMinorVersion", under(E, {1, 3}), ASN_INTEGER).init([](const view_t& v) {
        return integer(v.device.firmware.minor);
    });
    add("firmwareBootVersion", under(E, {1, 4}), ASN_INTEGER).init([](const view_t& v) {
        return integer(v.device.firmware.boot);
    });
    add("firmwareMfgID", under(E, {1, 5}), ASN_INTEGER).value(2680);
    add("firmwareMfgProductID", under(E, {1, 6}), ASN_INTEGER).init([](const view_t& v) {
        return integer(static_cast<long>(v.device.family));
    });
    add("firmwareMfgVersion", under(E, {1, 7}), ASN_INTEGER).init([](const view_t& v) {
        return integer(v.device.firmware.build);
    });
    add("firmwareRestart", under(E, {1, 8}), ASN_INTEGER).rw(0, 1).value(0);
    add("firmwareHardwarePlatform", under(E, {1, 9}), ASN_INTEGER).init([](const view_t& v) {
        return integer(v.device.hardware_platform);
    });
    add("firmwareHardwareVersion", under(E, {1, 10}), ASN_INTEGER).init([](const view_t& v) {
        return integer(v.device.hardware_version);
    });
    add("firmwareFreeCycles", under(E, {1, 11}), ASN_INTEGER).value(253);

    // Flash and persistence.
    add("flashTotalSize", under(E, {2, 1}), ASN_INTEGER).init([](const view_t& v) {
        return integer(static_cast<long>(v.device.flash_size));
    });
    add("flashSectorSize", under(E, {2, 2}), ASN_INTEGER).value(0x10000);
    add("flashPersistSequence", under(E, {2, 3}), ASN_INTEGER).value(1);
    add("flashPersistType", under(E, {2, 4}), ASN_INTEGER).value(1);
    add("flashPersistSize", under(E, {2, 5}), ASN_INTEGER).value(0x1000);
    add("flashPersistStores", under(E, {2, 6}), ASN_INTEGER).value(1);
    add("flashPersistEnable", under(E, {2, 7}), ASN_INTEGER).rw(0, 1).value(1);
    add("flashPersistAck", under(E, {2, 8}), ASN_INTEGER).value(0);

    // Errors, then the mode group that sits inside them.
    add("errorPOSTResults", under(E, {3, 1}), ASN_INTEGER).value(0);
    add("errorIndicators", under(E, {3, 2}), ASN_INTEGER).value(0);
    add("errorCode", under(E, {3, 3}), ASN_INTEGER).value(0);
    add("errorCount", under(E, {3, 4}), ASN_INTEGER).value(0);
    add("errorDisplay", under(E, {3, 5}), ASN_INTEGER).value(0);
    add("modeRateControl", under(E, {3, 6, 1}), ASN_INTEGER)
        .rw()
        .value(0x600)
        .accepts([](const device_t& d, long code) {
            static const long codes[] = {0x600, 0x500, 0x400, 0x701, 0x601, 0x501, 0x300};
            if (std::find(std::begin(codes), std::end(codes), code) == std::end(codes))
                return false;
            return !(is_96k(code) && platform_48k_only(d.hardware_platform));
        });
    add("modeRateStatus", under(E, {3, 6, 2}), ASN_INTEGER).value(0x600);

    // Conductor.
    add("condRate", under(E, {4, 1}), ASN_INTEGER).value(0x600);
    add("condPriority", under(E, {4, 2}), ASN_INTEGER).rw(0, 255).value(100);
    add("condGap", under(E, {4, 3}), ASN_INTEGER).value(0);
    add("condStatus", under(E, {4, 4}), ASN_INTEGER).init([](const view_t& v) {
        return integer(v.device.index == 0 ? 1 : 0);
    });
    add("condInfoPriority", under(E, {4, 5}), ASN_INTEGER).value(100);
    add("condInfoMAC", under(E, {4, 6}), ASN_OCTET_STR).init([](const view_t& v) {
        return octets(mac_bytes(v.device.mac));
    });
    add("condInfoLastChange", under(E, {4, 7}), ASN_TIMETICKS).init([](const view_t&) {
        return unsigned_value(ASN_TIMETICKS, 0);
    });
    add("condInfoChanges", under(E, {4, 8}), ASN_COUNTER).init([](const view_t&) {
        return unsigned_value(ASN_COUNTER, 1);
    });

    // Audio: meters and the map of the 64 audio channels (-1: not mapped).
    add("audioMeters", under(E, {5, 2, 1, 4}), ASN_OCTET_STR).rows(rows_t::fixed, 64).text(std::string(2, '\0'));
    add("audioMap", under(E, {5, 2, 1, 5}), ASN_INTEGER).rows(rows_t::fixed, 64).init([](const view_t& v) {
        int mapped = std::min(64, 8 * v.device.transmitters);
        return integer(v.x <= mapped ? v.x - 1 : -1);
    });
    add("audioSSIFormat", under(E, {5, 12}), ASN_INTEGER).rw().value(0);

    // Receiver bundles and their channels.
    const oid_t rx = under(E, {6, 1, 1});
    add("rxBundle", under(rx, {2}), ASN_INTEGER).rows(rows_t::receivers).rw(0, 65535).value(0);
    add("rxSourceMAC", under(rx, {3}), ASN_OCTET_STR).rows(rows_t::receivers).rw(6, 6).text(std::string(6, '\0'));
    add("rxPriority", under(rx, {4}), ASN_INTEGER).rows(rows_t::receivers).rw().value(0);
    add("rxBuddyExclude", under(rx, {5}), ASN_INTEGER).rows(rows_t::receivers).rw().value(0);
    add("rxStatus", under(rx, {6}), ASN_INTEGER).rows(rows_t::receivers).value(0);
    add("rxDropouts", under(rx, {7}), ASN_INTEGER).rows(rows_t::receivers).value(0);
    add("rxDelay", under(rx, {8}), ASN_INTEGER).rows(rows_t::receivers).rw().value(0);
    add("rxMinDelay", under(rx, {9}), ASN_INTEGER).rows(rows_t::receivers).value(0);
    add("rxSubMap", under(E, {6, 2, 1, 2}), ASN_INTEGER).rows(rows_t::rx_channels).rw(0, 64).value(0);
    add("rxSubFormat", under(E, {6, 2, 1, 3}), ASN_INTEGER).rows(rows_t::rx_channels).rw().value(0);

    // Transmitter bundles and their channels; bundle numbers differ between devices.
    const oid_t tx = under(E, {7, 1, 1});
    add("txBundle", under(tx, {2}), ASN_INTEGER).rows(rows_t::transmitters).rw(0, 65535).init([](const view_t& v) {
        return integer((v.device.index * 16 + v.x) % 65536);
    });
    add("txDestinationMAC", under(tx, {3}), ASN_OCTET_STR)
        .rows(rows_t::transmitters)
        .rw(6, 6)
        .text(std::string("\x01\x60\x2b\xfd\x00\x00", 6));
    add("txPriority", under(tx, {4}), ASN_INTEGER).rows(rows_t::transmitters).rw().value(0);
    add("txSubCount", under(tx, {5}), ASN_INTEGER).rows(rows_t::transmitters).rw().value(8);
    add("txBuddyExclude", under(tx, {6}), ASN_INTEGER).rows(rows_t::transmitters).rw().value(0);
    add("txDropouts", under(tx, {7}), ASN_INTEGER).rows(rows_t::transmitters).value(0);
    add("txPosition", under(tx, {8}), ASN_INTEGER).rows(rows_t::transmitters).init([](const view_t& v) {
        return integer(v.x);
    });
    add("txReceivers", under(tx, {9}), ASN_INTEGER).rows(rows_t::transmitters).value(0);
    add("txUnicastMode", under(tx, {10}), ASN_INTEGER).rows(rows_t::transmitters).rw().value(0);
    add("txMaxUnicast", under(tx, {11}), ASN_INTEGER).rows(rows_t::transmitters).rw().value(1);
    add("txSubMap", under(E, {7, 2, 1, 2}), ASN_INTEGER).rows(rows_t::tx_channels).rw(0, 64).init([](const view_t& v) {
        return integer(((v.x - 1) * 8 + v.y - 1) % 32 + 1);
    });
    add("txSubFormat", under(E, {7, 2, 1, 3}), ASN_INTEGER).rows(rows_t::tx_channels).rw().value(0x64000);

    // Sync; the counter and its text form share one variable.
    add("syncConductorClock", under(E, {8, 1}), ASN_INTEGER).value(1);
    add("syncPerformerClock", under(E, {8, 2}), ASN_INTEGER).value(0);
    add("syncClockTrim", under(E, {8, 3}), ASN_INTEGER).rw().value(0);
    add("syncBuddyLinkControl", under(E, {8, 4}), ASN_INTEGER).rw().value(0);
    add("syncStatus", under(E, {8, 5}), ASN_INTEGER).value(1);
    add("syncNTime", under(E, {8, 6}), ASN_OCTET_STR).init([](const view_t& v) {
        return octets(std::to_string(v.uptime / 100));
    });

    // Monitor: dirty flags, addresses, interface switching.
    add("miMonDirty", under(E, {9, 1, 1}), ASN_INTEGER).value(0);
    add("miMonSNMPDirty", under(E, {9, 1, 2}), ASN_INTEGER).value(0);
    add("miMonHMIDirty", under(E, {9, 1, 3}), ASN_INTEGER).value(0);
    add("miMonHMIMode", under(E, {9, 1, 4}), ASN_INTEGER).value(1);
    add("ipMonStaticIP", under(E, {9, 2, 1}), ASN_IPADDRESS).rw(4, 4).init([](const view_t&) { return ip_address(0); });
    add("ipMonCurrentIP", under(E, {9, 2, 2}), ASN_IPADDRESS).init([](const view_t& v) {
        return ip_address(v.device.ip);
    });
    add("ipMonStaticSubnetMask", under(E, {9, 2, 3}), ASN_IPADDRESS).rw(4, 4).init([](const view_t&) {
        return ip_address(0xFFFFFF00);
    });
    add("ipMonCurrentSubnetMask", under(E, {9, 2, 4}), ASN_IPADDRESS).init([](const view_t&) {
        return ip_address(0xFFFFFF00);
    });
    add("ifmCurrentIF", under(E, {9, 3, 1}), ASN_INTEGER).value(1);
    add("ifmLastChange", under(E, {9, 3, 2}), ASN_TIMETICKS).init([](const view_t&) {
        return unsigned_value(ASN_TIMETICKS, 0);
    });
    add("ifmtStatus", under(E, {9, 3, 3, 1, 2}), ASN_INTEGER).rows(rows_t::fixed, 2).init([](const view_t& v) {
        return integer(v.x == 1 ? 1 : 0);
    });
    add("ifmtLastChange", under(E, {9, 3, 3, 1, 3}), ASN_TIMETICKS).rows(rows_t::fixed, 2).init([](const view_t&) {
        return unsigned_value(ASN_TIMETICKS, 0);
    });
    add("ifmSwitchMode", under(E, {9, 3, 4}), ASN_INTEGER).rw().value(0);

    // Serial bridge.
    add("serialFormat", under(E, {10, 1, 1}), ASN_INTEGER).rw(0, 31).value(3);
    add("serialBaud", under(E, {10, 1, 2}), ASN_INTEGER).rw(0, 115200).value(9600);
    add("serialPPeriod", under(E, {10, 1, 3}), ASN_INTEGER).rw().value(10);
    add("serialRxMAC", under(E, {10, 1, 4}), ASN_OCTET_STR).rw(6, 6).text(std::string(6, '\0'));
    add("serialTxPriority", under(E, {10, 1, 5}), ASN_INTEGER).rw().value(0);
    add("serialTxChannel", under(E, {10, 1, 6}), ASN_INTEGER).rw().value(0);
    add("serialTxMAC", under(E, {10, 1, 7}), ASN_OCTET_STR).rw(6, 6).text(std::string(6, '\0'));

    // DSP processor group: the group's own scalar is the tag mode; the two
    // processor states follow the DSP program in flash.
    add("procTagMode", proc_group, ASN_INTEGER).dsp().rw(0, 1).value(0);
    add("procMode", under(proc_group, {1}), ASN_INTEGER)
        .dsp()
        .rw(1, 2)
        .init([](const view_t& v) { return integer(v.device.dsp.mode); })
        .assign([](device_t& d, int, const value_t& value) { d.dsp.mode = static_cast<int>(value.integer); });
    add("procStatus", under(proc_group, {2}), ASN_INTEGER).dsp().init([](const view_t& v) {
        return integer(v.device.dsp.status);
    });
    add("procFreeCycles", under(proc_group, {3}), ASN_INTEGER).dsp().value(500);

    // DSP control table: one entry whose name carries the flash word.
    add("dspArgCount", {1}, ASN_INTEGER).dsp(true).init([](const view_t& v) {
        return integer(static_cast<long>(v.device.dsp.args.size()));
    });
    add("dspArg", {2, 1, 2}, ASN_INTEGER)
        .dsp(true)
        .rows(rows_t::dsp_args)
        .rw()
        .init([](const view_t& v) { return integer(v.device.dsp.args[static_cast<size_t>(v.x - 1)]); })
        .assign([](device_t& d, int x, const value_t& value) {
            d.dsp.args[static_cast<size_t>(x - 1)] = static_cast<int32_t>(value.integer);
        });
    add("dspConfig", {3}, ASN_INTEGER).dsp(true).init([](const view_t& v) { return integer(v.device.dsp.config); });
    add("dspFlash", {4, 1, 2}, ASN_INTEGER).dsp(true).rows(rows_t::fixed, 3).init([](const view_t& v) {
        const dsp_t& dsp = v.device.dsp;
        long values[] = {static_cast<int32_t>(dsp.flash_word), dsp.arg_base, dsp.check_address};
        return integer(values[v.x - 1]);
    });

    std::vector<object_t> objects;
    for (auto& e : t)
        objects.push_back(std::move(e.o));
    return objects;
}

uint64_t store_key(size_t object, int x, int y)
{
    return static_cast<uint64_t>(object) << 32 | static_cast<uint64_t>(x) << 16 | static_cast<uint64_t>(y);
}

bool starts_with(const oid* name, size_t length, const oid_t& prefix)
{
    return length >= prefix.size() && std::equal(prefix.begin(), prefix.end(), name);
}

bool less(const oid* a, size_t a_length, const oid* b, size_t b_length)
{
    return std::lexicographical_compare(a, a + a_length, b, b + b_length);
}

} // namespace

oid_t dsp_entry(const device_t& device)
{
    // Six numbers of six bits (plus one) carry the word + 0x40000000; the last carries its top two bits.
    uint32_t v = device.dsp.flash_word + 0x40000000u;
    oid_t o = dsp_control;
    for (int i = 0; i < 5; ++i)
        o.push_back(((v >> (6 * i)) & 0x3F) + 1);
    o.push_back(v >> 30);
    return o;
}

mib_t::mib_t() : objects_(build_table()) {}

const oid_t& mib_t::base_of(const object_t& o, const device_t& device, oid_t& scratch) const
{
    if (!o.dsp_entry)
        return o.base;
    scratch = dsp_entry(device);
    scratch.insert(scratch.end(), o.base.begin(), o.base.end());
    return scratch;
}

bool mib_t::exists(const object_t& o, const device_t& device) const { return !o.dsp || device.dsp.present; }

int mib_t::rows_of(const object_t& o, const device_t& device) const
{
    switch (o.rows) {
    case rows_t::scalar:
        return 1;
    case rows_t::fixed:
        return o.fixed;
    case rows_t::transmitters:
    case rows_t::tx_channels:
        return device.transmitters;
    case rows_t::receivers:
    case rows_t::rx_channels:
        return device.receivers;
    case rows_t::dsp_args:
        return static_cast<int>(device.dsp.args.size());
    }
    return 0;
}

namespace {

constexpr int channels = 8;

bool two_index(rows_t rows) { return rows == rows_t::tx_channels || rows == rows_t::rx_channels; }

} // namespace

std::optional<mib_t::instance> mib_t::find(const device_t& device, const oid* name, size_t length) const
{
    oid_t scratch;
    for (size_t i = 0; i < objects_.size(); ++i) {
        const object_t& o = objects_[i];
        if (!exists(o, device))
            continue;
        const oid_t& base = base_of(o, device, scratch);
        if (!starts_with(name, length, base))
            continue;
        const oid* suffix = name + base.size();
        size_t n = length - base.size();
        if (o.rows == rows_t::scalar) {
            if (n == 1 && suffix[0] == 0)
                return instance{i, 0, 0};
            continue;
        }
        int rows = rows_of(o, device);
        if (two_index(o.rows)) {
            if (n == 2 && suffix[0] >= 1 && suffix[0] <= static_cast<oid>(rows) && suffix[1] >= 1 &&
                suffix[1] <= channels)
                return instance{i, static_cast<int>(suffix[0]), static_cast<int>(suffix[1])};
            continue;
        }
        if (n == 1 && suffix[0] >= 1 && suffix[0] <= static_cast<oid>(rows))
            return instance{i, static_cast<int>(suffix[0]), 0};
    }
    return std::nullopt;
}

value_t mib_t::value_of(const instance& at, const device_t& device, const store_t& store, uint32_t uptime) const
{
    const object_t& o = objects_[at.object];
    if (!o.assign) {
        auto stored = store.values.find(store_key(at.object, at.x, at.y));
        if (stored != store.values.end())
            return stored->second;
    }
    return o.initial(view_t{device, at.x, at.y, uptime});
}

int mib_t::get(const device_t& device, const store_t& store, const oid* name, size_t length, uint32_t uptime,
               value_t& out) const
{
    auto at = find(device, name, length);
    if (!at)
        return SNMP_ERR_NOSUCHNAME;
    out = value_of(*at, device, store, uptime);
    return SNMP_ERR_NOERROR;
}

int mib_t::next(const device_t& device, const store_t& store, const oid* name, size_t length, uint32_t uptime,
                oid_t& found, value_t& out) const
{
    std::optional<instance> best;
    oid_t best_name;
    oid_t candidate;
    oid_t scratch;
    for (size_t i = 0; i < objects_.size(); ++i) {
        const object_t& o = objects_[i];
        if (!exists(o, device))
            continue;
        const oid_t& base = base_of(o, device, scratch);
        bool inside = starts_with(name, length, base);
        // A subtree wholly before the name holds nothing after it.
        if (!inside && less(base.data(), base.size(), name, length))
            continue;
        int rows = rows_of(o, device);
        int last_y = two_index(o.rows) ? channels : 0;
        int first_x = o.rows == rows_t::scalar ? 0 : 1;
        for (int x = first_x; x <= (o.rows == rows_t::scalar ? 0 : rows); ++x) {
            bool found_here = false;
            for (int y = last_y ? 1 : 0; y <= last_y; ++y) {
                candidate = base;
                candidate.push_back(static_cast<oid>(x));
                if (last_y)
                    candidate.push_back(static_cast<oid>(y));
                if (!less(name, length, candidate.data(), candidate.size()))
                    continue;
                if (!best || less(candidate.data(), candidate.size(), best_name.data(), best_name.size())) {
                    best = instance{i, x, y};
                    best_name = candidate;
                }
                found_here = true;
                break;
            }
            if (found_here)
                break;
        }
    }
    if (!best)
        return SNMP_ERR_NOSUCHNAME;
    found = best_name;
    out = value_of(*best, device, store, uptime);
    return SNMP_ERR_NOERROR;
}

int mib_t::check_set(const device_t& device, const oid* name, size_t length, const value_t& value) const
{
    auto at = find(device, name, length);
    if (!at)
        return SNMP_ERR_NOSUCHNAME;
    const object_t& o = objects_[at->object];
    if (!o.writable)
        return SNMP_ERR_NOSUCHNAME; // a v1 agent's answer to a read-only variable
    if (value.type != o.type)
        return SNMP_ERR_BADVALUE;
    if (o.type == ASN_INTEGER) {
        if (value.integer < o.min || value.integer > o.max)
            return SNMP_ERR_BADVALUE;
        if (o.accepts && !o.accepts(device, value.integer))
            return SNMP_ERR_BADVALUE;
    } else if (o.type == ASN_OCTET_STR || o.type == ASN_IPADDRESS) {
        long size = static_cast<long>(value.octets.size());
        if (size < o.min || size > o.max)
            return SNMP_ERR_BADVALUE;
    }
    return SNMP_ERR_NOERROR;
}

void mib_t::set(device_t& device, store_t& store, const oid* name, size_t length, const value_t& value) const
{
    auto at = find(device, name, length);
    if (!at)
        return;
    const object_t& o = objects_[at->object];
    if (o.assign)
        o.assign(device, at->x, value);
    else
        store.values[store_key(at->object, at->x, at->y)] = value;
}

} // namespace devsim::snmp
