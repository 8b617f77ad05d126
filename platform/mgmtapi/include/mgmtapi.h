// Windows SNMP manager calls (libmgmtapi.so): sessions to one agent and
// SNMPv1 requests on binding lists.
#pragma once

#include "snmp.h"

// Last-error numbers set by the manager calls.
#define SNMP_MGMTAPI_TIMEOUT 40
#define SNMP_MGMTAPI_SELECT_FDERRORS 41
#define SNMP_MGMTAPI_TRAP_ERRORS 42
#define SNMP_MGMTAPI_TRAP_DUPINIT 43
#define SNMP_MGMTAPI_NOTRAPS 44
#define SNMP_MGMTAPI_AGAIN 45
#define SNMP_MGMTAPI_INVALID_CTL 46
#define SNMP_MGMTAPI_INVALID_SESSION 47
#define SNMP_MGMTAPI_INVALID_BUFFER 48

typedef PVOID LPSNMP_MGR_SESSION;

extern "C" {
// Opens a session to the agent at `agent` (dotted IPv4 text; "a.b.c.d:port"
// or "a.b.c.d/port" for another port than 161) with `community` for every
// request, `timeout` milliseconds per attempt and `retries` further attempts.
// NULL on failure, with the reason as last error.
LPSNMP_MGR_SESSION SNMP_FUNC_TYPE SnmpMgrOpen(LPSTR agent, LPSTR community, INT timeout, INT retries);
BOOL SNMP_FUNC_TYPE SnmpMgrClose(LPSNMP_MGR_SESSION session);
// Dotted numeric text to an identifier whose numbers are allocated with
// SnmpUtilMemAlloc. Text with a leading "." is absolute; other text is
// relative to 1.3.6.1.2.1. FALSE for anything but numbers and dots.
BOOL SNMP_FUNC_TYPE SnmpMgrStrToOid(LPSTR string, AsnObjectIdentifier* oid);
// One request (SNMP_PDU_GET, _GETNEXT or _SET) with the bindings of `list`.
// When the agent answers: nonzero, the answer's bindings replace the list's
// and its error status and index are stored. Otherwise 0, with last error
// SNMP_MGMTAPI_TIMEOUT (no answer), SNMP_MGMTAPI_SELECT_FDERRORS (transport
// failure), SNMP_MGMTAPI_INVALID_SESSION, SNMP_MGMTAPI_INVALID_CTL (request
// kind) or ERROR_INVALID_PARAMETER.
SNMPAPI SNMP_FUNC_TYPE SnmpMgrRequest(LPSNMP_MGR_SESSION session, BYTE request_type, SnmpVarBindList* list,
                                      AsnInteger* error_status, AsnInteger* error_index);
}
