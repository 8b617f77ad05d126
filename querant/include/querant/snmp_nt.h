// Back-end of type 2: SNMPv1 through the Windows SNMP manager library,
// loaded by name at run time; one manager session per request.
#pragma once

#include "querant/snmp_variable.h"

#include <mgmtapi.h>
#include <snmp.h>

#include <windows.h>

#include <string>

namespace querant {

class snmp_manager_t;

class snmp_nt_t : public snmp_base_t {
public:
    // The first live instance loads the libraries; throws
    // qm::wapi::exception_t when a library or an entry point is missing.
    explicit snmp_nt_t(snmp_manager_t* engine);
    ~snmp_nt_t() override;

    void get(snmp_request_t& request) override;
    void get_next(snmp_request_t& request) override;
    void set(snmp_request_t& request) override;

    // Instances alive in the process (for tests).
    static int live_count();

private:
    LPSNMP_MGR_SESSION open_session(const snmp_request_t& request);
    void vb_fill(const snmp_request_t& request, SnmpVarBindList& list);
    // One session and one binding for the request, both freed whatever body
    // does with them.
    template <class Exchange> void exchange(snmp_request_t& request, Exchange&& body);
    void read(snmp_request_t& request, BYTE pdu_type);
    void request_check(LPSNMP_MGR_SESSION session, BYTE pdu_type, SnmpVarBindList& list);
    void vb_extract(const SnmpVarBindList& list, snmp_request_t& request);
    void asn_set_value(const std::string& value, AsnAny& any);

    CRITICAL_SECTION lock;
    snmp_manager_t* engine;
};

// Printable text of a manager value, as the snmp++ value classes print it.
std::string asn_value_text(const AsnAny& value);

} // namespace querant
