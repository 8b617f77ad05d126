#include "querant/snmp_agent.h"

#include <algorithm>

#include <qm/exception.h>

#include <new>

namespace querant {

void snmp_variable_t::copy(const snmp_task_t& task)
{
    if (!task.result_name.empty())
        name = task.result_name;
    value = task.value;
    valid = task.error == 0;
    type = task.type;
}

HANDLE snmp_agent_t::add_task(int32_t operation, const std::string& name, const std::string& value, uint64_t serial)
{
    std::unique_ptr<snmp_task_t> task(new (std::nothrow) snmp_task_t);
    if (!task)
        throw qm::exception_t("Out of memory, error in snmp_agent_t::add_task().");
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!event)
        throw qm::exception_t("Out of memory, error in snmp_task_t::event_create()");
    task->completion.reset(event);
    task->operation = operation;
    task->value = value;
    task->watched = 0;
    auto it = tasks.insert(task_key_t{"oid" + name, serial}, std::move(task));
    tasks.set_just_added(it);
    if (tasks.cursor_at_end())
        tasks.set_cursor(it);
    return event;
}

void snmp_agent_t::add_watched(const std::string& name)
{
    auto it = tasks.find(task_key_t{name, 0});
    if (it == tasks.end()) {
        std::unique_ptr<snmp_task_t> task(new (std::nothrow) snmp_task_t);
        if (!task)
            throw qm::exception_t("Out of memory, error in snmp_agent_t::add_task().");
        it = tasks.insert(task_key_t{name, 0}, std::move(task));
        tasks.set_cursor(it);
    } else {
        it->second->removal = 0;
    }
    if (tasks.size() == 1)
        tasks.set_cursor(tasks.begin());
}

void snmp_agent_t::remove_one(const task_key_t& key)
{
    auto it = tasks.find(key);
    if (it == tasks.end())
        return;
    if (it->second->in_flight)
        it->second->removal = 1;
    else
        tasks.erase(it);
}

void snmp_agent_t::remove_all()
{
    for (auto it = tasks.begin(); it != tasks.end();) {
        auto next = std::next(it);
        if (it->second->watched) {
            if (it->second->in_flight)
                it->second->removal = 1;
            else
                tasks.erase(it);
        }
        it = next;
    }
}

int32_t snmp_agent_t::counting_pass()
{
    for (auto it = tasks.begin(); it != tasks.end();) {
        auto next = std::next(it);
        it->second->done = 0;
        if (it->second->removal && !it->second->in_flight)
            tasks.erase(it);
        it = next;
    }
    return static_cast<int32_t>(tasks.size());
}

bool snmp_agent_t::pick(int32_t& operation, snmp_request_t& request, snmp_task_t*& task)
{
    if (in_flight != 0)
        return false;
    task_map_t::iterator it;
    switch (tasks.pick(it)) {
    case task_map_t::pick_just_added:
        if (it->second->taken_at)
            return false; // a synchronous request is sent once only
        request.name = it->first.text.substr(3);
        break;
    case task_map_t::pick_cursor:
        if (it->second->removal || !it->second->watched || it->second->done)
            return false;
        request.name = it->first.text;
        break;
    default:
        return false;
    }
    task = it->second.get();
    if (!task->watched)
        task->taken_at = std::max<ULONGLONG>(GetTickCount64(), 1);
    task->in_flight = 1;
    ++in_flight;
    operation = task->operation;
    request.value = task->value;
    return true;
}

namespace {

// A record per task (only the changed ones when asked); their change marks
// are cleared.
void collect(snmp_agent_t::task_map_t& tasks, const std::string& ip_text, variable_list_t& out, bool changed_only)
{
    for (auto& [key, task] : tasks) {
        if (changed_only && !task->changed)
            continue;
        std::unique_ptr<snmp_variable_t> v(new (std::nothrow) snmp_variable_t(ip_text, key.text));
        if (!v)
            throw qm::exception_t("Out of memory, error in snmp_agent_t::get_all()");
        v->copy(*task);
        task->changed = 0;
        out.push_back(std::move(v));
    }
}

} // namespace

void snmp_agent_t::get_all(const std::string& ip_text, variable_list_t& out) { collect(tasks, ip_text, out, false); }

void snmp_agent_t::get_changes(const std::string& ip_text, variable_list_t& out) { collect(tasks, ip_text, out, true); }

} // namespace querant
