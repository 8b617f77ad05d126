// One SNMPv1 request of one device, decoded and answered with net-snmp's
// message routines: get, get-next and set over the device's variables
// (mib.h). Anything else (another version, another PDU type, an unknown
// community, a message that does not decode) gets no answer, as from an
// agent; a set with the read community is not answered either.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "snmp/mib.h"

namespace devsim::snmp {

inline constexpr const char* read_community = "tagrok";
inline constexpr const char* write_community = "quenmil"; // reads and writes

struct outcome_t {
    std::vector<uint8_t> response;    // empty: no answer
    int command = 0;                  // the request's PDU type, 0 when it did not decode
    int error = 0;                    // error status of the answer
    std::vector<std::string> written; // "OID=value" of every variable a set changed
};

// `forced_error` (1..18) answers every request with that status, index 1,
// and sets nothing.
outcome_t answer(const mib_t& mib, device_t& device, store_t& store, const uint8_t* data, size_t size, uint32_t uptime,
                 int forced_error = 0);

std::string oid_text(const oid* name, size_t length);

struct pdu_deleter {
    void operator()(netsnmp_pdu* pdu) const { snmp_free_pdu(pdu); }
};
using pdu_ptr = std::unique_ptr<netsnmp_pdu, pdu_deleter>;

// An SNMPv1 message decoded, with its community; null for anything else.
pdu_ptr decode(const uint8_t* data, size_t size, std::string& community);
// The PDU encoded as an SNMPv1 message with that community (the PDU's own
// command is kept); empty when it cannot be built.
std::vector<uint8_t> encode(netsnmp_pdu* pdu, const std::string& community);

} // namespace devsim::snmp
