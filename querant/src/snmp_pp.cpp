#include "querant/snmp_pp.h"

#include "querant/snmp_manager.h"

#include <qm/exception.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

namespace querant {

namespace {

// Decimal text as the C library's atol reads it: blanks and one sign
// skipped, the digits up to the first other character, 0 when there are
// none. Digits past 20 make the value too big for any type.
struct decimal_t {
    bool negative = false;
    bool too_big = false;
    uint64_t value = 0;
};

decimal_t read_decimal(const char* text)
{
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    decimal_t d;
    if (*p == '+' || *p == '-')
        d.negative = *p++ == '-';
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (d.value > (UINT64_MAX - digit) / 10)
            d.too_big = true;
        else
            d.value = d.value * 10 + digit;
    }
    return d;
}

bool parse_unsigned(const char* text, uint64_t max, uint64_t& out)
{
    const decimal_t d = read_decimal(text);
    if (d.too_big || d.value > max || (d.negative && d.value != 0))
        return false;
    out = d.value;
    return true;
}

} // namespace

bool parse_int32(const char* text, int32_t& out)
{
    const decimal_t d = read_decimal(text);
    const uint64_t limit = d.negative ? uint64_t(INT32_MAX) + 1 : uint64_t(INT32_MAX);
    if (d.too_big || d.value > limit)
        return false;
    out = d.negative ? static_cast<int32_t>(-static_cast<int64_t>(d.value)) : static_cast<int32_t>(d.value);
    return true;
}

bool parse_uint32(const char* text, uint32_t& out)
{
    uint64_t v = 0;
    if (!parse_unsigned(text, UINT32_MAX, v))
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool parse_uint64(const char* text, uint64_t& out) { return parse_unsigned(text, UINT64_MAX, out); }

snmp_pp_t::snmp_pp_t(snmp_manager_t* owner) : engine(owner)
{
    int status = SNMP_CLASS_SUCCESS;
    session = std::make_unique<Snmp>(status, 0);
    if (status != SNMP_CLASS_SUCCESS) {
        session.reset();
        throw qm::exception_t(std::string("SNMP++ Session Create Fail, ") + Snmp::error_msg(status));
    }
}

snmp_pp_t::~snmp_pp_t() = default;

void snmp_pp_t::prepare(const snmp_request_t& request)
{
    GenAddress address(request.ip.c_str());
    if (!address.valid())
        throw qm::exception_t("Invalid IP address");
    vb.set_oid(Oid(request.name.c_str()));
    vb.set_null();
    if (pdu.get_vb_count() == 0)
        pdu += vb;
    else
        pdu.set_vb(vb, 0);

    const std::string user = engine->user();
    ctarget.set_address(address);
    ctarget.set_version(version1);
    ctarget.set_retry(static_cast<int>(engine->retry_count()));
    // Hundredths of a second from milliseconds / 30 (so 3000 ms gives one
    // second per attempt); a negative time-out acts as none.
    ctarget.set_timeout(static_cast<unsigned long>(std::max<int32_t>(engine->timeout(), 0) / 30));
    ctarget.set_readcommunity(OctetStr(user.c_str()));
    ctarget.set_writecommunity(OctetStr(user.c_str()));
}

void snmp_pp_t::check(int status)
{
    if (status == SNMP_CLASS_SUCCESS)
        return;
    const int code = status == SNMP_CLASS_ERR_STATUS_SET ? pdu.get_error_status() : status;
    throw qm::exception_t(std::string("SNMP Error: ") + Snmp::error_msg(code));
}

void snmp_pp_t::take_answer(snmp_request_t& request)
{
    pdu.get_vb(vb, 0);
    request.type = vb.get_syntax();
    request.value = vb.get_printable_value();
}

void snmp_pp_t::get(snmp_request_t& request)
{
    prepare(request);
    check(session->get(pdu, ctarget));
    take_answer(request);
}

void snmp_pp_t::get_next(snmp_request_t& request)
{
    prepare(request);
    check(session->get_next(pdu, ctarget));
    take_answer(request);
    request.name = vb.get_printable_oid();
}

void snmp_pp_t::set(snmp_request_t& request)
{
    prepare(request);
    check(session->get(pdu, ctarget));
    pdu.get_vb(vb, 0);

    const char* text = request.value.c_str();
    const std::string fail = "Could not convert " + request.value + " to snmp variable";
    auto set_parsed = [&](const SnmpSyntax& value) {
        if (!value.valid())
            throw qm::exception_t(fail);
        vb.set_value(value);
    };
    switch (vb.get_syntax()) {
    case sNMP_SYNTAX_INT: {
        int32_t number = 0;
        if (!parse_int32(text, number))
            throw qm::exception_t(fail);
        vb.set_value(SnmpInt32(number));
        break;
    }
    case sNMP_SYNTAX_OCTETS:
        set_parsed(OctetStr(text));
        break;
    case sNMP_SYNTAX_OID:
        set_parsed(Oid(text));
        break;
    case sNMP_SYNTAX_IPADDR:
        set_parsed(IpAddress(text));
        break;
    case sNMP_SYNTAX_CNTR32:
    case sNMP_SYNTAX_GAUGE32:
    case sNMP_SYNTAX_TIMETICKS: {
        uint32_t number = 0;
        if (!parse_uint32(text, number))
            throw qm::exception_t(fail);
        const int syntax = vb.get_syntax();
        if (syntax == sNMP_SYNTAX_CNTR32)
            vb.set_value(Counter32(number));
        else if (syntax == sNMP_SYNTAX_GAUGE32)
            vb.set_value(Gauge32(number));
        else
            vb.set_value(TimeTicks(number));
        break;
    }
    case sNMP_SYNTAX_CNTR64: {
        uint64_t number = 0;
        if (!parse_uint64(text, number))
            throw qm::exception_t(fail);
        vb.set_value(
            Counter64(static_cast<unsigned long>(number >> 32), static_cast<unsigned long>(number & 0xFFFFFFFFu)));
        break;
    }
    default:
        throw qm::exception_t(fail);
    }
    pdu.set_vb(vb, 0);
    check(session->set(pdu, ctarget));
    take_answer(request);
}

} // namespace querant
