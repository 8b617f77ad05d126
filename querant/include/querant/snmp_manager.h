// The poll engine: the watch list of every device, the poll thread that
// hands out one read per watched variable in every poll period, the worker
// pool, and synchronous get, get-next and set.
#pragma once

#include "querant/snmp_agent.h"
#include "querant/snmp_thread.h"

#include <qm/handle.h>
#include <qm/thread.h>

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace querant {

inline constexpr int max_threads = 30;

class snmp_manager_t : public qm::proc::thread_t {
public:
    // Makes the back-end of a worker; used instead of the built-in types when set.
    using backend_factory_t = std::function<std::unique_ptr<snmp_base_t>(int32_t type, snmp_manager_t* engine)>;

    snmp_manager_t();
    // platform 0 asks GetVersionExA; a factory replaces the built-in back-ends.
    snmp_manager_t(DWORD platform, backend_factory_t factory);
    ~snmp_manager_t() override;

    void start();
    void stop();

    // The values are 32-bit; a wider one that does not fit is refused with
    // the value's range text instead of being cut.
    int32_t poll_period() const;
    void poll_period(long value);
    int32_t timeout() const;
    void timeout(long value);
    int32_t retry_count() const;
    void retry_count(long value);
    int32_t num_threads() const;
    void num_threads_set(long value);
    std::string user() const;
    void user(const std::string& value);
    std::string password() const;
    void password(const std::string& value);

    void watch_list_add(const std::string& ip, const std::string& name);
    void end_watch(const std::string& ip, const std::string& name);
    void end_device_watch(const std::string& ip);
    void clear_watch();
    void get_all(variable_list_t& out);
    void get_changes(variable_list_t& out);
    void get_device_changes(const std::string& ip, variable_list_t& out);
    long watch_size();

    std::unique_ptr<snmp_variable_t> get(const std::string& ip, const std::string& name);
    std::unique_ptr<snmp_variable_t> get_next(const std::string& ip, const std::string& name);
    std::unique_ptr<snmp_variable_t> set(const std::string& ip, const std::string& name, const std::string& value);

    // Worker side.
    bool take_task(int32_t& operation, snmp_request_t& request, snmp_task_t*& task, snmp_agent_t*& agent);
    void task_done(bool error, const std::string& value, int32_t type, snmp_task_t* task, snmp_agent_t* agent,
                   const std::string& result_name);
    // A worker waits for work (enter) and stops waiting (leave), having taken
    // a release of the semaphore or not (a stop).
    void idle_enter();
    void idle_leave(bool took_release = true);

    DWORD platform() const { return platform_id; }
    const backend_factory_t& backend_factory() const { return factory; }
    // Workers waiting for work now (for tests and the synchronous path).
    long idle_count() const;

protected:
    void thread_function() override;

private:
    std::unique_ptr<snmp_variable_t> variable_op(int32_t operation, const std::string& ip, const std::string& name,
                                                 const std::string& value);
    void release_worker();
    // Idle lock held: the idle event shows whether a waiting worker has no release yet.
    void update_idle_event();
    bool any_worker_running();
    // State lock held: erases the agent when it has no tasks left.
    void erase_agent_if_empty(snmp_agent_t* agent);
    snmp_agent_t* find_or_create_agent(const std::string& ip, const char* out_of_memory);
    void remove_sync_task(snmp_agent_t* agent, const task_key_t& key);

    std::array<std::unique_ptr<snmp_thread_t>, max_threads> threads;
    int32_t poll_period_ = 5000;
    int32_t timeout_ = 3000;
    int32_t retry_count_ = 3;
    int32_t num_threads_ = 5;
    std::string user_ = "quenmil";
    std::string password_;
    qm::wapi::handle_t non_empty_event;
    cursor_map_t<std::string, snmp_agent_t> agents;
    long idle_count_ = 0;
    // Releases of the worker semaphore not yet taken by a worker. The idle
    // event is set while more workers wait than releases are pending, so a
    // release is made only for a worker that is waiting and has none yet.
    long pending_releases = 0;
    qm::wapi::handle_t idle_event;
    qm::wapi::handle_t worker_semaphore;
    mutable CRITICAL_SECTION state_lock;
    mutable CRITICAL_SECTION value_lock;
    mutable CRITICAL_SECTION idle_lock;
    DWORD platform_id = 0;
    backend_factory_t factory;
    uint64_t sync_serial = 0;
};

// Texts of the engine.
namespace text {
inline constexpr const char* no_worker = "No worker thread is running, error in snmp_manager_t::variable_op()";
inline constexpr const char* sync_timeout = "Request timeout, error in snmp_manager_t::variable_op()";
inline constexpr const char* timeout_range = "Out of range of the timeout";
} // namespace text

} // namespace querant
