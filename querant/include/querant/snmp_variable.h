// Request and result records shared by the engine, its workers and the
// automation objects, and the interface of an SNMP back-end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace querant {

class snmp_task_t;

// ASN.1 and SNMP application type codes as the back-ends deliver them.
enum asn_type_t : int32_t {
    asn_integer = 2,
    asn_bit_string = 3,
    asn_octet_string = 4,
    asn_null = 5,
    asn_object_id = 6,
    asn_sequence = 48,
    asn_ip_address = 64,
    asn_counter32 = 65,
    asn_gauge32 = 66,
    asn_time_ticks = 67,
    asn_opaque = 68,
    asn_counter64 = 70,
    asn_unsigned32 = 71,
};

// One worker's record of the request it carries out; emptied before each.
struct snmp_request_t {
    std::string ip;
    std::string name;  // dotted OID text; get-next writes the name it found
    std::string value; // in: the value to write (set); out: the value read
    int32_t type = 0;  // out: type code of the value

    void clear()
    {
        ip.clear();
        name.clear();
        value.clear();
        type = 0;
    }
};

// Result of one variable for a client.
class snmp_variable_t {
public:
    snmp_variable_t(std::string ip_text, std::string name_text) : ip(std::move(ip_text)), name(std::move(name_text)) {}

    // Takes over a task's outcome: result name, value text, type and valid.
    void copy(const snmp_task_t& task);

    std::string ip;
    std::string name;
    std::string value = "unknown";
    int32_t type = 0;
    bool valid = false;
};

using variable_list_t = std::vector<std::unique_ptr<snmp_variable_t>>;

// An SNMPv1 back-end: one exchange per call, failures thrown as
// qm::exception_t with their text.
class snmp_base_t {
public:
    virtual ~snmp_base_t() = default;
    virtual void get(snmp_request_t& request) = 0;
    virtual void get_next(snmp_request_t& request) = 0;
    virtual void set(snmp_request_t& request) = 0;
};

} // namespace querant
