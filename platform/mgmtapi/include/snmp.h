// SNMP data structures and utility calls of the Windows SNMP manager
// libraries (the utility calls live in libsnmpapi.so).
#pragma once

#include "win32/types.h"

#define SNMP_FUNC_TYPE
#ifndef VOID
#define VOID void
#endif

typedef LONG AsnInteger;
typedef LONG AsnInteger32;
typedef ULONG AsnUnsigned32;
typedef ULONG AsnCounter32;
typedef ULONG AsnGauge32;
typedef ULONG AsnTimeticks;

typedef struct {
    BYTE* stream;
    UINT length;
    BOOL dynamic; // TRUE: stream belongs to the library and is freed with the value
} AsnOctetString;

typedef struct {
    UINT idLength;
    UINT* ids;
} AsnObjectIdentifier;

typedef union {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
} AsnCounter64;

typedef AsnOctetString AsnBits;
typedef AsnOctetString AsnSequence;
typedef AsnOctetString AsnIPAddress;
typedef AsnOctetString AsnNetworkAddress;
typedef AsnOctetString AsnDisplayString;
typedef AsnOctetString AsnOpaque;
typedef AsnObjectIdentifier AsnObjectName;

typedef struct {
    BYTE asnType;
    union {
        AsnInteger32 number;
        AsnUnsigned32 unsigned32;
        AsnCounter64 counter64;
        AsnOctetString string;
        AsnBits bits;
        AsnObjectIdentifier object;
        AsnSequence sequence;
        AsnIPAddress address;
        AsnCounter32 counter;
        AsnGauge32 gauge;
        AsnTimeticks ticks;
        AsnOpaque arbitrary;
    } asnValue;
} AsnAny;

typedef AsnAny AsnObjectSyntax;

typedef struct {
    AsnObjectName name;
    AsnObjectSyntax value;
} SnmpVarBind;

typedef struct {
    SnmpVarBind* list;
    UINT len;
} SnmpVarBindList;

// Value type tags.
#define ASN_INTEGER 0x02
#define ASN_INTEGER32 ASN_INTEGER
#define ASN_BITS 0x03
#define ASN_OCTETSTRING 0x04
#define ASN_NULL 0x05
#define ASN_OBJECTIDENTIFIER 0x06
#define ASN_SEQUENCE 0x30
#define ASN_IPADDRESS 0x40
#define ASN_COUNTER32 0x41
#define ASN_GAUGE32 0x42
#define ASN_TIMETICKS 0x43
#define ASN_OPAQUE 0x44
#define ASN_COUNTER64 0x46
#define ASN_UNSIGNED32 0x47
#define SNMP_EXCEPTION_NOSUCHOBJECT 0x80
#define SNMP_EXCEPTION_NOSUCHINSTANCE 0x81
#define SNMP_EXCEPTION_ENDOFMIBVIEW 0x82

// Request kinds.
#define SNMP_PDU_GET 0xA0
#define SNMP_PDU_GETNEXT 0xA1
#define SNMP_PDU_RESPONSE 0xA2
#define SNMP_PDU_SET 0xA3

// Error statuses of an answer.
#define SNMP_ERRORSTATUS_NOERROR 0
#define SNMP_ERRORSTATUS_TOOBIG 1
#define SNMP_ERRORSTATUS_NOSUCHNAME 2
#define SNMP_ERRORSTATUS_BADVALUE 3
#define SNMP_ERRORSTATUS_READONLY 4
#define SNMP_ERRORSTATUS_GENERR 5
#define SNMP_ERRORSTATUS_NOACCESS 6
#define SNMP_ERRORSTATUS_WRONGTYPE 7
#define SNMP_ERRORSTATUS_WRONGLENGTH 8
#define SNMP_ERRORSTATUS_WRONGENCODING 9
#define SNMP_ERRORSTATUS_WRONGVALUE 10
#define SNMP_ERRORSTATUS_NOCREATION 11
#define SNMP_ERRORSTATUS_INCONSISTENTVALUE 12
#define SNMP_ERRORSTATUS_RESOURCEUNAVAILABLE 13
#define SNMP_ERRORSTATUS_COMMITFAILED 14
#define SNMP_ERRORSTATUS_UNDOFAILED 15
#define SNMP_ERRORSTATUS_AUTHORIZATIONERROR 16
#define SNMP_ERRORSTATUS_NOTWRITABLE 17
#define SNMP_ERRORSTATUS_INCONSISTENTNAME 18

#define SNMPAPI INT
#define SNMPAPI_NOERROR TRUE
#define SNMPAPI_ERROR FALSE

extern "C" {
// Zero-filled block; NULL when out of memory.
LPVOID SNMP_FUNC_TYPE SnmpUtilMemAlloc(UINT bytes);
// Resizes a block (NULL allocates); a size of 0 keeps a valid block.
LPVOID SNMP_FUNC_TYPE SnmpUtilMemReAlloc(LPVOID block, UINT bytes);
VOID SNMP_FUNC_TYPE SnmpUtilMemFree(LPVOID block);
// Frees every binding's name and value and the list itself; the list is
// left empty.
VOID SNMP_FUNC_TYPE SnmpUtilVarBindListFree(SnmpVarBindList* list);
VOID SNMP_FUNC_TYPE SnmpUtilVarBindFree(SnmpVarBind* binding);
VOID SNMP_FUNC_TYPE SnmpUtilOidFree(AsnObjectIdentifier* oid);
// Frees what a value owns (dynamic octets, identifier numbers); the value
// becomes NULL.
VOID SNMP_FUNC_TYPE SnmpUtilAsnAnyFree(AsnAny* value);
}
