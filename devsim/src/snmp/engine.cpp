#include "snmp/engine.h"

#include <net-snmp/library/snmp_impl.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "udp/ipv4.h"

namespace devsim::snmp {
namespace {

void init_library()
{
    static std::once_flag once;
    std::call_once(once, [] {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_session probe;
        snmp_sess_init(&probe); // the library's own set-up, without MIBs or configuration files
        snmp_disable_log();     // a malformed request is counted, not printed
    });
}

value_t value_from(const netsnmp_variable_list* v)
{
    value_t value;
    value.type = v->type;
    switch (v->type) {
    case ASN_INTEGER:
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
        value.integer = v->val.integer ? *v->val.integer : 0;
        break;
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
        if (v->val.string)
            value.octets.assign(reinterpret_cast<const char*>(v->val.string), v->val_len);
        break;
    case ASN_OBJECT_ID:
        if (v->val.objid)
            value.id.assign(v->val.objid, v->val.objid + v->val_len / sizeof(oid));
        break;
    default:
        break;
    }
    return value;
}

void put_value(netsnmp_variable_list* v, const value_t& value)
{
    switch (value.type) {
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
        snmp_set_var_typed_value(v, value.type, value.octets.data(), value.octets.size());
        break;
    case ASN_OBJECT_ID:
        snmp_set_var_typed_value(v, value.type, value.id.data(), value.id.size() * sizeof(oid));
        break;
    case ASN_INTEGER:
        snmp_set_var_typed_value(v, value.type, &value.integer, sizeof value.integer);
        break;
    default: {
        unsigned long u = static_cast<unsigned long>(value.integer) & 0xFFFFFFFFul;
        snmp_set_var_typed_value(v, value.type, &u, sizeof u);
        break;
    }
    }
}

std::string value_text(const value_t& value)
{
    switch (value.type) {
    case ASN_OCTET_STR: {
        bool printable = true;
        for (unsigned char c : value.octets)
            printable = printable && c >= 0x20 && c < 0x7F;
        if (printable)
            return "\"" + value.octets + "\"";
        std::string hex;
        for (unsigned char c : value.octets) {
            static const char digits[] = "0123456789abcdef";
            hex += digits[c >> 4];
            hex += digits[c & 0x0F];
        }
        return "0x" + hex;
    }
    case ASN_IPADDRESS: {
        std::string text;
        for (size_t i = 0; i < value.octets.size(); ++i)
            text += (i ? "." : "") + std::to_string(static_cast<unsigned char>(value.octets[i]));
        return text;
    }
    default:
        return std::to_string(value.integer);
    }
}

// Answers with the request's own bindings and an error status (v1 style).
outcome_t refuse(const uint8_t* data, size_t size, int error, long index)
{
    outcome_t out;
    std::string community;
    pdu_ptr original = decode(data, size, community);
    if (!original)
        return out;
    out.command = original->command;
    out.error = error;
    original->command = SNMP_MSG_RESPONSE;
    original->errstat = error;
    original->errindex = index;
    out.response = encode(original.get(), community);
    return out;
}

} // namespace

std::string oid_text(const oid* name, size_t length)
{
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += (i ? "." : "") + std::to_string(name[i]);
    return text;
}

pdu_ptr decode(const uint8_t* data, size_t size, std::string& community)
{
    init_library();
    std::vector<u_char> copy(data, data + size); // the parser takes a writable buffer
    size_t length = copy.size();
    u_char text[256];
    size_t text_length = sizeof text;
    long version = -1;
    u_char* body = snmp_comstr_parse(copy.data(), &length, text, &text_length, &version);
    if (!body || version != SNMP_VERSION_1)
        return nullptr;
    pdu_ptr pdu(static_cast<netsnmp_pdu*>(std::calloc(1, sizeof(netsnmp_pdu))));
    if (!pdu)
        return nullptr;
    pdu->version = SNMP_VERSION_1;
    if (snmp_pdu_parse(pdu.get(), body, &length) != SNMP_ERR_NOERROR)
        return nullptr;
    community.assign(reinterpret_cast<char*>(text), text_length);
    return pdu;
}

std::vector<uint8_t> encode(netsnmp_pdu* pdu, const std::string& community)
{
    init_library();
    pdu->version = SNMP_VERSION_1;
    std::free(pdu->community);
    pdu->community = static_cast<u_char*>(std::malloc(community.size() + 1));
    if (!pdu->community)
        return {};
    std::memcpy(pdu->community, community.data(), community.size());
    pdu->community_len = community.size();
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_1;
    size_t capacity = 2048;
    u_char* packet = static_cast<u_char*>(std::malloc(capacity));
    size_t offset = 0;
    std::vector<uint8_t> out;
    if (packet && snmp_build(&packet, &capacity, &offset, &session, pdu) == 0 && offset <= capacity)
        out.assign(packet + capacity - offset, packet + capacity); // built backwards, at the end
    std::free(packet);
    return out;
}

outcome_t answer(const mib_t& mib, device_t& device, store_t& store, const uint8_t* data, size_t size, uint32_t uptime,
                 int forced_error)
{
    outcome_t out;
    std::string community;
    pdu_ptr pdu = decode(data, size, community);
    if (!pdu)
        return out;
    int command = pdu->command;
    bool reader = community == read_community || community == write_community;
    if (command != SNMP_MSG_GET && command != SNMP_MSG_GETNEXT && command != SNMP_MSG_SET)
        return out;
    if (!reader || (command == SNMP_MSG_SET && community != write_community))
        return out;
    if (forced_error)
        return refuse(data, size, forced_error, 1);

    // First work out every binding; only a request that fully succeeds changes anything.
    struct result {
        oid_t name;
        value_t value;
    };
    std::vector<result> results;
    long index = 0;
    for (netsnmp_variable_list* v = pdu->variables; v; v = v->next_variable) {
        ++index;
        result r;
        int status = SNMP_ERR_NOERROR;
        if (command == SNMP_MSG_GET) {
            status = mib.get(device, store, v->name, v->name_length, uptime, r.value);
        } else if (command == SNMP_MSG_GETNEXT) {
            status = mib.next(device, store, v->name, v->name_length, uptime, r.name, r.value);
        } else {
            r.value = value_from(v);
            status = mib.check_set(device, v->name, v->name_length, r.value);
        }
        if (status != SNMP_ERR_NOERROR)
            return refuse(data, size, status, index);
        results.push_back(std::move(r));
    }

    out.command = command;
    size_t i = 0;
    for (netsnmp_variable_list* v = pdu->variables; v; v = v->next_variable, ++i) {
        const result& r = results[i];
        if (command == SNMP_MSG_SET) {
            mib.set(device, store, v->name, v->name_length, r.value);
            out.written.push_back(oid_text(v->name, v->name_length) + "=" + value_text(r.value));
            continue; // the answer repeats the request's bindings
        }
        if (command == SNMP_MSG_GETNEXT)
            snmp_set_var_objid(v, r.name.data(), r.name.size());
        put_value(v, r.value);
    }
    pdu->command = SNMP_MSG_RESPONSE;
    pdu->errstat = SNMP_ERR_NOERROR;
    pdu->errindex = 0;
    out.response = encode(pdu.get(), community);
    if (out.response.empty() || out.response.size() > udp::max_payload) {
        outcome_t too_big = refuse(data, size, SNMP_ERR_TOOBIG, 0);
        too_big.written = std::move(out.written);
        return too_big;
    }
    return out;
}

} // namespace devsim::snmp
