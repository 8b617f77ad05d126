// The firmware server's small SNMP session to one device: SNMPv1 with the
// devices' fixed communities, reads of one integer, of a batch of integers and
// a get-next that also gives the next variable's name. It writes nothing.
#pragma once

#include <snmp_pp/snmp_pp.h>

#include <map>
#include <memory>
#include <string>

class snmp_session_t : public CTarget {
public:
    // Bindings per request of get_ints.
    static constexpr int batch_size = 20;

    // Throws qm::exception_t with snmp++'s text when the session cannot be
    // made, "Invalid IP address" for an address snmp++ does not accept.
    snmp_session_t(const std::string& ip, long timeout_ms, int retries);

    // Request failures print snmp++'s text and a line end on the standard
    // output and return false.
    bool get_int(const std::string& oid, int& value);
    // Reads every key in key order, batch_size bindings a request, and stores
    // each answered value under its key. An empty map needs no request.
    bool get_ints(std::map<std::string, int>& values);
    bool get_next(const std::string& oid, int& value, std::string& next_oid);

private:
    // One request; false (with the text printed) when it fails.
    bool request(Pdu& pdu, bool next);

    std::unique_ptr<Snmp> session;
};
