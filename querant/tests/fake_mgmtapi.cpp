// A manager library whose sessions never open (built as libmgmtapi.so and
// libsnmpapi.so beside the session-log test program).
#include <mgmtapi.h>
#include <snmp.h>
#include <win32/error.h>

#include <cstdlib>

extern "C" {
LPSNMP_MGR_SESSION SnmpMgrOpen(LPSTR, LPSTR, INT, INT)
{
    SetLastError(10055);
    return nullptr;
}
BOOL SnmpMgrClose(LPSNMP_MGR_SESSION) { return TRUE; }
BOOL SnmpMgrStrToOid(LPSTR, AsnObjectIdentifier*) { return FALSE; }
SNMPAPI SnmpMgrRequest(LPSNMP_MGR_SESSION, BYTE, SnmpVarBindList*, AsnInteger*, AsnInteger*) { return 0; }
LPVOID SnmpUtilMemAlloc(UINT bytes) { return std::calloc(1, bytes ? bytes : 1); }
LPVOID SnmpUtilMemReAlloc(LPVOID block, UINT bytes) { return std::realloc(block, bytes ? bytes : 1); }
VOID SnmpUtilMemFree(LPVOID block) { std::free(block); }
VOID SnmpUtilVarBindListFree(SnmpVarBindList* list)
{
    std::free(list->list);
    list->list = nullptr;
    list->len = 0;
}
}
