// CSnmpSession over the snmp++-shaped classes: one Snmp object per request,
// so no socket stays open between requests.
#include "SnmpSession.h"

#include <snmp_pp/snmp_pp.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// The SNMP type each value kind selects; 0 for an unknown kind.
int AsnTypeOf(int kind)
{
    switch (kind) {
    case KIND_OCTETS:
    case KIND_TEXT:
        return sNMP_SYNTAX_OCTETS;
    case KIND_INTEGER:
        return sNMP_SYNTAX_INT;
    case KIND_IPADDRESS:
        return sNMP_SYNTAX_IPADDR;
    case KIND_TIMETICKS:
        return sNMP_SYNTAX_TIMETICKS;
    default:
        return 0;
    }
}

// The zero-terminated text at dest, or null when it does not end inside size.
const char* TextAt(const void* dest, size_t size)
{
    const char* text = static_cast<const char*>(dest);
    return std::memchr(text, 0, size) ? text : nullptr;
}

// Octets of an OCTET STRING (or Opaque) value, or of an IpAddress value.
bool OctetsOf(const Vb& vb, const unsigned char*& data, size_t& length)
{
    const SnmpSyntax* value = vb.value();
    const int syntax = vb.get_syntax();
    if (syntax == sNMP_SYNTAX_IPADDR) {
        if (auto* a = dynamic_cast<const Address*>(value)) {
            data = a->octets();
            length = 4;
            return true;
        }
    }
    if (syntax == sNMP_SYNTAX_OCTETS || syntax == sNMP_SYNTAX_OPAQUE || syntax == sNMP_SYNTAX_IPADDR) {
        if (auto* s = dynamic_cast<const OctetStr*>(value)) {
            data = s->data();
            length = s->len();
            return true;
        }
    }
    return false;
}

// INTEGER, and the unsigned 32-bit types taken as they are stored.
bool IntegerOf(const Vb& vb, int32_t& result)
{
    const int syntax = vb.get_syntax();
    if (syntax == sNMP_SYNTAX_INT) {
        int v = 0;
        if (vb.get_value(v) != SNMP_CLASS_SUCCESS)
            return false;
        result = v;
        return true;
    }
    if (syntax == sNMP_SYNTAX_CNTR32 || syntax == sNMP_SYNTAX_GAUGE32 || syntax == sNMP_SYNTAX_TIMETICKS) {
        unsigned long v = 0;
        if (vb.get_value(v) != SNMP_CLASS_SUCCESS)
            return false;
        result = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
    }
    return false;
}

} // namespace

CSnmpSession::CSnmpSession() { Snmp::socket_startup(); }

CSnmpSession::~CSnmpSession()
{
    DiscardBatch();
    Snmp::socket_cleanup();
}

int CSnmpSession::SetText(std::string& field, const char* text)
{
    if (!text)
        return SNMPS_NULL_TEXT;
    const size_t length = strnlen(text, kTextMax + 1);
    if (length > kTextMax)
        return SNMPS_TEXT_TOO_LONG;
    field.assign(text, length);
    return SNMPS_OK;
}

int CSnmpSession::SetValueKind(int kind)
{
    const int asn = AsnTypeOf(kind);
    if (!asn)
        return SNMPS_BAD_KIND;
    m_kind = kind;
    m_asnType = asn;
    return SNMPS_OK;
}

void CSnmpSession::DiscardBatch()
{
    m_pdu.reset();
    m_vb.reset();
    m_count = 0;
}

int CSnmpSession::AddVariable(void* dest, size_t size, int flags, int maximum)
{
    if (flags & ADD_NEW_BATCH) {
        // A new batch replaces whatever was pending, full or not.
        m_pdu = std::make_unique<Pdu>();
        m_vb = std::make_unique<Vb>();
        m_count = 0;
    } else {
        if (m_count >= kBatchMax)
            return SNMPS_BATCH_FULL;
        if (!m_pdu || !m_vb)
            return SNMPS_NO_BATCH;
    }
    if (!dest || size == 0)
        return SNMPS_NULL_TEXT;
    const Oid oid(m_oid.c_str());
    if (!oid.valid() || oid.len() == 0)
        return SNMPS_BAD_OID;
    m_vb->set_oid(oid);

    Entry entry;
    entry.asnType = m_asnType;
    entry.kind = m_kind;
    entry.maximum = std::max(maximum, 0);
    entry.dest = dest;
    entry.size = size;
    if (flags & ADD_VALUE) {
        if (ValueFromText(entry, *m_vb) != SNMPS_OK)
            return SNMPS_BAD_VALUE;
    } else {
        m_vb->set_null();
    }
    *m_pdu += *m_vb;
    m_entries[m_count++] = entry;
    return SNMPS_OK;
}

int CSnmpSession::ValueFromText(const Entry& e, Vb& vb) const
{
    switch (e.asnType) {
    case sNMP_SYNTAX_INT: {
        if (e.size < sizeof(int32_t))
            return SNMPS_BAD_VALUE;
        int32_t v = 0;
        std::memcpy(&v, e.dest, sizeof v);
        vb.set_value(SnmpInt32(v));
        return SNMPS_OK;
    }
    case sNMP_SYNTAX_OCTETS: {
        if (e.kind == KIND_TEXT) {
            const char* text = TextAt(e.dest, e.size);
            if (!text)
                return SNMPS_BAD_VALUE;
            vb.set_value(OctetStr(text));
            return SNMPS_OK;
        }
        // Counted bytes: a 16-bit little-endian length, then the bytes.
        if (e.size < 2)
            return SNMPS_BAD_VALUE;
        const auto* b = static_cast<const unsigned char*>(e.dest);
        const size_t length = b[0] | (b[1] << 8);
        if (length > e.size - 2)
            return SNMPS_BAD_VALUE;
        vb.set_value(OctetStr(b + 2, static_cast<unsigned long>(length)));
        return SNMPS_OK;
    }
    case sNMP_SYNTAX_IPADDR: {
        const char* text = TextAt(e.dest, e.size);
        if (!text)
            return SNMPS_BAD_VALUE;
        const IpAddress address(text);
        if (!address.valid())
            return SNMPS_BAD_VALUE;
        vb.set_value(address);
        return SNMPS_OK;
    }
    case sNMP_SYNTAX_TIMETICKS: {
        const char* text = TextAt(e.dest, e.size);
        if (!text)
            return SNMPS_BAD_VALUE;
        vb.set_value(TimeTicks(static_cast<unsigned long>(std::atol(text))));
        return SNMPS_OK;
    }
    default:
        return SNMPS_BAD_VALUE;
    }
}

int CSnmpSession::StoreValue(const Entry& e, const Vb& vb, int maximum)
{
    if (vb.get_syntax() == sNMP_SYNTAX_NULL)
        return SNMPS_NO_FORM;
    auto* out = static_cast<unsigned char*>(e.dest);
    switch (e.kind) {
    case KIND_INTEGER: {
        int32_t v = 0;
        if (e.size < sizeof v || !IntegerOf(vb, v))
            return SNMPS_NO_FORM;
        std::memcpy(out, &v, sizeof v);
        return SNMPS_OK;
    }
    case KIND_OCTETS: {
        const unsigned char* data = nullptr;
        size_t length = 0;
        if (e.size < 2 || !OctetsOf(vb, data, length))
            return SNMPS_NO_FORM;
        // The length's high byte is always 0: at most 255 bytes, and never
        // more than the destination holds.
        size_t limit = std::min<size_t>(e.size - 2, 255);
        if (maximum > 0)
            limit = std::min<size_t>(limit, static_cast<size_t>(maximum));
        length = std::min(length, limit);
        out[0] = static_cast<unsigned char>(length);
        out[1] = 0;
        if (length)
            std::memcpy(out + 2, data, length);
        return SNMPS_OK;
    }
    default: {
        // Text kinds take the value's printable form, cut to fit.
        const std::string text = vb.get_printable_value();
        size_t limit = e.size - 1;
        if (maximum > 0)
            limit = std::min<size_t>(limit, static_cast<size_t>(maximum));
        const size_t length = std::min(text.size(), limit);
        std::memcpy(out, text.data(), length);
        out[length] = 0;
        return SNMPS_OK;
    }
    }
}

int CSnmpSession::Execute(bool set)
{
    struct EndBatch {
        CSnmpSession* s;
        ~EndBatch() { s->DiscardBatch(); }
    } end{this};

    if (m_count == 0 || !m_pdu)
        return SNMPS_EMPTY_BATCH;
    UdpAddress address(m_address.c_str());
    if (!address.valid())
        return SNMPS_BAD_ADDRESS;
    const OctetStr community(set ? m_writeCommunity.c_str() : m_readCommunity.c_str());
    int status = SNMP_CLASS_SUCCESS;
    Snmp snmp(status);
    if (status != SNMP_CLASS_SUCCESS)
        return status;

    address.set_port(m_port);
    CTarget target(address);
    target.set_version(version1);
    target.set_retry(m_retries);
    // A time-out of 0 would fail every request at once.
    target.set_timeout(static_cast<unsigned long>(std::max(m_timeout, 1)));
    if (set)
        target.set_writecommunity(community);
    else
        target.set_readcommunity(community);

    status = set ? snmp.set(*m_pdu, target) : snmp.get(*m_pdu, target);
    if (status != SNMP_CLASS_SUCCESS) {
        m_lastStatus = status;
        return status == SNMP_ERROR_NO_SUCH_NAME ? SNMPS_NOT_AVAILABLE : SNMPS_FAILED;
    }
    for (int i = 0; i < m_count; ++i) {
        Vb vb;
        if (!m_pdu->get_vb(vb, i))
            return SNMPS_NO_VB;
        switch (vb.get_syntax()) {
        case sNMP_SYNTAX_NOSUCHOBJECT:
            return SNMPS_NO_OBJECT;
        case sNMP_SYNTAX_NOSUCHINSTANCE:
            return SNMPS_NO_INSTANCE;
        case sNMP_SYNTAX_ENDOFMIBVIEW:
            return SNMPS_END_OF_MIB;
        default:
            break;
        }
        // The echo of a SET is stored whole, as far as the destination holds it.
        const int result = StoreValue(m_entries[i], vb, set ? 0 : m_entries[i].maximum);
        if (result != SNMPS_OK)
            return result;
    }
    return SNMPS_OK;
}

int CSnmpSession::Prepare(const char* oid, int kind)
{
    int result = SetValueKind(kind);
    if (result == SNMPS_OK)
        result = SetOid(oid);
    return result;
}

int CSnmpSession::SetOneValue(const char* oid, int kind, void* value, size_t size)
{
    int result = Prepare(oid, kind);
    if (result == SNMPS_OK)
        result = AddVariable(value, size, ADD_NEW_BATCH | ADD_VALUE, 0);
    if (result != SNMPS_OK) {
        DiscardBatch();
        return result;
    }
    return ExecuteSet();
}

int CSnmpSession::SetOneInteger(const char* oid, int kind, int32_t value)
{
    return SetOneValue(oid, kind, &value, sizeof value);
}

int CSnmpSession::GetOne(const char* oid, int kind, void* dest, size_t size, int maximum)
{
    int result = Prepare(oid, kind);
    if (result == SNMPS_OK)
        result = AddVariable(dest, size, ADD_NEW_BATCH | ADD_PLAIN, maximum);
    if (result != SNMPS_OK) {
        DiscardBatch();
        return result;
    }
    return ExecuteGet();
}

int CSnmpSession::BeginBatch(const char* oid, int kind, void* dest, size_t size, int maximum)
{
    const int result = Prepare(oid, kind);
    return result != SNMPS_OK ? result : AddVariable(dest, size, ADD_NEW_BATCH | ADD_PLAIN, maximum);
}

int CSnmpSession::AddToBatch(const char* oid, int kind, void* dest, size_t size, int maximum)
{
    const int result = Prepare(oid, kind);
    return result != SNMPS_OK ? result : AddVariable(dest, size, ADD_PLAIN, maximum);
}
