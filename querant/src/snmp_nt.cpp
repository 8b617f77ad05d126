#include "querant/snmp_nt.h"

#include "querant/snmp_manager.h"
#include "querant/snmp_pp.h"

#include <qm/exception.h>
#include <qm/log_file.h>
#include <snmp_pp/snmp_pp.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <vector>

namespace querant {

namespace {

using open_fn = LPSNMP_MGR_SESSION (*)(LPSTR, LPSTR, INT, INT);
using close_fn = BOOL (*)(LPSNMP_MGR_SESSION);
using str_to_oid_fn = BOOL (*)(LPSTR, AsnObjectIdentifier*);
using request_fn = SNMPAPI (*)(LPSNMP_MGR_SESSION, BYTE, SnmpVarBindList*, AsnInteger*, AsnInteger*);
using list_free_fn = VOID (*)(SnmpVarBindList*);
using mem_free_fn = VOID (*)(LPVOID);
using mem_alloc_fn = LPVOID (*)(UINT);
using mem_realloc_fn = LPVOID (*)(LPVOID, UINT);

struct library_t {
    std::mutex lock;
    int live = 0;
    HMODULE mgmtapi = nullptr;
    HMODULE snmpapi = nullptr;
    open_fn mgr_open = nullptr;
    close_fn mgr_close = nullptr;
    str_to_oid_fn mgr_str_to_oid = nullptr;
    request_fn mgr_request = nullptr;
    list_free_fn list_free = nullptr;
    mem_free_fn mem_free = nullptr;
    mem_alloc_fn mem_alloc = nullptr;
    mem_realloc_fn mem_realloc = nullptr;
};

library_t& lib()
{
    static library_t l;
    return l;
}

template <class F> bool look_up(HMODULE module, const char* name, F& out)
{
    out = vx_proc_cast<F>(GetProcAddress(module, name));
    return out != nullptr;
}

// Frees both modules and keeps the failure's last error for the exception.
[[noreturn]] void load_failed(library_t& l)
{
    const DWORD error = GetLastError();
    if (l.snmpapi)
        FreeLibrary(l.snmpapi);
    if (l.mgmtapi)
        FreeLibrary(l.mgmtapi);
    l.snmpapi = l.mgmtapi = nullptr;
    SetLastError(error);
    throw qm::wapi::exception_t();
}

class cs_lock_t {
public:
    explicit cs_lock_t(CRITICAL_SECTION& cs) : section(cs) { EnterCriticalSection(&section); }
    ~cs_lock_t() { LeaveCriticalSection(&section); }

private:
    CRITICAL_SECTION& section;
};

} // namespace

int snmp_nt_t::live_count()
{
    std::lock_guard guard(lib().lock);
    return lib().live;
}

snmp_nt_t::snmp_nt_t(snmp_manager_t* owner) : engine(owner)
{
    library_t& l = lib();
    {
        std::lock_guard guard(l.lock);
        if (l.live == 0) {
            l.mgmtapi = LoadLibraryA("mgmtapi.dll");
            if (!l.mgmtapi)
                load_failed(l);
            l.snmpapi = LoadLibraryA("snmpapi.dll");
            if (!l.snmpapi)
                load_failed(l);
            if (!look_up(l.mgmtapi, "SnmpMgrOpen", l.mgr_open) || !look_up(l.mgmtapi, "SnmpMgrClose", l.mgr_close) ||
                !look_up(l.mgmtapi, "SnmpMgrStrToOid", l.mgr_str_to_oid) ||
                !look_up(l.mgmtapi, "SnmpMgrRequest", l.mgr_request))
                load_failed(l);
            if (!look_up(l.snmpapi, "SnmpUtilVarBindListFree", l.list_free) ||
                !look_up(l.snmpapi, "SnmpUtilMemFree", l.mem_free) ||
                !look_up(l.snmpapi, "SnmpUtilMemAlloc", l.mem_alloc) ||
                !look_up(l.snmpapi, "SnmpUtilMemReAlloc", l.mem_realloc))
                load_failed(l);
        }
        ++l.live;
    }
    InitializeCriticalSection(&lock);
}

snmp_nt_t::~snmp_nt_t()
{
    DeleteCriticalSection(&lock);
    library_t& l = lib();
    std::lock_guard guard(l.lock);
    if (--l.live == 0) {
        FreeLibrary(l.snmpapi);
        FreeLibrary(l.mgmtapi);
        l.snmpapi = l.mgmtapi = nullptr;
    }
}

LPSNMP_MGR_SESSION snmp_nt_t::open_session(const snmp_request_t& request)
{
    std::string user = engine->user();
    // A negative time-out acts as none.
    const INT timeout = std::max<INT>(engine->timeout(), 0);
    const INT retries = engine->retry_count();
    std::string ip = request.ip;
    LPSNMP_MGR_SESSION session = lib().mgr_open(ip.data(), user.data(), timeout, retries);
    if (session)
        return session;

    const DWORD error = GetLastError();
    SYSTEMTIME now;
    GetSystemTime(&now);
    char line[1000];
    std::snprintf(line, sizeof line,
                  "%u/%u/%u,%u:%u:%u.%u: GetLastError = %u,IP = [%s],user=[%s],timeout = [%d],retry_count = [%d]"
                  "  Snmp session creation fails, error in snmp_nt_t::open_session ()",
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                  static_cast<unsigned>(error), request.ip.c_str(), user.c_str(), timeout, retries);
    std::cout << line << std::flush;
    const std::string path = GetProgramDirectory() + "session.log";
    if (FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fputs(line, f);
        std::fputs("\n", f);
        std::fclose(f);
    }
    throw qm::exception_t(std::string(line));
}

void snmp_nt_t::vb_fill(const snmp_request_t& request, SnmpVarBindList& list)
{
    library_t& l = lib();
    std::string text = "." + request.name;
    AsnObjectIdentifier oid{0, nullptr};
    if (!l.mgr_str_to_oid(text.data(), &oid))
        throw qm::exception_t("SnmpMgrStrToOid () fails, error in snmp_nt_t::vb_fill (), oid = " + text);
    try {
        list.list = static_cast<SnmpVarBind*>(l.mem_alloc(sizeof(SnmpVarBind)));
        if (!list.list)
            throw qm::exception_t("SnmpVarBindList memory allocation fails, error in snmp_nt_t::vb_fill ()");
        list.len = 1;
        list.list[0].name.ids = static_cast<UINT*>(l.mem_alloc(std::max<UINT>(oid.idLength, 1) * sizeof(UINT)));
        if (!list.list[0].name.ids)
            throw qm::exception_t("vb_list.list[0].name.ids memory allocation fails, error in snmp_nt_t::vb_fill ()");
        std::memcpy(list.list[0].name.ids, oid.ids, oid.idLength * sizeof(UINT));
        list.list[0].name.idLength = oid.idLength;
        l.mem_free(oid.ids);
        oid.ids = nullptr;
        list.list[0].value.asnType = ASN_NULL;
    } catch (const qm::exception_t&) {
        l.mem_free(oid.ids);
        l.list_free(&list);
        throw;
    } catch (...) {
        l.mem_free(oid.ids);
        l.list_free(&list);
        throw qm::exception_t("Unknown error in snmp_nt_t::vb_fill().");
    }
}

void snmp_nt_t::request_check(LPSNMP_MGR_SESSION session, BYTE pdu_type, SnmpVarBindList& list)
{
    AsnInteger status = 0;
    AsnInteger index = 0;
    if (!lib().mgr_request(session, pdu_type, &list, &status, &index)) {
        if (GetLastError() == SNMP_MGMTAPI_SELECT_FDERRORS)
            throw qm::exception_t("Winsock select error");
        throw qm::exception_t("Request timeout");
    }
    switch (status) {
    case SNMP_ERRORSTATUS_NOERROR:
        return;
    case SNMP_ERRORSTATUS_TOOBIG:
        throw qm::exception_t("Unexpected response");
    case SNMP_ERRORSTATUS_NOSUCHNAME:
        throw qm::exception_t("Unknown variable");
    case SNMP_ERRORSTATUS_BADVALUE:
        throw qm::exception_t("Bad value");
    case SNMP_ERRORSTATUS_READONLY:
        throw qm::exception_t("Write protect");
    default:
        // General error and every later status: the agent did not do it.
        throw qm::exception_t("General error");
    }
}

std::string asn_value_text(const AsnAny& value)
{
    const AsnOctetString& s = value.asnValue.string;
    switch (value.asnType) {
    case ASN_INTEGER:
        return SnmpInt32(value.asnValue.number).get_printable();
    case ASN_BITS:
    case ASN_OCTETSTRING:
    case ASN_SEQUENCE:
    case ASN_OPAQUE:
        return OctetStr(s.stream, s.stream ? s.length : 0).get_printable();
    case ASN_OBJECTIDENTIFIER: {
        const AsnObjectIdentifier& o = value.asnValue.object;
        const UINT length = o.ids ? std::min<UINT>(o.idLength, SNMP_MAX_OID_LEN + 1) : 0;
        unsigned long ids[SNMP_MAX_OID_LEN + 1];
        std::copy(o.ids, o.ids + length, ids);
        return Oid(ids, length).get_printable();
    }
    case ASN_IPADDRESS:
        if (!s.stream || s.length < 4)
            throw qm::exception_t("Invalid IP length");
        return IpAddress(s.stream).get_printable();
    case ASN_COUNTER32:
        return Counter32(value.asnValue.counter).get_printable();
    case ASN_GAUGE32:
        return Gauge32(value.asnValue.gauge).get_printable();
    case ASN_TIMETICKS:
        return TimeTicks(value.asnValue.ticks).get_printable();
    case ASN_COUNTER64:
        return Counter64(value.asnValue.counter64.u.HighPart, value.asnValue.counter64.u.LowPart).get_printable();
    case ASN_UNSIGNED32:
        return SnmpUInt32(value.asnValue.unsigned32).get_printable();
    default:
        return std::string();
    }
}

void snmp_nt_t::vb_extract(const SnmpVarBindList& list, snmp_request_t& request)
{
    try {
        if (list.len < 1 || !list.list)
            throw qm::exception_t("no binding");
        const SnmpVarBind& vb = list.list[0];
        char digits[SNMP_MAX_OID_LEN * 11];
        char* out = digits;
        for (UINT i = 0; i < vb.name.idLength && out + 11 <= digits + sizeof digits; ++i) {
            if (i)
                *out++ = '.';
            out = std::to_chars(out, digits + sizeof digits, vb.name.ids[i]).ptr;
        }
        std::string name(digits, out);
        std::string text = asn_value_text(vb.value);
        request.name = std::move(name);
        request.value = std::move(text);
        request.type = vb.value.asnType;
    } catch (...) {
        throw qm::exception_t("Unknown error in snmp_nt_t::vb_extract().");
    }
}

template <class Exchange> void snmp_nt_t::exchange(snmp_request_t& request, Exchange&& body)
{
    cs_lock_t guard(lock);
    library_t& l = lib();
    LPSNMP_MGR_SESSION session = open_session(request);
    SnmpVarBindList list{nullptr, 0};
    try {
        vb_fill(request, list);
        body(session, list);
    } catch (...) {
        l.list_free(&list);
        l.mgr_close(session);
        throw;
    }
    l.list_free(&list);
    l.mgr_close(session);
}

void snmp_nt_t::read(snmp_request_t& request, BYTE pdu_type)
{
    exchange(request, [&](LPSNMP_MGR_SESSION session, SnmpVarBindList& list) {
        request_check(session, pdu_type, list);
        vb_extract(list, request);
    });
}

void snmp_nt_t::get(snmp_request_t& request) { read(request, SNMP_PDU_GET); }

void snmp_nt_t::get_next(snmp_request_t& request) { read(request, SNMP_PDU_GETNEXT); }

void snmp_nt_t::asn_set_value(const std::string& value, AsnAny& any)
{
    library_t& l = lib();
    const std::string fail = "Could not convert " + value + " to snmp variable";
    auto octets = [&](const unsigned char* data, UINT length) {
        AsnOctetString& s = any.asnValue.string;
        BYTE* stream = static_cast<BYTE*>(s.dynamic ? l.mem_realloc(s.stream, length) : l.mem_alloc(length));
        if (!stream)
            throw qm::exception_t("Memory allocation fails, error in asn_set_value().");
        if (length)
            std::memcpy(stream, data, length);
        s.stream = stream;
        s.length = length;
        s.dynamic = TRUE;
    };
    switch (any.asnType) {
    case ASN_INTEGER: {
        int32_t number = 0;
        if (!parse_int32(value.c_str(), number))
            throw qm::exception_t(fail);
        any.asnValue.number = number;
        break;
    }
    case ASN_COUNTER32:
    case ASN_GAUGE32:
    case ASN_TIMETICKS:
    case ASN_UNSIGNED32: {
        uint32_t number = 0;
        if (!parse_uint32(value.c_str(), number))
            throw qm::exception_t(fail);
        any.asnValue.unsigned32 = number; // one cell for the four types
        break;
    }
    case ASN_COUNTER64: {
        uint64_t number = 0;
        if (!parse_uint64(value.c_str(), number))
            throw qm::exception_t(fail);
        any.asnValue.counter64.QuadPart = number;
        break;
    }
    case ASN_BITS:
    case ASN_OCTETSTRING:
    case ASN_SEQUENCE:
    case ASN_OPAQUE:
        octets(reinterpret_cast<const unsigned char*>(value.data()), static_cast<UINT>(value.size()));
        break;
    case ASN_IPADDRESS: {
        IpAddress address(value.c_str());
        if (!address.valid())
            throw qm::exception_t(fail);
        octets(address.octets(), 4);
        break;
    }
    case ASN_OBJECTIDENTIFIER: {
        Oid oid(value.c_str());
        if (!oid.valid() || oid.len() == 0)
            throw qm::exception_t(fail);
        UINT* ids = static_cast<UINT*>(l.mem_alloc(static_cast<UINT>(oid.len() * sizeof(UINT))));
        if (!ids)
            throw qm::exception_t("Memory allocation fails, error in asn_set_value().");
        for (unsigned long i = 0; i < oid.len(); ++i)
            ids[i] = static_cast<UINT>(oid[i]);
        l.mem_free(any.asnValue.object.ids);
        any.asnValue.object.ids = ids;
        any.asnValue.object.idLength = static_cast<UINT>(oid.len());
        break;
    }
    default:
        // Sending the agent's own value back would report a write that never
        // happened.
        throw qm::exception_t(fail);
    }
}

void snmp_nt_t::set(snmp_request_t& request)
{
    exchange(request, [&](LPSNMP_MGR_SESSION session, SnmpVarBindList& list) {
        request_check(session, SNMP_PDU_GET, list);
        if (list.len < 1 || !list.list)
            throw qm::exception_t("Unknown error in snmp_nt_t::vb_extract().");
        asn_set_value(request.value, list.list[0].value);
        request_check(session, SNMP_PDU_SET, list);
        if (list.len < 1 || !list.list)
            throw qm::exception_t("Unknown error in snmp_nt_t::vb_extract().");
        request.value = asn_value_text(list.list[0].value);
        request.type = list.list[0].value.asnType;
    });
}

} // namespace querant
