// Snmp: a synchronous SNMPv1 session. One object is used by one thread at a
// time; objects on different threads run their requests in parallel.
#pragma once

#include <functional>
#include <memory>

#include "snmp_pp/pdu.h"
#include "snmp_pp/target.h"

class Snmp {
public:
    // status receives SNMP_CLASS_SUCCESS, SNMP_CLASS_TL_IN_USE when a local
    // port other than 0 is taken, or SNMP_CLASS_ERROR when the SNMP library
    // cannot be initialised. Requests always go out from a free port of the
    // system's choice (every caller asks for port 0).
    Snmp(int& status, unsigned short port = 0, bool bind_ipv6 = false);
    ~Snmp();
    Snmp(const Snmp&) = delete;
    Snmp& operator=(const Snmp&) = delete;

    // Nothing to do on this platform; kept for callers written for WinSock.
    static void socket_startup() {}
    static void socket_cleanup() {}

    // One exchange each. The answer's bindings replace the Pdu's, and its error
    // status and index are stored in the Pdu. Result: SNMP_CLASS_SUCCESS; the
    // agent's error status (1..18) when it answered with one; or a negative
    // SNMP_CLASS_* status (time-out, invalid target/Pdu/Oid, transport failure).
    int get(Pdu& pdu, const SnmpTarget& target);
    int get_next(Pdu& pdu, const SnmpTarget& target);
    int set(Pdu& pdu, const SnmpTarget& target);

    // Text of a status: "SNMP++: ..." for the negative ones, "SNMP: ..." for
    // agent error statuses, "Unknown error code" otherwise.
    static const char* error_msg(int status);

    struct Session; // the library session: one socket for every target

private:
    int exchange(int pdu_type, Pdu& pdu, const SnmpTarget& target);

    std::unique_ptr<Session> session_;
};

// Request kinds passed to the exchange hook.
#define VX_SNMP_GET 0xA0
#define VX_SNMP_GETNEXT 0xA1
#define VX_SNMP_SET 0xA3

namespace vx_snmp_test {
// Replaces the network for every Snmp object of the process while set (an
// empty function restores it): the hook receives the request kind, the Pdu
// and the target and answers like Snmp::get does, filling the Pdu.
using exchange_hook = std::function<int(int pdu_type, Pdu& pdu, const CTarget& target)>;
void set_exchange_hook(exchange_hook hook);
} // namespace vx_snmp_test
