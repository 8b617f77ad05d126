// SNMP syntax codes, status numbers and the common base of every value class.
#pragma once

#include <memory>
#include <string>

// Syntax codes (ASN.1 universal and SNMP application tags).
#define sNMP_SYNTAX_INT 0x02
#define sNMP_SYNTAX_INT32 sNMP_SYNTAX_INT
#define sNMP_SYNTAX_BITS 0x03
#define sNMP_SYNTAX_OCTETS 0x04
#define sNMP_SYNTAX_NULL 0x05
#define sNMP_SYNTAX_OID 0x06
#define sNMP_SYNTAX_SEQUENCE 0x30
#define sNMP_SYNTAX_IPADDR 0x40
#define sNMP_SYNTAX_CNTR32 0x41
#define sNMP_SYNTAX_GAUGE32 0x42
#define sNMP_SYNTAX_UINT32 sNMP_SYNTAX_GAUGE32
#define sNMP_SYNTAX_TIMETICKS 0x43
#define sNMP_SYNTAX_OPAQUE 0x44
#define sNMP_SYNTAX_CNTR64 0x46
#define sNMP_SYNTAX_NOSUCHOBJECT 0x80
#define sNMP_SYNTAX_NOSUCHINSTANCE 0x81
#define sNMP_SYNTAX_ENDOFMIBVIEW 0x82

// Library status numbers (negative) returned by the Snmp calls.
#define SNMP_CLASS_SUCCESS 0
#define SNMP_CLASS_ERROR (-1)
#define SNMP_CLASS_RESOURCE_UNAVAIL (-2)
#define SNMP_CLASS_INTERNAL_ERROR (-3)
#define SNMP_CLASS_UNSUPPORTED (-4)
#define SNMP_CLASS_TIMEOUT (-5)
#define SNMP_CLASS_ASYNC_RESPONSE (-6)
#define SNMP_CLASS_NOTIFICATION (-7)
#define SNMP_CLASS_SESSION_DESTROYED (-8)
#define SNMP_CLASS_INVALID (-10)
#define SNMP_CLASS_INVALID_PDU (-11)
#define SNMP_CLASS_INVALID_TARGET (-12)
#define SNMP_CLASS_INVALID_CALLBACK (-13)
#define SNMP_CLASS_INVALID_REQID (-14)
#define SNMP_CLASS_INVALID_NOTIFYID (-15)
#define SNMP_CLASS_INVALID_OPERATION (-16)
#define SNMP_CLASS_INVALID_OID (-17)
#define SNMP_CLASS_INVALID_ADDRESS (-18)
#define SNMP_CLASS_ERR_STATUS_SET (-19)
#define SNMP_CLASS_TL_UNSUPPORTED (-20)
#define SNMP_CLASS_TL_IN_USE (-21)
#define SNMP_CLASS_TL_FAILED (-22)
#define SNMP_CLASS_SHUTDOWN (-23)

// Agent error statuses (positive), returned as they are by the Snmp calls.
#define SNMP_ERROR_SUCCESS 0
#define SNMP_ERROR_TOO_BIG 1
#define SNMP_ERROR_NO_SUCH_NAME 2
#define SNMP_ERROR_BAD_VALUE 3
#define SNMP_ERROR_READ_ONLY 4
#define SNMP_ERROR_GENERAL_VB_ERR 5
#define SNMP_ERROR_NO_ACCESS 6
#define SNMP_ERROR_WRONG_TYPE 7
#define SNMP_ERROR_WRONG_LENGTH 8
#define SNMP_ERROR_WRONG_ENCODING 9
#define SNMP_ERROR_WRONG_VALUE 10
#define SNMP_ERROR_NO_CREATION 11
#define SNMP_ERROR_INCONSIST_VAL 12
#define SNMP_ERROR_RESOURCE_UNAVAIL 13
#define SNMP_ERROR_COMITFAIL 14
#define SNMP_ERROR_UNDO_FAIL 15
#define SNMP_ERROR_AUTH_ERR 16
#define SNMP_ERROR_NOT_WRITEABLE 17
#define SNMP_ERROR_INCONSIS_NAME 18

// Largest number of variable bindings one Pdu holds.
#define PDU_MAX_VBS 50
// Largest number of sub-identifiers in an Oid.
#define SNMP_MAX_OID_LEN 128

// Base of every value that a Vb can carry.
class SnmpSyntax {
public:
    virtual ~SnmpSyntax() = default;
    virtual int get_syntax() const = 0;
    virtual const char* get_printable() const = 0;
    virtual bool valid() const = 0;
    virtual SnmpSyntax* clone() const = 0;
    // Takes the value of `other` when it is of a compatible class; an
    // incompatible value leaves this one unchanged and returns false.
    virtual bool assign(const SnmpSyntax& other) = 0;
    virtual void clear() = 0;

protected:
    SnmpSyntax() = default;
    // The printable form is a cache of each object's own: copies start without.
    SnmpSyntax(const SnmpSyntax&) {}
    SnmpSyntax& operator=(const SnmpSyntax&) { return *this; }
    mutable std::string printable_; // storage behind get_printable()
};
