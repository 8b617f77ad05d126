#include "querant/snmp_manager.h"

#include <com/activation.h>
#include <snmp_pp/address.h>

#include <algorithm>
#include <iostream>
#include <new>

namespace querant {

namespace {

class lock_t {
public:
    explicit lock_t(CRITICAL_SECTION& cs) : section(cs) { EnterCriticalSection(&section); }
    ~lock_t() { LeaveCriticalSection(&section); }
    lock_t(const lock_t&) = delete;
    lock_t& operator=(const lock_t&) = delete;

private:
    CRITICAL_SECTION& section;
};

HANDLE checked(HANDLE handle)
{
    if (!handle)
        throw qm::wapi::exception_t();
    return handle;
}

void check_ip(const std::string& ip)
{
    if (!GenAddress(ip.c_str()).valid())
        throw qm::exception_t("Invalid IP address");
}

// Time a synchronous request may take once a worker has it: every
// attempt's time-out, plus room for the session and the hand-over.
DWORD request_budget(int32_t timeout, int32_t retries)
{
    const long long per_attempt = std::max(timeout, 0);
    const long long attempts = std::max(retries, 0) + 1LL;
    return static_cast<DWORD>(std::min<long long>(per_attempt * attempts + 2000, 0x7fffffff));
}

bool fits_32(long value) { return value >= INT32_MIN && value <= INT32_MAX; }

constexpr DWORD sync_slice_ms = 50;

} // namespace

snmp_manager_t::snmp_manager_t() : snmp_manager_t(0, nullptr) {}

snmp_manager_t::snmp_manager_t(DWORD platform, backend_factory_t backend_factory) : factory(std::move(backend_factory))
{
    InitializeCriticalSection(&state_lock);
    InitializeCriticalSection(&value_lock);
    InitializeCriticalSection(&idle_lock);
    try {
        non_empty_event.reset(checked(CreateEventA(nullptr, TRUE, FALSE, nullptr)));
        idle_event.reset(checked(CreateEventA(nullptr, TRUE, FALSE, nullptr)));
        worker_semaphore.reset(checked(CreateSemaphoreA(nullptr, 0, max_threads, nullptr)));
        ResetEvent(non_empty_event.get());
        ResetEvent(idle_event.get());

        if (platform == 0) {
            OSVERSIONINFOA info{};
            info.dwOSVersionInfoSize = sizeof info;
            if (!GetVersionExA(&info))
                throw qm::exception_t("Get operating system info error.");
            platform = info.dwPlatformId;
        }
        platform_id = platform;

        try {
            if (platform_id == VER_PLATFORM_WIN32_NT) {
                for (int i = 0; i < 5; ++i)
                    threads[i] = std::make_unique<snmp_thread_t>(worker_semaphore.get(), this, 2);
            } else {
                num_threads_ = 1;
                threads[0] = std::make_unique<snmp_thread_t>(worker_semaphore.get(), this, 1);
            }
        } catch (...) {
            throw qm::exception_t("snmp_manager_t constructor error!");
        }
    } catch (...) {
        for (auto& t : threads)
            t.reset();
        DeleteCriticalSection(&idle_lock);
        DeleteCriticalSection(&value_lock);
        DeleteCriticalSection(&state_lock);
        throw;
    }
}

snmp_manager_t::~snmp_manager_t()
{
    for (auto& t : threads)
        t.reset(); // the worker stops itself first
    try {
        qm::proc::thread_t::stop();
    } catch (const qm::exception_t& e) {
        std::cout << e.what() << std::endl;
    } catch (...) {
        std::cout << "Unknown error while stopping the snmp_manager thread in destructuror" << std::endl;
    }
    agents.clear();
    DeleteCriticalSection(&idle_lock);
    DeleteCriticalSection(&value_lock);
    DeleteCriticalSection(&state_lock);
}

// ---- configuration -----------------------------------------------------------

int32_t snmp_manager_t::poll_period() const
{
    lock_t lock(value_lock);
    return poll_period_;
}

void snmp_manager_t::poll_period(long value)
{
    if (value < 100 || !fits_32(value))
        throw qm::exception_t("Out of range of the poll_period");
    lock_t lock(value_lock);
    poll_period_ = static_cast<int32_t>(value);
}

int32_t snmp_manager_t::timeout() const
{
    lock_t lock(value_lock);
    return timeout_;
}

void snmp_manager_t::timeout(long value)
{
    if (!fits_32(value))
        throw qm::exception_t(text::timeout_range);
    lock_t lock(value_lock);
    timeout_ = static_cast<int32_t>(value);
}

int32_t snmp_manager_t::retry_count() const
{
    lock_t lock(value_lock);
    return retry_count_;
}

void snmp_manager_t::retry_count(long value)
{
    if (value < 0 || !fits_32(value))
        throw qm::exception_t("Out of range of the retry count");
    lock_t lock(value_lock);
    retry_count_ = static_cast<int32_t>(value);
}

std::string snmp_manager_t::user() const
{
    lock_t lock(value_lock);
    return user_;
}

void snmp_manager_t::user(const std::string& value)
{
    lock_t lock(value_lock);
    user_ = value;
}

std::string snmp_manager_t::password() const
{
    lock_t lock(value_lock);
    return password_;
}

void snmp_manager_t::password(const std::string& value)
{
    lock_t lock(value_lock);
    password_ = value;
}

int32_t snmp_manager_t::num_threads() const
{
    lock_t lock(state_lock);
    return num_threads_;
}

void snmp_manager_t::num_threads_set(long n)
{
    if (platform_id != VER_PLATFORM_WIN32_NT)
        return;
    if (n < 1 || n > max_threads)
        throw qm::exception_t("Out of the range of the thread number");
    const int32_t wanted = static_cast<int32_t>(n);
    int32_t current;
    {
        lock_t lock(state_lock);
        current = num_threads_;
    }
    if (n > current) {
        for (long i = current; i < n; ++i) {
            try {
                snmp_thread_t* worker;
                {
                    lock_t lock(state_lock);
                    if (!threads[i]) {
                        try {
                            threads[i] = std::make_unique<snmp_thread_t>(worker_semaphore.get(), this, 2);
                        } catch (const std::bad_alloc&) {
                            throw qm::exception_t("Out of memory space, snmp_manager_t::num_threads_set()");
                        }
                    }
                    worker = threads[i].get();
                }
                worker->start();
            } catch (...) {
                // The workers started so far run: count them, so that a later
                // lower count stops them again.
                lock_t lock(state_lock);
                num_threads_ = static_cast<int32_t>(i);
                throw;
            }
        }
    } else if (n < current) {
        // Never under the state lock: a busy worker needs it to report.
        for (long i = n; i < current; ++i) {
            snmp_thread_t* worker;
            {
                lock_t lock(state_lock);
                worker = threads[i].get();
            }
            if (!worker)
                continue;
            try {
                worker->stop();
            } catch (const qm::exception_t& e) {
                throw qm::exception_t(e.message);
            }
        }
    }
    lock_t lock(state_lock);
    num_threads_ = wanted;
}

// ---- threads -----------------------------------------------------------------

void snmp_manager_t::start()
{
    qm::proc::thread_t::start();
    for (long i = 0;; ++i) {
        snmp_thread_t* worker;
        {
            lock_t lock(state_lock);
            if (i >= num_threads_)
                break;
            worker = threads[i].get();
        }
        if (worker)
            worker->start();
    }
}

void snmp_manager_t::stop()
{
    try {
        qm::proc::thread_t::stop();
    } catch (const qm::exception_t&) {}
}

bool snmp_manager_t::any_worker_running()
{
    lock_t lock(state_lock);
    for (long i = 0; i < num_threads_; ++i)
        if (threads[i] && threads[i]->running)
            return true;
    return false;
}

void snmp_manager_t::release_worker()
{
    {
        lock_t lock(idle_lock);
        ++pending_releases;
        update_idle_event();
    }
    if (ReleaseSemaphore(worker_semaphore.get(), 1, nullptr))
        return;
    const DWORD error = GetLastError();
    {
        lock_t lock(idle_lock);
        --pending_releases;
        update_idle_event();
    }
    // A release at the semaphore's maximum only means that every worker
    // already has a wake-up pending; it must not end the caller.
    if (error != ERROR_TOO_MANY_POSTS) {
        SetLastError(error);
        throw qm::wapi::exception_t();
    }
}

void snmp_manager_t::update_idle_event()
{
    if (idle_count_ > pending_releases)
        SetEvent(idle_event.get());
    else
        ResetEvent(idle_event.get());
}

void snmp_manager_t::thread_function()
{
    CoInitializeEx(nullptr, 0);
    try {
        for (;;) {
            sleep(0);
            wait_for_objects(non_empty_event.get(), INFINITE);
            long count = 0;
            {
                lock_t lock(state_lock);
                for (auto it = agents.begin(); it != agents.end();) {
                    auto next = std::next(it);
                    const int32_t n = it->second->counting_pass();
                    if (n == 0) {
                        agents.erase(it);
                        if (agents.empty())
                            ResetEvent(non_empty_event.get());
                    }
                    count += n;
                    it = next;
                }
            }
            if (count == 0)
                continue;
            qm::wapi::handle_t pacing(checked(CreateEventA(nullptr, FALSE, FALSE, nullptr)));
            const DWORD interval = static_cast<DWORD>(poll_period() / count);
            for (long i = 0; i < count; ++i) {
                wait_for_objects(pacing.get(), interval);
                wait_for_objects(idle_event.get(), INFINITE);
                release_worker();
            }
        }
    } catch (const qm::exception_t& e) {
        std::cout << e.what() << std::endl;
    }
}

void snmp_manager_t::idle_enter()
{
    lock_t lock(idle_lock);
    ++idle_count_;
    update_idle_event();
}

void snmp_manager_t::idle_leave(bool took_release)
{
    lock_t lock(idle_lock);
    --idle_count_;
    if (took_release && pending_releases > 0)
        --pending_releases;
    update_idle_event();
}

long snmp_manager_t::idle_count() const
{
    lock_t lock(idle_lock);
    return idle_count_;
}

// ---- worker hand-over ----------------------------------------------------------

bool snmp_manager_t::take_task(int32_t& operation, snmp_request_t& request, snmp_task_t*& task, snmp_agent_t*& agent)
{
    using map_t = cursor_map_t<std::string, snmp_agent_t>;
    lock_t lock(state_lock);
    map_t::iterator it;
    const auto answer = agents.pick(it);
    if (answer == map_t::pick_none)
        return false;
    if (answer == map_t::pick_just_added || it->second->in_flight == 0) {
        request.ip = it->first;
        if (!it->second->pick(operation, request, task))
            return false;
        agent = it->second.get();
        return true;
    }
    // The cursor's agent is busy: the first free agent after it that hands
    // out a task wins.
    const auto busy = it;
    for (auto w = agents.cursor(); w != busy;) {
        if (w->second->in_flight == 0) {
            request.ip = w->first;
            if (w->second->pick(operation, request, task)) {
                agent = w->second.get();
                agents.set_cursor(w);
                agents.advance();
                return true;
            }
        }
        if (++w == agents.end())
            w = agents.begin();
    }
    agents.set_cursor(busy);
    return false;
}

void snmp_manager_t::task_done(bool error, const std::string& value, int32_t type, snmp_task_t* task,
                               snmp_agent_t* agent, const std::string& result_name)
{
    lock_t lock(state_lock);
    task->error = error ? 1 : 0;
    if (!result_name.empty())
        task->result_name = result_name;
    if (value != task->value) {
        task->changed = 1;
        task->value = value;
    }
    --agent->in_flight;
    task->in_flight = 0;
    task->done = 1;
    if (!error)
        task->type = type;
    if (!task->completion.valid())
        return;
    if (task->removal && !task->watched) {
        // Its waiter gave up: nobody collects it, so it goes now.
        for (auto it = agent->tasks.begin(); it != agent->tasks.end(); ++it) {
            if (it->second.get() == task) {
                agent->tasks.erase(it);
                break;
            }
        }
        erase_agent_if_empty(agent);
        return;
    }
    SetEvent(task->completion.get());
}

// ---- watch list ----------------------------------------------------------------

void snmp_manager_t::erase_agent_if_empty(snmp_agent_t* agent)
{
    if (!agent->empty())
        return;
    auto it = agents.find(agent->ip);
    if (it == agents.end() || it->second.get() != agent)
        return;
    agents.erase(it);
    if (agents.empty())
        ResetEvent(non_empty_event.get());
}

snmp_agent_t* snmp_manager_t::find_or_create_agent(const std::string& ip, const char* out_of_memory)
{
    auto it = agents.find(ip);
    if (it != agents.end())
        return it->second.get();
    std::unique_ptr<snmp_agent_t> agent(new (std::nothrow) snmp_agent_t(ip));
    if (!agent)
        throw qm::exception_t(out_of_memory);
    snmp_agent_t* raw = agent.get();
    agents.insert(ip, std::move(agent));
    return raw;
}

void snmp_manager_t::watch_list_add(const std::string& ip, const std::string& name)
{
    check_ip(ip);
    lock_t lock(state_lock);
    const bool existed = agents.find(ip) != agents.end();
    snmp_agent_t* agent = find_or_create_agent(ip, "Out of memory space, snmp_manager_t::watch_list_add()");
    try {
        agent->add_watched(name);
    } catch (...) {
        if (!existed)
            erase_agent_if_empty(agent);
        throw;
    }
    if (agents.size() == 1) {
        agents.set_cursor(agents.begin());
        SetEvent(non_empty_event.get());
    }
}

void snmp_manager_t::end_watch(const std::string& ip, const std::string& name)
{
    lock_t lock(state_lock);
    auto it = agents.find(ip);
    if (it == agents.end())
        return;
    snmp_agent_t* agent = it->second.get();
    agent->remove_one(task_key_t{name, 0});
    erase_agent_if_empty(agent);
}

void snmp_manager_t::end_device_watch(const std::string& ip)
{
    lock_t lock(state_lock);
    auto it = agents.find(ip);
    if (it == agents.end())
        return;
    snmp_agent_t* agent = it->second.get();
    agent->remove_all();
    erase_agent_if_empty(agent);
}

void snmp_manager_t::clear_watch()
{
    lock_t lock(state_lock);
    for (auto it = agents.begin(); it != agents.end();) {
        snmp_agent_t* agent = (it++)->second.get();
        agent->remove_all();
        erase_agent_if_empty(agent);
    }
}

void snmp_manager_t::get_all(variable_list_t& out)
{
    lock_t lock(state_lock);
    for (auto& [ip, agent] : agents)
        agent->get_all(ip, out);
}

void snmp_manager_t::get_changes(variable_list_t& out)
{
    lock_t lock(state_lock);
    for (auto& [ip, agent] : agents)
        agent->get_changes(ip, out);
}

void snmp_manager_t::get_device_changes(const std::string& ip, variable_list_t& out)
{
    lock_t lock(state_lock);
    auto it = agents.find(ip);
    if (it != agents.end())
        it->second->get_changes(ip, out);
}

long snmp_manager_t::watch_size()
{
    lock_t lock(state_lock);
    long n = 0;
    for (auto& [ip, agent] : agents)
        n += static_cast<long>(agent->tasks.size());
    return n;
}

// ---- synchronous requests --------------------------------------------------------

std::unique_ptr<snmp_variable_t> snmp_manager_t::get(const std::string& ip, const std::string& name)
{
    return variable_op(0, ip, name, " ");
}

std::unique_ptr<snmp_variable_t> snmp_manager_t::get_next(const std::string& ip, const std::string& name)
{
    return variable_op(1, ip, name, " ");
}

std::unique_ptr<snmp_variable_t> snmp_manager_t::set(const std::string& ip, const std::string& name,
                                                     const std::string& value)
{
    return variable_op(2, ip, name, value);
}

void snmp_manager_t::remove_sync_task(snmp_agent_t* agent, const task_key_t& key)
{
    auto it = agent->tasks.find(key);
    if (it != agent->tasks.end()) {
        if (it->second->in_flight) {
            it->second->removal = 1; // task_done erases it
            return;
        }
        agent->tasks.erase(it);
    }
    erase_agent_if_empty(agent);
}

std::unique_ptr<snmp_variable_t> snmp_manager_t::variable_op(int32_t operation, const std::string& ip,
                                                             const std::string& name, const std::string& value)
{
    check_ip(ip);
    // Without a running worker nobody would ever serve the request.
    if (!any_worker_running())
        throw qm::exception_t(text::no_worker);

    const DWORD budget = request_budget(timeout(), retry_count());
    snmp_agent_t* agent;
    task_key_t key;
    HANDLE completion;
    {
        lock_t lock(state_lock);
        const bool was_empty = agents.empty();
        agent = find_or_create_agent(ip, "Out of memory space, snmp_manager_t::watch_list_add()");
        key = task_key_t{"oid" + name, ++sync_serial};
        try {
            completion = agent->add_task(operation, name, value, key.serial);
        } catch (...) {
            erase_agent_if_empty(agent);
            throw;
        }
        auto entry = agents.find(ip);
        agents.set_just_added(entry);
        if (agents.cursor_at_end())
            agents.set_cursor(entry);
        if (was_empty)
            SetEvent(non_empty_event.get());
    }

    bool served = false;
    try {
        // A worker must be idle for the release; none may be for a while
        // when all are busy with slow devices.
        while (!wait_for_objects(idle_event.get(), sync_slice_ms))
            if (!any_worker_running())
                throw qm::exception_t(text::no_worker);
        release_worker();
        // Until a worker takes the request it has no deadline: the release
        // may have found the device busy or served another device, and the
        // request is pointed at again. From the take on it has `budget` ms.
        ULONGLONG deadline = 0;
        for (;;) {
            const DWORD r = WaitForSingleObject(completion, sync_slice_ms);
            if (r == WAIT_OBJECT_0) {
                served = true;
                break;
            }
            if (r == WAIT_FAILED)
                throw qm::wapi::exception_t();
            bool again = false;
            {
                lock_t lock(state_lock);
                auto it = agent->tasks.find(key);
                if (it == agent->tasks.end())
                    break;
                // task_done signals under this lock: a request finished since
                // the wait above is seen here, and never sent again.
                if (WaitForSingleObject(completion, 0) == WAIT_OBJECT_0) {
                    served = true;
                    break;
                }
                snmp_task_t* task = it->second.get();
                if (task->taken_at) {
                    deadline = task->taken_at + budget;
                } else if (agent->in_flight == 0) {
                    agents.set_just_added(agents.find(ip));
                    if (agent->tasks.just_added() == agent->tasks.end())
                        agent->tasks.set_just_added(it);
                    again = true;
                }
            }
            if (deadline && GetTickCount64() >= deadline)
                break;
            if (!deadline && !any_worker_running())
                throw qm::exception_t(text::no_worker);
            if (again && idle_count() > 0)
                release_worker();
        }
    } catch (...) {
        lock_t lock(state_lock);
        remove_sync_task(agent, key);
        throw;
    }

    lock_t lock(state_lock);
    auto it = agent->tasks.find(key);
    std::unique_ptr<snmp_variable_t> result(new (std::nothrow) snmp_variable_t(ip, name));
    if (!result) {
        remove_sync_task(agent, key);
        throw qm::exception_t("Out of memory, error in snmp_manager_t::variable_op()");
    }
    if (it != agent->tasks.end() && (served || (it->second->done && !it->second->in_flight))) {
        result->copy(*it->second);
    } else {
        result->value = text::sync_timeout;
        result->valid = false;
    }
    remove_sync_task(agent, key);
    return result;
}

} // namespace querant
