// A scripted back-end for engine tests: answers from a table, records every
// request and how many requests per device were in flight at once.
#pragma once

#include "querant/snmp_manager.h"

#include <qm/exception.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace querant::test {

struct script_t {
    struct call_t {
        std::string ip;
        std::string name;
        int operation;
        std::chrono::steady_clock::time_point at;
    };

    std::mutex lock;
    std::condition_variable changed;
    std::map<std::string, std::string> values; // "ip name" -> value; absent: "no such name" failure
    std::map<std::string, std::string> next;   // get-next: "ip name" -> found name
    std::vector<call_t> calls;
    std::map<std::string, int> in_flight;
    int max_in_flight_per_device = 0;
    int running = 0;
    int delay_ms = 0;
    bool hold = false; // requests wait while set

    static std::string key(const std::string& ip, const std::string& name) { return ip + " " + name; }

    void set_value(const std::string& ip, const std::string& name, const std::string& value)
    {
        std::lock_guard g(lock);
        values[key(ip, name)] = value;
    }
    void release_hold()
    {
        std::lock_guard g(lock);
        hold = false;
        changed.notify_all();
    }
    size_t call_count()
    {
        std::lock_guard g(lock);
        return calls.size();
    }
    // Waits until at least n requests have started.
    bool wait_calls(size_t n, int ms = 30000)
    {
        std::unique_lock g(lock);
        return changed.wait_for(g, std::chrono::milliseconds(ms), [&] { return calls.size() >= n; });
    }
    bool wait_running(int n, int ms = 30000)
    {
        std::unique_lock g(lock);
        return changed.wait_for(g, std::chrono::milliseconds(ms), [&] { return running >= n; });
    }
};

class fake_backend_t : public snmp_base_t {
public:
    explicit fake_backend_t(script_t& s) : script(s) {}

    void get(snmp_request_t& r) override { run(r, 0); }
    void get_next(snmp_request_t& r) override { run(r, 1); }
    void set(snmp_request_t& r) override { run(r, 2); }

private:
    void run(snmp_request_t& r, int op)
    {
        std::unique_lock g(script.lock);
        script.calls.push_back({r.ip, r.name, op, std::chrono::steady_clock::now()});
        int& n = ++script.in_flight[r.ip];
        script.max_in_flight_per_device = std::max(script.max_in_flight_per_device, n);
        ++script.running;
        script.changed.notify_all();
        script.changed.wait(g, [&] { return !script.hold; });
        const int delay = script.delay_ms;
        g.unlock();
        if (delay)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        g.lock();
        --script.in_flight[r.ip];
        --script.running;
        script.changed.notify_all();
        std::string k = script_t::key(r.ip, r.name);
        if (op == 1) {
            auto n2 = script.next.find(k);
            if (n2 == script.next.end())
                throw qm::exception_t("end of view");
            r.name = n2->second;
            k = script_t::key(r.ip, r.name);
        }
        auto v = script.values.find(k);
        if (v == script.values.end())
            throw qm::exception_t("no such name");
        if (op == 2)
            v->second = r.value;
        r.value = v->second;
        r.type = 4;
    }

    script_t& script;
};

inline snmp_manager_t::backend_factory_t fake_factory(script_t& script)
{
    return [&script](int32_t, snmp_manager_t*) { return std::make_unique<fake_backend_t>(script); };
}

} // namespace querant::test
