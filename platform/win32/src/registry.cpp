// Reg* calls over the user hive file and the read-only machine view.
#include "win32/registry.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"
#include "reg_file.h"
#include "reg_hive.h"
#include "win32/ktm.h"
#include "win32/sync.h"

namespace {

using vx::reg::Key;
using vx::reg::Value;

enum class Root { User, Classes, Machine, Users };

struct Handle {
    Root root = Root::User;
    std::vector<std::string> path; // below the root
    bool can_set = false;          // opened with KEY_SET_VALUE
    uintptr_t txn = 0;             // the transaction its writes go to; 0: none
};

// One change of the user hive, applied to a tree: at once, or staged in a
// transaction and applied again at its commit.
struct Op {
    enum Kind { SetValue, DeleteValue, CreateKey, DeleteKey } kind;
    Handle h;                        // the key changed (or the base of `more`)
    std::vector<std::string> more{}; // a path below it
    std::string name{};
    DWORD type = 0;
    std::string data{};
};

// A transaction: its handle is an event of the handle table, signalled once
// the outcome is known, so that CloseHandle and waits work on it. The staged
// changes live here until the commit; `view` is the hive with them applied.
struct Transaction {
    enum Status { Active, Committed, Aborted } status = Active;
    std::chrono::steady_clock::time_point deadline{}; // epoch: none
    std::vector<Op> ops;
    Key view;
    uint64_t view_generation = 0; // user hive the view was built on
    bool view_ready = false;
};

struct State {
    std::recursive_mutex mutex;

    // User hive.
    bool have_override = false;
    std::string override_path;
    std::string user_path; // resolved on first use
    bool user_loaded = false;
    bool user_exists = false;
    bool user_unreadable = false;
    int user_read_error = 0;
    std::string user_raw;
    Key user_root;
    uint64_t user_generation = 1; // changes whenever user_root does
    std::string user_damage;      // names the damage in user_raw ("" when whole)

    // Notices so far; each unreadable line is reported once (by its problem
    // and text, counting repeats).
    std::vector<std::string> notices;
    std::map<std::string, size_t> reported;
    std::string last_save_failure;

    // Machine view.
    bool machine_ready = false;
    Key machine_root;
    std::function<std::vector<vx_net_adapter>()> adapter_source;

    Key users_root; // always empty

    std::map<uintptr_t, Handle> handles;
    uintptr_t next_handle = 0x1000;

    std::map<uintptr_t, Transaction> transactions; // by event handle
};

State& state()
{
    static State* s = new State; // never destroyed: handles may be closed from static destructors
    return *s;
}

const std::vector<std::string> kClassesPrefix = {"Software", "Classes"};

std::string home_directory()
{
    const char* h = std::getenv("HOME");
    if (h && *h)
        return h;
    struct passwd pw {};
    struct passwd* res = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_dir)
        return res->pw_dir;
    return "/tmp";
}

std::string default_user_hive()
{
    const char* x = std::getenv("XDG_CONFIG_HOME");
    std::string base = x && x[0] == '/' ? std::string(x) : home_directory() + "/.config";
    return base + "/veltrix/user.reg";
}

const std::string& user_path(State& s)
{
    if (s.user_path.empty())
        s.user_path = s.have_override ? s.override_path : default_user_hive();
    return s.user_path;
}

const char* reason(int err)
{
    const char* text = strerrordesc_np(err);
    return text ? text : "unknown error";
}

void notice(State& s, std::string text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    s.notices.push_back(std::move(text));
}

// Reports the unreadable lines not reported before; a long run of them is
// summed up after the first few.
void report_damage(State& s, const std::string& path, const std::vector<vx::reg::Damage>& damage)
{
    constexpr size_t kShown = 20;
    std::map<std::string, size_t> seen;
    size_t shown = 0, more = 0;
    for (const auto& d : damage) {
        const std::string id = d.what + '\n' + d.text;
        size_t& done = s.reported[id];
        if (++seen[id] <= done)
            continue;
        done = seen[id];
        if (shown++ < kShown)
            notice(s, path + " line " + std::to_string(d.line) + ": " + d.what);
        else
            ++more;
    }
    if (more)
        notice(s, path + ": " + std::to_string(more) + " more unreadable lines");
}

void collect_kept(const Key& key, std::vector<std::string>& out)
{
    out.insert(out.end(), key.kept.begin(), key.kept.end());
    for (const auto& sub : key.sub_keys)
        collect_kept(sub, out);
}

// A name for the damage of a hive file: the same kept lines, wherever they
// stand, give the same name (a rewritten file keeps its name), new damage a
// new one. "" for a whole file.
std::string damage_name(const Key& root, const std::vector<vx::reg::Damage>& damage)
{
    if (damage.empty())
        return {};
    std::vector<std::string> lines;
    collect_kept(root, lines);
    if (lines.empty())
        lines.push_back(damage.front().text); // only the header is missing
    std::sort(lines.begin(), lines.end());
    uint64_t h = 14695981039346656037ull; // FNV-1a
    for (const auto& line : lines)
        for (unsigned char c : line + '\n')
            h = (h ^ c) * 1099511628211ull;
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

// Brings the user hive up to date with its file. The file is small; it is
// read on every use and parsed again only when its bytes changed, which also
// catches in-place edits that keep size and time stamp.
void refresh_user(State& s)
{
    const std::string& path = user_path(s);
    std::string raw;
    bool exists = vx::reg::read_whole(path, raw);
    if (!exists && errno != ENOENT && errno != ENOTDIR) {
        int e = errno;
        if (!s.user_unreadable || s.user_read_error != e)
            notice(s, "Registry file " + path + " could not be read: " + reason(e));
        s.user_unreadable = true;
        s.user_read_error = e;
        s.user_loaded = false;
        s.user_root = Key{};
        ++s.user_generation;
        return;
    }
    s.user_unreadable = false;
    if (s.user_loaded && exists == s.user_exists && raw == s.user_raw)
        return;
    std::vector<vx::reg::Damage> damage;
    vx::reg::parse_hive(raw, s.user_root, damage);
    report_damage(s, path, damage);
    s.user_damage = damage_name(s.user_root, damage);
    s.user_raw = std::move(raw);
    s.user_exists = exists;
    s.user_loaded = true;
    ++s.user_generation;
}

void ensure_machine(State& s)
{
    if (s.machine_ready)
        return;
    std::vector<vx_net_adapter> adapters = s.adapter_source ? s.adapter_source() : vx_registry_live_adapters();
    std::string error;
    if (!vx::reg::parse_hive_strict(vx_registry_machine_text(adapters), s.machine_root, error))
        std::fprintf(stderr, "veltrix registry: machine view not built: %s\n", error.c_str());
    s.machine_ready = true;
}

bool predefined(HKEY key, Handle& h)
{
    if (key == HKEY_CURRENT_USER)
        h = Handle{Root::User, {}, true};
    else if (key == HKEY_CLASSES_ROOT)
        h = Handle{Root::Classes, {}, true};
    else if (key == HKEY_LOCAL_MACHINE)
        h = Handle{Root::Machine, {}, false};
    else if (key == HKEY_USERS)
        h = Handle{Root::Users, {}, false};
    else
        return false;
    return true;
}

bool lookup(State& s, HKEY key, Handle& h)
{
    if (predefined(key, h))
        return true;
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(key));
    if (it == s.handles.end())
        return false;
    h = it->second;
    return true;
}

HKEY new_handle(State& s, Handle h)
{
    uintptr_t id = s.next_handle;
    s.next_handle += 4;
    s.handles[id] = std::move(h);
    return reinterpret_cast<HKEY>(id);
}

bool writable_root(Root r) { return r == Root::User || r == Root::Classes; }

// Ends a transaction: drops what it staged and signals its handle.
void finish(uintptr_t id, Transaction& t, Transaction::Status status)
{
    t.status = status;
    t.ops.clear();
    t.view = Key{};
    t.view_ready = false;
    SetEvent(reinterpret_cast<HANDLE>(id));
}

// The transaction behind a handle. One whose handle was closed is dropped
// (closing rolls back); one past its time-out is rolled back.
Transaction* find_transaction(State& s, uintptr_t id)
{
    auto it = s.transactions.find(id);
    if (it == s.transactions.end())
        return nullptr;
    if (!vx_win32::handle_is_open(reinterpret_cast<HANDLE>(id))) {
        s.transactions.erase(it);
        return nullptr;
    }
    Transaction& t = it->second;
    if (t.status == Transaction::Active && t.deadline.time_since_epoch().count() != 0 &&
        std::chrono::steady_clock::now() >= t.deadline)
        finish(id, t, Transaction::Aborted);
    return &t;
}

// Resolves a key handle for use; a key of a transaction that has ended can
// only be closed.
LONG use(State& s, HKEY key, Handle& h)
{
    if (!lookup(s, key, h))
        return ERROR_INVALID_HANDLE;
    if (h.txn) {
        Transaction* t = find_transaction(s, h.txn);
        if (!t || t->status != Transaction::Active)
            return ERROR_TRANSACTION_NOT_ACTIVE;
    }
    return ERROR_SUCCESS;
}

// Splits a sub key path; NULL or "" is the key itself. One trailing
// backslash is allowed.
LONG split_path(LPCSTR sub_key, std::vector<std::string>& parts)
{
    parts.clear();
    if (!sub_key || !*sub_key)
        return ERROR_SUCCESS;
    std::string_view p(sub_key);
    if (p[0] == '\\')
        return ERROR_BAD_PATHNAME;
    if (p.back() == '\\')
        p.remove_suffix(1);
    size_t pos = 0;
    for (;;) {
        size_t bs = p.find('\\', pos);
        std::string_view part = p.substr(pos, bs == std::string_view::npos ? std::string_view::npos : bs - pos);
        if (part.empty())
            return ERROR_BAD_PATHNAME;
        parts.emplace_back(part);
        if (bs == std::string_view::npos)
            break;
        pos = bs + 1;
    }
    return ERROR_SUCCESS;
}

// Full path of a handle's key inside its hive tree.
std::vector<std::string> hive_path(const Handle& h, const std::vector<std::string>& more = {})
{
    std::vector<std::string> full;
    if (h.root == Root::Classes)
        full = kClassesPrefix;
    full.insert(full.end(), h.path.begin(), h.path.end());
    full.insert(full.end(), more.begin(), more.end());
    return full;
}

Key* walk(Key& root, const std::vector<std::string>& path)
{
    Key* k = &root;
    for (const auto& p : path) {
        k = k->find_sub_key(p);
        if (!k)
            return nullptr;
    }
    return k;
}

Key& create_path(Key& root, const std::vector<std::string>& path)
{
    Key* k = &root;
    for (const auto& p : path)
        k = &k->add_sub_key(p);
    return *k;
}

Key& tree_of(State& s, Root r)
{
    switch (r) {
    case Root::User:
    case Root::Classes:
        refresh_user(s);
        return s.user_root;
    case Root::Machine:
        ensure_machine(s);
        return s.machine_root;
    case Root::Users:
        break;
    }
    return s.users_root;
}

Key& tree_for(State& s, const Handle& h);

// The key a handle (plus a relative path) names for reading. The classes
// root reads as an empty key until something is registered.
LONG find_key(State& s, const Handle& h, const std::vector<std::string>& more, const Key*& out)
{
    static const Key kEmpty;
    Key& tree = tree_for(s, h);
    out = walk(tree, hive_path(h, more));
    if (out)
        return ERROR_SUCCESS;
    if (more.empty() && h.path.empty() && h.root == Root::Classes) {
        out = &kEmpty;
        return ERROR_SUCCESS;
    }
    if (more.empty())
        return ERROR_KEY_DELETED; // the handle's own key went away
    return walk(tree, hive_path(h)) || (h.path.empty() && h.root == Root::Classes) ? ERROR_FILE_NOT_FOUND
                                                                                   : ERROR_KEY_DELETED;
}

bool mkdirs(const std::string& dir)
{
    std::string cur;
    size_t pos = 0;
    while (pos <= dir.size()) {
        size_t slash = dir.find('/', pos);
        if (slash == std::string::npos)
            slash = dir.size();
        cur = dir.substr(0, slash);
        if (!cur.empty() && mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        pos = slash + 1;
    }
    return true;
}

// A failed save: remembered in words for vx_registry_last_save_failure.
LONG save_failed(State& s, const std::string& file, int err)
{
    s.last_save_failure = "Registry file " + file + " could not be written: " + reason(err);
    return static_cast<LONG>(vx::reg::save_error(err));
}

// One change of the user hive: under the hive's file lock the file is read
// again, change() edits a copy of the tree and the copy is saved atomically.
// Only a successful save replaces the tree in memory. A damaged file is
// first copied beside it under the name of its damage, once.
template <class Change> LONG write_user(State& s, Change change)
{
    const std::string path = user_path(s);
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !mkdirs(path.substr(0, slash)))
        return save_failed(s, path, errno);
    int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
        return save_failed(s, path, errno);
    while (flock(lock, LOCK_EX) != 0) {
        if (errno != EINTR) {
            int e = errno;
            close(lock);
            return save_failed(s, path, e);
        }
    }
    LONG result = ERROR_SUCCESS;
    refresh_user(s);
    if (s.user_unreadable) {
        s.last_save_failure = "Registry file " + path + " could not be read: " + reason(s.user_read_error);
        result = ERROR_ACCESS_DENIED;
    } else {
        Key copy = s.user_root;
        result = change(copy);
        const std::string keep = path + ".bad-" + s.user_damage;
        if (result == ERROR_SUCCESS && !s.user_damage.empty() && s.user_exists &&
            !vx::reg::create_file_once(keep, s.user_raw, 0600))
            result = save_failed(s, keep, errno);
        if (result == ERROR_SUCCESS) {
            struct stat st {};
            int mode = stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : 0600;
            std::string text = vx::reg::write_hive(copy);
            if (vx::reg::replace_file(path, text, mode, true)) {
                std::vector<vx::reg::Damage> damage;
                if (!s.user_damage.empty()) {
                    // The kept lines are still there: the damage keeps its name.
                    Key again;
                    vx::reg::parse_hive(text, again, damage);
                    s.user_damage = damage_name(again, damage);
                }
                s.user_root = std::move(copy);
                s.user_raw = std::move(text);
                s.user_exists = true;
                s.user_loaded = true;
                s.last_save_failure.clear();
                ++s.user_generation;
            } else {
                result = save_failed(s, path, errno);
            }
        }
    }
    close(lock);
    return result;
}

// The key of a handle inside a tree being changed; the classes root is
// created on demand.
Key* key_for_write(Key& root, const Handle& h)
{
    Key* k = walk(root, hive_path(h));
    if (!k && h.root == Root::Classes && h.path.empty())
        k = &create_path(root, kClassesPrefix);
    return k;
}

// Applies one change to a tree; a change that fails leaves the tree alone.
LONG apply(Key& root, const Op& op)
{
    const Handle& h = op.h;
    switch (op.kind) {
    case Op::SetValue: {
        Key* k = key_for_write(root, h);
        if (!k)
            return ERROR_KEY_DELETED;
        create_path(*k, op.more).set_value(op.name, op.type, op.data);
        return ERROR_SUCCESS;
    }
    case Op::DeleteValue: {
        Key* k = walk(root, hive_path(h));
        if (!k)
            return ERROR_KEY_DELETED;
        return k->remove_value(op.name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    case Op::CreateKey:
        if (!walk(root, hive_path(h)) && !(h.root == Root::Classes && h.path.empty()))
            return ERROR_KEY_DELETED;
        create_path(root, hive_path(h, op.more));
        return ERROR_SUCCESS;
    case Op::DeleteKey: {
        std::vector<std::string> full = hive_path(h, op.more);
        Key* parent = walk(root, std::vector<std::string>(full.begin(), full.end() - 1));
        Key* target = parent ? parent->find_sub_key(full.back()) : nullptr;
        if (!target)
            return ERROR_FILE_NOT_FOUND;
        if (!target->sub_keys.empty())
            return ERROR_ACCESS_DENIED;
        // Unreadable lines stay in the file, with the parent.
        parent->kept.insert(parent->kept.end(), target->kept.begin(), target->kept.end());
        parent->remove_sub_key(full.back());
        return ERROR_SUCCESS;
    }
    }
    return ERROR_INVALID_PARAMETER;
}

// The user hive as a transaction sees it: the saved hive with the staged
// changes applied, built again whenever the saved hive changed. A staged
// change that no longer applies (another writer deleted its key) is left out
// here and fails the commit.
Key& transaction_view(State& s, Transaction& t)
{
    refresh_user(s);
    if (!t.view_ready || t.view_generation != s.user_generation) {
        t.view = s.user_root;
        for (const Op& op : t.ops)
            apply(t.view, op);
        t.view_generation = s.user_generation;
        t.view_ready = true;
    }
    return t.view;
}

// The tree reads through a handle see (use() has checked its transaction).
Key& tree_for(State& s, const Handle& h)
{
    if (h.txn && writable_root(h.root))
        if (Transaction* t = find_transaction(s, h.txn))
            return transaction_view(s, *t);
    return tree_of(s, h.root);
}

// Makes a change to the user hive: saved at once, or staged in the
// transaction of the handle it goes through. peek sees the tree just before
// the change.
template <class Peek> LONG change_user(State& s, Op op, Peek peek)
{
    if (!op.h.txn)
        return write_user(s, [&](Key& root) -> LONG {
            peek(root);
            return apply(root, op);
        });
    Transaction* t = find_transaction(s, op.h.txn);
    if (!t || t->status != Transaction::Active)
        return ERROR_TRANSACTION_NOT_ACTIVE;
    Key& view = transaction_view(s, *t);
    peek(view);
    if (LONG r = apply(view, op))
        return r;
    t->ops.push_back(std::move(op));
    return ERROR_SUCCESS;
}

LONG change_user(State& s, Op op)
{
    return change_user(s, std::move(op), [](Key&) {});
}

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC |
    WRITE_OWNER | 0x40000000 /*GENERIC_WRITE*/ | 0x10000000 /*GENERIC_ALL*/;

bool wants_set(REGSAM sam) { return (sam & (KEY_SET_VALUE | MAXIMUM_ALLOWED | 0x40000000 | 0x10000000)) != 0; }

// A key opened in a transaction: the transaction must be active.
LONG join(State& s, HANDLE transaction, Handle& h)
{
    if (!transaction)
        return ERROR_SUCCESS;
    uintptr_t id = reinterpret_cast<uintptr_t>(transaction);
    Transaction* t = find_transaction(s, id);
    if (!t)
        return ERROR_INVALID_HANDLE;
    if (t->status != Transaction::Active)
        return ERROR_TRANSACTION_NOT_ACTIVE;
    h.txn = id;
    return ERROR_SUCCESS;
}

// Splits a sub-key path below an open key, refusing one that nests too deep.
LONG sub_path(const Handle& h, LPCSTR sub_key, std::vector<std::string>& more)
{
    if (LONG r = split_path(sub_key, more))
        return r;
    return hive_path(h, more).size() > vx::reg::kMaxDepth ? ERROR_BAD_PATHNAME : ERROR_SUCCESS;
}

// The handle behind `key`, joined to `transaction`, and the names below it that `sub_key` adds.
LONG resolve(State& s, HKEY key, HANDLE transaction, LPCSTR sub_key, Handle& h, std::vector<std::string>& more)
{
    if (LONG r = use(s, key, h))
        return r;
    if (LONG r = join(s, transaction, h))
        return r;
    return sub_path(h, sub_key, more);
}

LONG open_key(HKEY key, LPCSTR sub_key, REGSAM desired, PHKEY result, HANDLE transaction)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    std::vector<std::string> more;
    if (LONG r = resolve(s, key, transaction, sub_key, h, more))
        return r;
    const Key* k = nullptr;
    if (LONG r = find_key(s, h, more, k))
        return r;
    bool is_max = (desired & MAXIMUM_ALLOWED) != 0;
    if (!writable_root(h.root) && (desired & kWriteRights) && !is_max)
        return ERROR_ACCESS_DENIED;
    Handle opened{h.root, h.path, writable_root(h.root) && wants_set(desired), h.txn};
    opened.path.insert(opened.path.end(), more.begin(), more.end());
    *result = new_handle(s, std::move(opened));
    return ERROR_SUCCESS;
}

void copy_name(const std::string& name, LPSTR out)
{
    std::memcpy(out, name.data(), name.size());
    out[name.size()] = '\0';
}

bool is_string_type(DWORD t) { return t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ; }

// Copies value data the RegQueryValueEx way.
LONG give_data(const Value& v, LPDWORD type, LPBYTE data, LPDWORD data_size)
{
    if (data && !data_size)
        return ERROR_INVALID_PARAMETER;
    if (type)
        *type = v.type;
    if (!data_size)
        return ERROR_SUCCESS;
    DWORD need = static_cast<DWORD>(v.data.size());
    if (!data) {
        *data_size = need;
        return ERROR_SUCCESS;
    }
    if (*data_size < need) {
        *data_size = need;
        return ERROR_MORE_DATA;
    }
    if (need)
        std::memcpy(data, v.data.data(), need);
    // A text stored without its terminator gets one when there is room; the
    // size reported stays the stored one.
    if (is_string_type(v.type) && *data_size > need && (v.data.empty() || v.data.back() != '\0'))
        data[need] = 0;
    *data_size = need;
    return ERROR_SUCCESS;
}

} // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result)
{
    return open_key(key, sub_key, desired, result, nullptr);
}

LONG RegOpenKeyTransactedA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM desired, PHKEY result, HANDLE transaction,
                           PVOID extended)
{
    if (!transaction || extended)
        return ERROR_INVALID_PARAMETER;
    return open_key(key, sub_key, desired, result, transaction);
}

LONG RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (!sub_key || !*sub_key) {
        State& s = state();
        std::lock_guard<std::recursive_mutex> guard(s.mutex);
        Handle h;
        if (LONG r = use(s, key, h))
            return r;
        *result = key;
        return ERROR_SUCCESS;
    }
    return open_key(key, sub_key, MAXIMUM_ALLOWED, result, nullptr);
}

namespace {

LONG create_key(HKEY key, LPCSTR sub_key, REGSAM desired, PHKEY result, LPDWORD disposition, HANDLE transaction)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    std::vector<std::string> more;
    if (LONG r = resolve(s, key, transaction, sub_key, h, more))
        return r;
    const Key* existing = nullptr;
    LONG found = find_key(s, h, more, existing);
    if (found == ERROR_KEY_DELETED)
        return found;
    Handle opened{h.root, h.path, writable_root(h.root) && wants_set(desired), h.txn};
    opened.path.insert(opened.path.end(), more.begin(), more.end());
    if (!writable_root(h.root)) {
        if (found != ERROR_SUCCESS || ((desired & kWriteRights) && !(desired & MAXIMUM_ALLOWED)))
            return ERROR_ACCESS_DENIED;
        *result = new_handle(s, std::move(opened));
        if (disposition)
            *disposition = REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    }
    DWORD how = REG_OPENED_EXISTING_KEY;
    if (found != ERROR_SUCCESS || (h.root == Root::Classes && !walk(tree_for(s, h), hive_path(opened)))) {
        std::vector<std::string> full = hive_path(opened);
        LONG r = change_user(s, Op{Op::CreateKey, h, more}, [&](Key& root) {
            if (!walk(root, full))
                how = REG_CREATED_NEW_KEY;
        });
        if (r != ERROR_SUCCESS)
            return r;
    }
    *result = new_handle(s, std::move(opened));
    if (disposition)
        *disposition = how;
    return ERROR_SUCCESS;
}

} // namespace

LONG RegCreateKeyExA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options, REGSAM desired,
                     struct _SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition)
{
    return create_key(key, sub_key, desired, result, disposition, nullptr);
}

LONG RegCreateKeyTransactedA(HKEY key, LPCSTR sub_key, DWORD reserved, LPSTR class_name, DWORD options, REGSAM desired,
                             struct _SECURITY_ATTRIBUTES* security, PHKEY result, LPDWORD disposition,
                             HANDLE transaction, PVOID extended)
{
    if (!transaction || extended)
        return ERROR_INVALID_PARAMETER;
    return create_key(key, sub_key, desired, result, disposition, transaction);
}

LONG RegCreateKeyA(HKEY key, LPCSTR sub_key, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (!sub_key || !*sub_key)
        return RegOpenKeyA(key, sub_key, result);
    return RegCreateKeyExA(key, sub_key, 0, nullptr, 0, MAXIMUM_ALLOWED, nullptr, result, nullptr);
}

LONG RegCloseKey(HKEY key)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (predefined(key, h))
        return ERROR_SUCCESS;
    return s.handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegFlushKey(HKEY key)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    return lookup(s, key, h) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD data_size)
{
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (LONG r = use(s, key, h))
        return r;
    const Key* k = nullptr;
    if (LONG r = find_key(s, h, {}, k))
        return r;
    const Value* v = k->find_value(value_name ? value_name : "");
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    return give_data(*v, type, data, data_size);
}

LONG RegSetValueExA(HKEY key, LPCSTR value_name, DWORD reserved, DWORD type, const BYTE* data, DWORD data_size)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (LONG r = use(s, key, h))
        return r;
    if (!writable_root(h.root) || !h.can_set)
        return ERROR_ACCESS_DENIED;
    if (!data && data_size)
        return ERROR_NOACCESS;
    std::string bytes(reinterpret_cast<const char*>(data), data ? data_size : 0);
    return change_user(s, Op{Op::SetValue, h, {}, value_name ? value_name : "", type, std::move(bytes)});
}

LONG RegDeleteValueA(HKEY key, LPCSTR value_name)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (LONG r = use(s, key, h))
        return r;
    if (!writable_root(h.root) || !h.can_set)
        return ERROR_ACCESS_DENIED;
    std::string name = value_name ? value_name : "";
    const Key* k = nullptr;
    if (LONG r = find_key(s, h, {}, k))
        return r;
    if (!k->find_value(name))
        return ERROR_FILE_NOT_FOUND;
    return change_user(s, Op{Op::DeleteValue, h, {}, name});
}

LONG RegDeleteKeyA(HKEY key, LPCSTR sub_key)
{
    if (!sub_key)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (LONG r = use(s, key, h))
        return r;
    std::vector<std::string> more;
    if (LONG r = split_path(sub_key, more))
        return r;
    const Key* k = nullptr;
    if (LONG r = find_key(s, h, more, k))
        return r;
    std::vector<std::string> full = hive_path(h, more);
    size_t floor = h.root == Root::Classes ? kClassesPrefix.size() : 0;
    if (!writable_root(h.root) || full.size() <= floor)
        return ERROR_ACCESS_DENIED; // a root cannot go
    if (!k->sub_keys.empty())
        return ERROR_ACCESS_DENIED;
    return change_user(s, Op{Op::DeleteKey, h, more});
}

LONG RegSetValueA(HKEY key, LPCSTR sub_key, DWORD type, LPCSTR data, DWORD data_size)
{
    if (type != REG_SZ || !data)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (LONG r = use(s, key, h))
        return r;
    if (!writable_root(h.root))
        return ERROR_ACCESS_DENIED;
    std::vector<std::string> more;
    if (LONG r = sub_path(h, sub_key, more))
        return r;
    std::string text(data, std::strlen(data) + 1);
    return change_user(s, Op{Op::SetValue, h, more, "", REG_SZ, std::move(text)});
}

LONG RegQueryValueA(HKEY key, LPCSTR sub_key, LPSTR data, LONG* data_size)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (LONG r = use(s, key, h))
        return r;
    std::vector<std::string> more;
    if (LONG r = split_path(sub_key, more))
        return r;
    const Key* k = nullptr;
    if (LONG r = find_key(s, h, more, k))
        return r;
    const Value* v = k->find_value("");
    Value empty{"", REG_SZ, std::string(1, '\0')};
    if (!v)
        v = &empty;
    if (!data_size)
        return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD size = *data_size < 0 ? 0 : static_cast<DWORD>(*data_size);
    LONG r = give_data(*v, nullptr, reinterpret_cast<LPBYTE>(data), &size);
    *data_size = static_cast<LONG>(size);
    return r;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved, LPSTR class_name,
                   LPDWORD class_size, struct _FILETIME* last_write)
{
    if (!name || !name_size)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (LONG r = use(s, key, h))
        return r;
    const Key* k = nullptr;
    if (LONG r = find_key(s, h, {}, k))
        return r;
    if (index >= k->sub_keys.size())
        return ERROR_NO_MORE_ITEMS;
    const std::string& n = k->sub_keys[index].name;
    if (*name_size < n.size() + 1)
        return ERROR_MORE_DATA;
    copy_name(n, name);
    *name_size = static_cast<DWORD>(n.size());
    if (class_name && class_size && *class_size)
        class_name[0] = '\0';
    if (class_size)
        *class_size = 0;
    if (last_write)
        std::memset(last_write, 0, 2 * sizeof(DWORD));
    return ERROR_SUCCESS;
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD name_size)
{
    DWORD size = name_size;
    return RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR value_name, LPDWORD value_name_size, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD data_size)
{
    if (!value_name || !value_name_size || reserved)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (LONG r = use(s, key, h))
        return r;
    const Key* k = nullptr;
    if (LONG r = find_key(s, h, {}, k))
        return r;
    if (index >= k->values.size())
        return ERROR_NO_MORE_ITEMS;
    const Value& v = k->values[index];
    if (*value_name_size < v.name.size() + 1)
        return ERROR_MORE_DATA;
    copy_name(v.name, value_name);
    *value_name_size = static_cast<DWORD>(v.name.size());
    return give_data(v, type, data, data_size);
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR class_name, LPDWORD class_size, LPDWORD reserved, LPDWORD sub_keys,
                      LPDWORD max_sub_key_len, LPDWORD max_class_len, LPDWORD values, LPDWORD max_value_name_len,
                      LPDWORD max_value_len, LPDWORD security_descriptor_size, struct _FILETIME* last_write)
{
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    Handle h;
    if (LONG r = use(s, key, h))
        return r;
    const Key* k = nullptr;
    if (LONG r = find_key(s, h, {}, k))
        return r;
    if (class_name && class_size && *class_size)
        class_name[0] = '\0';
    if (class_size)
        *class_size = 0;
    DWORD longest_key = 0, longest_name = 0, longest_data = 0;
    for (const auto& sk : k->sub_keys)
        longest_key = std::max<DWORD>(longest_key, static_cast<DWORD>(sk.name.size()));
    for (const auto& v : k->values) {
        longest_name = std::max<DWORD>(longest_name, static_cast<DWORD>(v.name.size()));
        longest_data = std::max<DWORD>(longest_data, static_cast<DWORD>(v.data.size()));
    }
    if (sub_keys)
        *sub_keys = static_cast<DWORD>(k->sub_keys.size());
    if (max_sub_key_len)
        *max_sub_key_len = longest_key;
    if (max_class_len)
        *max_class_len = 0;
    if (values)
        *values = static_cast<DWORD>(k->values.size());
    if (max_value_name_len)
        *max_value_name_len = longest_name;
    if (max_value_len)
        *max_value_len = longest_data;
    if (security_descriptor_size)
        *security_descriptor_size = 0;
    if (last_write)
        std::memset(last_write, 0, 2 * sizeof(DWORD));
    return ERROR_SUCCESS;
}

HANDLE CreateTransaction(struct _SECURITY_ATTRIBUTES* attributes, struct GUID* uow, DWORD options,
                         DWORD isolation_level, DWORD isolation_flags, DWORD timeout, LPWSTR description)
{
    if (uow || (options & ~static_cast<DWORD>(TRANSACTION_DO_NOT_PROMOTE)))
        return vx_win32::fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        return INVALID_HANDLE_VALUE;
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    // Transactions whose handles were closed are forgotten here.
    for (auto it = s.transactions.begin(); it != s.transactions.end();)
        it = !vx_win32::handle_is_open(reinterpret_cast<HANDLE>(it->first)) ? s.transactions.erase(it) : std::next(it);
    Transaction& t = s.transactions[reinterpret_cast<uintptr_t>(event)];
    if (timeout != 0 && timeout != INFINITE)
        t.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    return event;
}

namespace {

// The transaction for Commit/Rollback, or the error why there is none to end.
Transaction* active_transaction(State& s, HANDLE transaction, DWORD& error)
{
    Transaction* t = find_transaction(s, reinterpret_cast<uintptr_t>(transaction));
    error = !t                                ? ERROR_INVALID_HANDLE
        : t->status == Transaction::Committed ? ERROR_TRANSACTION_ALREADY_COMMITTED
        : t->status == Transaction::Aborted   ? ERROR_TRANSACTION_ALREADY_ABORTED
                                              : ERROR_SUCCESS;
    return error == ERROR_SUCCESS ? t : nullptr;
}

} // namespace

BOOL CommitTransaction(HANDLE transaction)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    DWORD error = ERROR_SUCCESS;
    Transaction* t = active_transaction(s, transaction, error);
    if (!t)
        return vx_win32::fail(error, FALSE);
    // All staged changes on the hive as it is now, saved once; a failure
    // anywhere leaves file and memory as they were.
    LONG r = ERROR_SUCCESS;
    if (!t->ops.empty())
        r = write_user(s, [&](Key& root) -> LONG {
            for (const Op& op : t->ops)
                if (LONG e = apply(root, op))
                    return e;
            return ERROR_SUCCESS;
        });
    finish(reinterpret_cast<uintptr_t>(transaction), *t,
           r == ERROR_SUCCESS ? Transaction::Committed : Transaction::Aborted);
    return r == ERROR_SUCCESS ? TRUE : vx_win32::fail(static_cast<DWORD>(r), FALSE);
}

BOOL RollbackTransaction(HANDLE transaction)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    DWORD error = ERROR_SUCCESS;
    Transaction* t = active_transaction(s, transaction, error);
    if (!t)
        return vx_win32::fail(error, FALSE);
    finish(reinterpret_cast<uintptr_t>(transaction), *t, Transaction::Aborted);
    return TRUE;
}

void vx_registry_set_adapter_source(std::function<std::vector<vx_net_adapter>()> source)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    s.adapter_source = std::move(source);
    s.machine_ready = false;
    s.machine_root = Key{};
}

LONG vx_registry_load_machine_text(const char* text, size_t length)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    std::string error;
    s.machine_ready = true;
    if (!vx::reg::parse_hive_strict(std::string_view(text ? text : "", text ? length : 0), s.machine_root, error))
        return ERROR_REGISTRY_CORRUPT;
    return ERROR_SUCCESS;
}

LONG vx_registry_load_machine_fixture(const char* path)
{
    std::string text;
    if (!path || !vx::reg::read_whole(path, text)) {
        State& s = state();
        std::lock_guard<std::recursive_mutex> guard(s.mutex);
        s.machine_root = Key{};
        s.machine_ready = true;
        return ERROR_FILE_NOT_FOUND;
    }
    return vx_registry_load_machine_text(text.data(), text.size());
}

void vx_registry_set_user_hive(const char* path)
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    s.have_override = path != nullptr;
    s.override_path = path ? path : "";
    s.user_path.clear();
    s.user_loaded = false;
    s.user_root = Key{};
    s.user_raw.clear();
    s.user_unreadable = false;
}

std::string vx_registry_user_hive_path()
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    return user_path(s);
}

void vx_registry_reset()
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    s.have_override = false;
    s.override_path.clear();
    s.user_path.clear();
    s.user_loaded = false;
    s.user_exists = false;
    s.user_unreadable = false;
    s.user_raw.clear();
    s.user_root = Key{};
    s.user_damage.clear();
    s.notices.clear();
    s.reported.clear();
    s.last_save_failure.clear();
    s.machine_ready = false;
    s.machine_root = Key{};
    s.adapter_source = nullptr;
    s.handles.clear();
    s.transactions.clear();
}

std::vector<std::string> vx_registry_notices()
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    return s.notices;
}

std::string vx_registry_last_save_failure()
{
    State& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    return s.last_save_failure;
}
