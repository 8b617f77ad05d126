#include "querant/snmp_thread.h"

#include "querant/snmp_manager.h"
#include "querant/snmp_nt.h"
#include "querant/snmp_pp.h"

#include <com/activation.h>

#include <iostream>
#include <new>

namespace querant {

snmp_thread_t::snmp_thread_t(HANDLE worker_semaphore, snmp_manager_t* owner, int32_t type)
    : semaphore(worker_semaphore), engine(owner), backend_type(type)
{
    try {
        if (engine && engine->backend_factory()) {
            backend = engine->backend_factory()(type, engine);
        } else if (type == 1) {
            backend = std::make_unique<snmp_pp_t>(engine);
        } else if (type == 2) {
            backend = std::make_unique<snmp_nt_t>(engine);
        } else {
            throw qm::exception_t("Undefined type , error in constructor of snmp_thread_t");
        }
    } catch (const std::bad_alloc&) {
        throw qm::exception_t("Out of memory, error in constructor of snmp_thread_t");
    }
    if (!backend)
        throw qm::exception_t("Undefined type , error in constructor of snmp_thread_t");
}

snmp_thread_t::~snmp_thread_t()
{
    try {
        stop();
    } catch (const qm::exception_t& e) {
        std::cout << e.what() << std::endl;
    } catch (...) {
        std::cout << "Unknown error while stopping the snmp_thread thread in destructuror" << std::endl;
    }
    backend.reset();
}

void snmp_thread_t::thread_function()
{
    CoInitializeEx(nullptr, 0);
    for (;;) {
        request.clear();
        try {
            engine->idle_enter();
            sleep(0);
            wait_for_objects(semaphore, INFINITE);
            engine->idle_leave(true);
        } catch (const qm::exception_t&) {
            engine->idle_leave(false);
            return;
        }

        int32_t operation = 0;
        snmp_task_t* task = nullptr;
        snmp_agent_t* agent = nullptr;
        if (!engine->take_task(operation, request, task, agent))
            continue;

        std::string result_name;
        bool error = false;
        std::string value;
        int32_t type = 0;
        try {
            switch (operation) {
            case 0:
                backend->get(request);
                break;
            case 1:
                backend->get_next(request);
                result_name = request.name;
                break;
            default:
                backend->set(request);
                break;
            }
            value = request.value;
            type = request.type;
        } catch (const qm::exception_t& e) {
            error = true;
            value = e.what();
        } catch (...) {
            error = true;
            value = "Catch unknown error in snmp_thread_t::thread_function.";
        }
        engine->task_done(error, value, type, task, agent, result_name);
    }
}

} // namespace querant
