// libmgmtapi.so: SNMP manager sessions and requests over the Snmp classes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "mgmtapi.h"
#include "snmp_pp/snmp_pp.h"
#include "win32/error.h"

#ifndef WSAHOST_NOT_FOUND
#define WSAHOST_NOT_FOUND 11001
#endif

namespace {

constexpr uint32_t kSessionMagic = 0x4D475253; // "MGRS"

struct MgrSession {
    uint32_t magic = kSessionMagic;
    std::shared_ptr<Snmp> snmp;
    CTarget target;
};

// Callers open and close a session around every request; the SNMP session
// and its socket underneath are kept per thread and lent to one open session
// at a time, so that costs no socket. (Requests name their own destination.)
std::shared_ptr<Snmp> lend_snmp(int& status)
{
    thread_local std::shared_ptr<Snmp> kept;
    if (kept && kept.use_count() == 1)
        return kept;
    std::shared_ptr<Snmp> fresh(new (std::nothrow) Snmp(status));
    if (!fresh || status != SNMP_CLASS_SUCCESS)
        return nullptr;
    if (!kept)
        kept = fresh;
    return fresh;
}

MgrSession* session_of(LPSNMP_MGR_SESSION handle)
{
    auto* s = static_cast<MgrSession*>(handle);
    return (s && s->magic == kSessionMagic) ? s : nullptr;
}

// An Oid of the numbers of a binding's name or value (invalid when too long).
Oid oid_of(const AsnObjectIdentifier& o)
{
    unsigned long ids[SNMP_MAX_OID_LEN];
    if (o.idLength > SNMP_MAX_OID_LEN)
        return Oid(nullptr, o.idLength);
    std::copy(o.ids, o.ids + o.idLength, ids);
    return Oid(ids, o.idLength);
}

// A value for a set request; null when the type cannot be sent.
std::unique_ptr<SnmpSyntax> syntax_from_any(const AsnAny& any)
{
    const AsnOctetString& s = any.asnValue.string;
    switch (any.asnType) {
    case ASN_INTEGER:
        return std::make_unique<SnmpInt32>(any.asnValue.number);
    case ASN_OCTETSTRING:
        return std::make_unique<OctetStr>(s.stream, s.stream ? s.length : 0);
    case ASN_OPAQUE:
        return std::make_unique<OpaqueStr>(s.stream, s.stream ? s.length : 0);
    case ASN_BITS:
    case ASN_SEQUENCE:
        return std::make_unique<vx_snmp_detail::TaggedOctets>(any.asnType, s.stream, s.stream ? s.length : 0);
    case ASN_OBJECTIDENTIFIER: {
        const AsnObjectIdentifier& o = any.asnValue.object;
        if (o.idLength && !o.ids)
            return nullptr;
        auto oid = std::make_unique<Oid>(oid_of(o));
        return oid->valid() ? std::move(oid) : nullptr;
    }
    case ASN_IPADDRESS:
        if (!s.stream || s.length != 4)
            return nullptr;
        return std::make_unique<IpAddress>(s.stream);
    case ASN_COUNTER32:
        return std::make_unique<Counter32>(any.asnValue.counter);
    case ASN_GAUGE32:
        return std::make_unique<Gauge32>(any.asnValue.gauge);
    case ASN_TIMETICKS:
        return std::make_unique<TimeTicks>(any.asnValue.ticks);
    case ASN_UNSIGNED32:
        return std::make_unique<vx_snmp_detail::TaggedUInt32>(ASN_UNSIGNED32, any.asnValue.unsigned32);
    case ASN_COUNTER64:
        return std::make_unique<Counter64>(static_cast<unsigned long long>(any.asnValue.counter64.QuadPart));
    default:
        return nullptr;
    }
}

bool copy_octets(AsnOctetString& out, const OctetStr& in)
{
    out.stream = nullptr;
    out.length = 0;
    out.dynamic = FALSE;
    if (in.len() == 0)
        return true;
    out.stream = static_cast<BYTE*>(SnmpUtilMemAlloc(static_cast<UINT>(in.len())));
    if (!out.stream)
        return false;
    std::memcpy(out.stream, in.data(), in.len());
    out.length = static_cast<UINT>(in.len());
    out.dynamic = TRUE;
    return true;
}

bool copy_oid(AsnObjectIdentifier& out, const Oid& in)
{
    out.idLength = 0;
    out.ids = nullptr;
    if (in.len() == 0)
        return true;
    out.ids = static_cast<UINT*>(SnmpUtilMemAlloc(static_cast<UINT>(in.len() * sizeof(UINT))));
    if (!out.ids)
        return false;
    for (unsigned long i = 0; i < in.len(); ++i)
        out.ids[i] = static_cast<UINT>(in[i]);
    out.idLength = static_cast<UINT>(in.len());
    return true;
}

// Fills a binding from an answered Vb; false when out of memory.
bool binding_from_vb(SnmpVarBind& out, const Vb& vb)
{
    if (!copy_oid(out.name, vb.get_oid()))
        return false;
    AsnAny& any = out.value;
    const int syntax = vb.get_syntax();
    any.asnType = static_cast<BYTE>(syntax);
    const SnmpSyntax* value = vb.value();
    if (!value)
        return true; // NULL and the exception tags carry no value
    if (auto* i = dynamic_cast<const SnmpInt32*>(value)) {
        any.asnValue.number = static_cast<AsnInteger32>(static_cast<long>(*i));
        return true;
    }
    if (auto* u = dynamic_cast<const SnmpUInt32*>(value)) {
        any.asnValue.unsigned32 = static_cast<AsnUnsigned32>(static_cast<unsigned long>(*u));
        return true;
    }
    if (auto* c = dynamic_cast<const Counter64*>(value)) {
        any.asnValue.counter64.QuadPart = static_cast<unsigned long long>(*c);
        return true;
    }
    if (auto* o = dynamic_cast<const Oid*>(value))
        return copy_oid(any.asnValue.object, *o);
    if (auto* a = dynamic_cast<const Address*>(value)) {
        OctetStr octets(a->octets(), 4);
        return copy_octets(any.asnValue.address, octets);
    }
    if (auto* s = dynamic_cast<const OctetStr*>(value))
        return copy_octets(any.asnValue.string, *s);
    any.asnType = ASN_NULL;
    return true;
}

} // namespace

extern "C" {

LPSNMP_MGR_SESSION SnmpMgrOpen(LPSTR agent, LPSTR community, INT timeout, INT retries)
{
    if (!agent || !community) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    GenAddress address(agent);
    if (!address.valid()) {
        SetLastError(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    std::unique_ptr<MgrSession> session(new (std::nothrow) MgrSession);
    if (!session) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    int status = SNMP_CLASS_SUCCESS;
    session->snmp = lend_snmp(status);
    if (!session->snmp) {
        SetLastError(status != SNMP_CLASS_SUCCESS ? ERROR_GEN_FAILURE : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    session->target.set_address(address);
    session->target.set_version(version1);
    session->target.set_readcommunity(OctetStr(community));
    session->target.set_writecommunity(OctetStr(community));
    // Milliseconds to hundredths, rounded up; a negative time-out is none.
    const unsigned long ms = timeout < 0 ? 0 : static_cast<unsigned long>(timeout);
    session->target.set_timeout((ms + 9) / 10);
    session->target.set_retry(retries < 0 ? 0 : retries);
    return session.release();
}

BOOL SnmpMgrClose(LPSNMP_MGR_SESSION handle)
{
    MgrSession* session = session_of(handle);
    if (!session) {
        SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
        return FALSE;
    }
    session->magic = 0;
    delete session;
    return TRUE;
}

BOOL SnmpMgrStrToOid(LPSTR string, AsnObjectIdentifier* oid)
{
    if (!string || !oid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Oid parsed;
    if (string[0] == '.') {
        parsed = Oid(string);
    } else {
        parsed = Oid("1.3.6.1.2.1");
        Oid tail(string);
        if (!tail.valid())
            return FALSE;
        for (unsigned long i = 0; i < tail.len(); ++i)
            parsed += tail[i];
    }
    if (!parsed.valid() || parsed.len() == 0)
        return FALSE;
    if (!copy_oid(*oid, parsed)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

SNMPAPI SnmpMgrRequest(LPSNMP_MGR_SESSION handle, BYTE request_type, SnmpVarBindList* list, AsnInteger* error_status,
                       AsnInteger* error_index)
{
    MgrSession* session = session_of(handle);
    if (!session) {
        SetLastError(SNMP_MGMTAPI_INVALID_SESSION);
        return SNMPAPI_ERROR;
    }
    if (request_type != SNMP_PDU_GET && request_type != SNMP_PDU_GETNEXT && request_type != SNMP_PDU_SET) {
        SetLastError(SNMP_MGMTAPI_INVALID_CTL);
        return SNMPAPI_ERROR;
    }
    if (!list || !error_status || !error_index || list->len == 0 || !list->list || list->len > PDU_MAX_VBS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return SNMPAPI_ERROR;
    }

    Pdu pdu;
    for (UINT i = 0; i < list->len; ++i) {
        const SnmpVarBind& b = list->list[i];
        if (b.name.idLength == 0 || !b.name.ids) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return SNMPAPI_ERROR;
        }
        Vb vb(oid_of(b.name));
        if (request_type == SNMP_PDU_SET && b.value.asnType != ASN_NULL) {
            std::unique_ptr<SnmpSyntax> value = syntax_from_any(b.value);
            if (!value) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return SNMPAPI_ERROR;
            }
            vb.set_value(*value);
        }
        pdu += vb;
    }

    const int status = request_type == SNMP_PDU_GET ? session->snmp->get(pdu, session->target)
        : request_type == SNMP_PDU_GETNEXT          ? session->snmp->get_next(pdu, session->target)
                                                    : session->snmp->set(pdu, session->target);
    if (status < 0) {
        switch (status) {
        case SNMP_CLASS_TIMEOUT:
            SetLastError(SNMP_MGMTAPI_TIMEOUT);
            break;
        case SNMP_CLASS_INVALID_PDU:
        case SNMP_CLASS_INVALID_OID:
            SetLastError(ERROR_INVALID_PARAMETER);
            break;
        default:
            SetLastError(SNMP_MGMTAPI_SELECT_FDERRORS);
            break;
        }
        return SNMPAPI_ERROR;
    }

    // The answer's bindings replace the caller's.
    const int count = pdu.get_vb_count();
    SnmpVarBind* answer = nullptr;
    if (count > 0) {
        answer = static_cast<SnmpVarBind*>(SnmpUtilMemAlloc(static_cast<UINT>(count * sizeof(SnmpVarBind))));
        if (!answer) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return SNMPAPI_ERROR;
        }
        for (int i = 0; i < count; ++i) {
            if (!binding_from_vb(answer[i], pdu.vb(i))) {
                SnmpVarBindList partial{answer, static_cast<UINT>(count)};
                SnmpUtilVarBindListFree(&partial);
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return SNMPAPI_ERROR;
            }
        }
    }
    SnmpUtilVarBindListFree(list);
    list->list = answer;
    list->len = static_cast<UINT>(count);
    *error_status = status;
    *error_index = pdu.get_error_index();
    return SNMPAPI_NOERROR;
}

} // extern "C"
