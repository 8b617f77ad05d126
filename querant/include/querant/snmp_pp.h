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

// Decimal text as the C library's atol reads it, kept to 32 bits (out of
// range values stop at the limits); 0 when there are no digits.
long atol32(const char* text);
// Decimal text as a 32-bit strtoul reads it: a negative value wrapped, a
// value past the range stopped at its maximum.
uint32_t strtoul32(const char* text);

} // namespace querant
