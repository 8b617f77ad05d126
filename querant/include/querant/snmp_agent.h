// The watch list's containers: cursor_map_t (an ordered map with a
// round-robin cursor and a just-added slot), the per-device agent and its
// tasks. Everything here runs under the engine's state lock.
#pragma once

#include "querant/snmp_variable.h"

#include <qm/handle.h>

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace querant {

// Ordered map of owned objects with two positions into it: the cursor (next
// entry to visit round-robin) and the just-added entry (served before the
// cursor entry).
template <class Key, class T> class cursor_map_t {
public:
    using map_type = std::map<Key, std::unique_ptr<T>>;
    using iterator = typename map_type::iterator;

    enum pick_t { pick_none = 0, pick_just_added = 1, pick_cursor = 2 };

    iterator begin() { return entries.begin(); }
    iterator end() { return entries.end(); }
    iterator find(const Key& key) { return entries.find(key); }
    size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }

    // Inserts a new entry (the key must be absent).
    iterator insert(const Key& key, std::unique_ptr<T> object) { return entries.emplace(key, std::move(object)).first; }

    iterator cursor() const { return cursor_; }
    void set_cursor(iterator it) { cursor_ = it; }
    bool cursor_at_end() const { return cursor_ == entries.end(); }
    iterator just_added() const { return just_added_; }
    void set_just_added(iterator it) { just_added_ = it; }

    // Just-added entry first (and the slot is spent), else the cursor entry
    // with the cursor advanced, else nothing.
    pick_t pick(iterator& out)
    {
        if (just_added_ != entries.end()) {
            out = just_added_;
            just_added_ = entries.end();
            return pick_just_added;
        }
        if (cursor_ == entries.end())
            return pick_none;
        out = cursor_;
        advance();
        return pick_cursor;
    }

    // Steps the cursor in key order, wrapping to the first entry.
    void advance()
    {
        if (cursor_ != entries.end())
            ++cursor_;
        if (cursor_ == entries.end())
            cursor_ = entries.begin();
    }

    void erase(iterator it)
    {
        if (it == cursor_)
            advance();
        if (it == cursor_) // the only entry
            cursor_ = entries.end();
        if (it == just_added_)
            just_added_ = entries.end();
        entries.erase(it);
        if (entries.empty())
            cursor_ = just_added_ = entries.end();
    }

    void clear()
    {
        entries.clear();
        cursor_ = just_added_ = entries.end();
    }

private:
    map_type entries;
    iterator cursor_ = entries.end();
    iterator just_added_ = entries.end();
};

// A task's key: the text (the watched name, or "oid" + name for a
// synchronous request) and a serial that is 0 for watched variables and
// unique per synchronous request, so the two kinds never share a key.
struct task_key_t {
    std::string text;
    uint64_t serial = 0;
    auto operator<=>(const task_key_t&) const = default;
};

class snmp_task_t {
public:
    snmp_task_t() = default;
    virtual ~snmp_task_t() = default;

    int32_t operation = 0; // 0 get, 1 get-next, 2 set
    int32_t watched = 1;
    std::string value;
    std::string result_name;
    int32_t type = 0;
    uint8_t done = 0;
    uint8_t error = 1;
    uint8_t changed = 0;
    uint8_t removal = 0;
    int32_t in_flight = 0;
    qm::wapi::handle_t completion; // synchronous requests only (auto-reset)
    // Tick at which a worker took a synchronous request; 0 until then. Its
    // waiter's deadline starts there, and it is never handed out twice.
    ULONGLONG taken_at = 0;
};

class snmp_agent_t {
public:
    using task_map_t = cursor_map_t<task_key_t, snmp_task_t>;

    explicit snmp_agent_t(std::string ip_text) : ip(std::move(ip_text)) {}

    // A synchronous request: becomes the just-added entry; returns its
    // completion event.
    HANDLE add_task(int32_t operation, const std::string& name, const std::string& value, uint64_t serial);
    void add_watched(const std::string& name);
    // Absent keys are ignored; a task in flight is only marked for removal.
    void remove_one(const task_key_t& key);
    // Every watched task (synchronous requests are left to their waiters).
    void remove_all();
    // Once per period: clears done flags, erases marked tasks not in flight.
    int32_t counting_pass();
    bool pick(int32_t& operation, snmp_request_t& request, snmp_task_t*& task);
    void get_all(const std::string& ip_text, variable_list_t& out);
    void get_changes(const std::string& ip_text, variable_list_t& out);
    bool empty() const { return tasks.empty(); }

    std::string ip;
    int32_t in_flight = 0;
    task_map_t tasks;
};

} // namespace querant
