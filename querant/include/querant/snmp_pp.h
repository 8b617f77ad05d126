// Back-end of type 1: SNMPv1 through the snmp++-shaped classes, one session
// kept for the worker's life.
#pragma once

#include "querant/snmp_variable.h"

#include <snmp_pp/snmp_pp.h>

#include <cstdint>
#include <memory>

namespace querant {

class snmp_manager_t;

class snmp_pp_t : public snmp_base_t {
public:
    explicit snmp_pp_t(snmp_manager_t* engine);
    ~snmp_pp_t() override;

    void get(snmp_request_t& request) override;
    void get_next(snmp_request_t& request) override;
    void set(snmp_request_t& request) override;

    const CTarget& target() const { return ctarget; }

private:
    void prepare(const snmp_request_t& request);
    void check(int status);
    void take_answer(snmp_request_t& request);

    snmp_manager_t* engine;
    Pdu pdu;
    Vb vb;
    CTarget ctarget;
    std::unique_ptr<Snmp> session;
};

// Decimal text of a value to set, read as atol reads it (blanks and a sign
// skipped, digits up to the first other character, 0 when there are none).
// False when the value does not fit the type: a set never sends a value cut
// or clamped to the type's range.
bool parse_int32(const char* text, int32_t& out);
bool parse_uint32(const char* text, uint32_t& out);
bool parse_uint64(const char* text, uint64_t& out);

} // namespace querant
