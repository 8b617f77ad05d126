#include "flashkit/snmp_session.h"

#include <qm/exception.h>

#include <iostream>
#include <vector>

namespace {

const char* const read_community = "tagrok";
const char* const write_community = "quenmil";

} // namespace

snmp_session_t::snmp_session_t(const std::string& ip, long timeout_ms, int retries)
{
    Snmp::socket_startup();
    int status = SNMP_CLASS_SUCCESS;
    session = std::make_unique<Snmp>(status);
    if (status != SNMP_CLASS_SUCCESS) {
        session.reset();
        throw qm::exception_t(Snmp::error_msg(status));
    }
    GenAddress address(ip.c_str());
    if (!address.valid())
        throw qm::exception_t("Invalid IP address");
    set_address(address);
    // snmp++ counts hundredths of a second.
    set_timeout(static_cast<unsigned long>(timeout_ms < 0 ? 0 : timeout_ms / 10));
    set_retry(retries);
    set_version(version1);
    set_readcommunity(read_community);
    set_writecommunity(write_community);
}

bool snmp_session_t::request(Pdu& pdu, bool next)
{
    const int status = next ? session->get_next(pdu, *this) : session->get(pdu, *this);
    if (status != SNMP_CLASS_SUCCESS) {
        std::cout << Snmp::error_msg(status) << std::endl;
        return false;
    }
    return true;
}

bool snmp_session_t::get_int(const std::string& oid, int& value)
{
    Pdu pdu;
    pdu += Vb(Oid(oid.c_str()));
    if (!request(pdu, false))
        return false;
    Vb vb;
    return pdu.get_vb(vb, 0) && vb.get_value(value) == SNMP_CLASS_SUCCESS;
}

bool snmp_session_t::get_ints(std::map<std::string, int>& values)
{
    std::vector<std::string> batch;
    auto send = [&] {
        Pdu pdu;
        for (const std::string& oid : batch)
            pdu += Vb(Oid(oid.c_str()));
        if (!request(pdu, false))
            return false;
        // Every key asked for must come back, each with an integer.
        if (pdu.get_vb_count() != static_cast<int>(batch.size()))
            return false;
        for (int i = 0; i < pdu.get_vb_count(); ++i) {
            Vb vb;
            pdu.get_vb(vb, i);
            auto key = values.find(vb.get_printable_oid());
            int value = 0;
            if (key == values.end() || vb.get_value(value) != SNMP_CLASS_SUCCESS)
                return false;
            key->second = value;
        }
        batch.clear();
        return true;
    };
    for (const auto& [oid, value] : values) {
        batch.push_back(oid);
        if (batch.size() == batch_size && !send())
            return false;
    }
    return batch.empty() || send();
}

bool snmp_session_t::get_next(const std::string& oid, int& value, std::string& next_oid)
{
    Pdu pdu;
    pdu += Vb(Oid(oid.c_str()));
    if (!request(pdu, true))
        return false;
    Vb vb;
    if (!pdu.get_vb(vb, 0))
        return false;
    next_oid = vb.get_printable_oid();
    return vb.get_value(value) == SNMP_CLASS_SUCCESS;
}
