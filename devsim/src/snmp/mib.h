// The variables a simulated device serves over SNMP: MIB-II's system group
// and the few interface and address variables the programs read, and the
// device's private subtree (firmware, flash, errors, mode, conductor, audio,
// receivers, transmitters, sync, monitor, serial bridge, and on devices with
// a DSP its processor group and control table).
//
// The table is static; tables size themselves by the device's bundle counts
// and DSP arguments. A variable's value comes from the device's store once a
// set wrote it, else from the device record (what follows the flash, the
// counters, the up time) or the variable's default.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "device.h"

namespace devsim::snmp {

using oid_t = std::vector<oid>;

struct value_t {
    u_char type = 0x05; // ASN_NULL
    long integer = 0;   // INTEGER, Counter32, Gauge32, TimeTicks
    std::string octets; // OCTET STRING; IpAddress as 4 bytes in network order
    oid_t id;           // OBJECT IDENTIFIER
};

// Values written by sets, per device; they live as long as the simulator.
struct store_t {
    std::unordered_map<uint64_t, value_t> values;
};

// What a value may depend on besides the device.
struct view_t {
    const device_t& device;
    int x;           // 1-based row of a table, 0 for a scalar
    int y;           // 1-based channel of a two-index table, else 0
    uint32_t uptime; // hundredths of a second since the device started
};

enum class rows_t { scalar, fixed, transmitters, receivers, tx_channels, rx_channels, dsp_args };

struct object_t {
    const char* name;
    oid_t base; // a scalar's instance .0 follows it; for a DSP entry column, the part after the entry
    u_char type;
    rows_t rows = rows_t::scalar;
    int fixed = 0; // row count of a fixed table
    bool writable = false;
    bool dsp = false;       // only on devices with a DSP
    bool dsp_entry = false; // lies under the DSP control table's entry, whose name depends on the device
    long min = 0;           // integers: accepted range; octet strings: accepted length
    long max = 0;
    std::function<bool(const device_t&, long)> accepts; // further check of an integer set
    std::function<value_t(const view_t&)> initial;
    std::function<void(device_t&, int x, const value_t&)> assign; // a set that changes the device record
};

// Where the device's DSP control table entry lies: 1.3.6.1.4.1.2680.1.4.2
// and six numbers that encode the flash word, as the firmware server
// decodes them.
oid_t dsp_entry(const device_t& device);

class mib_t {
public:
    mib_t();

    // Result codes are SNMPv1 error statuses: 0, noSuchName (2), badValue (3).
    int get(const device_t& device, const store_t& store, const oid* name, size_t length, uint32_t uptime,
            value_t& out) const;
    // The first variable after `name`; noSuchName at the end of the view.
    int next(const device_t& device, const store_t& store, const oid* name, size_t length, uint32_t uptime,
             oid_t& found, value_t& out) const;
    // Whether a set of `value` would be taken: noSuchName for an unknown or
    // read-only variable, badValue for a wrong type, length or value.
    int check_set(const device_t& device, const oid* name, size_t length, const value_t& value) const;
    // Stores a value that check_set accepted.
    void set(device_t& device, store_t& store, const oid* name, size_t length, const value_t& value) const;

    const std::vector<object_t>& objects() const { return objects_; }

private:
    struct instance {
        size_t object;
        int x;
        int y;
    };
    // The object's name on this device; `scratch` holds it when it depends on the device.
    const oid_t& base_of(const object_t& o, const device_t& device, oid_t& scratch) const;
    bool exists(const object_t& o, const device_t& device) const;
    int rows_of(const object_t& o, const device_t& device) const;
    std::optional<instance> find(const device_t& device, const oid* name, size_t length) const;
    value_t value_of(const instance& at, const device_t& device, const store_t& store, uint32_t uptime) const;

    std::vector<object_t> objects_;
};

} // namespace devsim::snmp
