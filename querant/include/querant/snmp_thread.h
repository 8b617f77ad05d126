// A worker of the engine's pool: waits on the worker semaphore, takes one
// request from the engine, carries it out through its own back-end.
#pragma once

#include "querant/snmp_variable.h"

#include <qm/thread.h>

#include <memory>

namespace querant {

class snmp_manager_t;

class snmp_thread_t : public qm::proc::thread_t {
public:
    // type 1: snmp_pp_t, type 2: snmp_nt_t (unless the engine carries a
    // back-end factory). The thread is not started.
    snmp_thread_t(HANDLE semaphore, snmp_manager_t* engine, int32_t type);
    ~snmp_thread_t() override;

    int32_t type() const { return backend_type; }

protected:
    void thread_function() override;

private:
    HANDLE semaphore;
    snmp_manager_t* engine;
    int32_t backend_type;
    std::unique_ptr<snmp_base_t> backend;
    snmp_request_t request;
};

} // namespace querant
