// Process-wide handle table: events, semaphores, threads and the waits on them.
//
// One lock guards the table and every object's state; it is held only for a
// few dozen instructions at a time. Handles index a table of slots directly.
// A zero-time wait on one object, and a SetEvent or ResetEvent that finds the
// event as wanted, only read: they take no lock (objects are recycled, never
// freed, so such a read tells a closed handle by the object's value).
//
// A wait that has to block queues itself on each of its objects and sleeps on
// a futex word of its own. Whoever makes an object signalled satisfies the
// queued waits in order under the lock, consuming for them what they win, as
// the Windows dispatcher does, and wakes only those: a semaphore released once
// wakes one of the workers waiting on it, not all of them.
//
// Each object can also show its state on an eventfd (readable exactly while
// signalled), made on first need: for waits that include outstanding socket
// operations (those poll the eventfds and the sockets together) and for
// callers that took the fd with vx_handle_fd. With nobody looking at it, the
// eventfd does not exist or is left alone, and state changes cost no system
// call.
#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "internal.h"
#include "win32/error.h"
#include "win32/sync.h"

namespace {

enum class kind : unsigned char { event, semaphore, thread };

struct object;
struct waiter;

// A blocked wait's place in the queue of one of its objects.
struct link {
    waiter* owner = nullptr;
    object* target = nullptr;
    link* prev = nullptr;
    link* next = nullptr;
};

// One blocking wait, on the waiting thread's stack.
struct waiter {
    // 0 queued, 2 asleep on the futex, 1 satisfied (result set).
    std::atomic<uint32_t> word{0};
    DWORD count = 0;
    object* const* objects = nullptr; // null entries are never signalled
    bool wait_all = false;
    DWORD result = WAIT_TIMEOUT;
    std::array<link, MAXIMUM_WAIT_OBJECTS> links;
};

// A field written only under the table's lock but also read without it (by
// the fast paths below): stores publish, plain reads are relaxed.
template <class T> class shared_field {
public:
    explicit shared_field(T value = T()) : value_(value) {}
    operator T() const { return value_.load(std::memory_order_relaxed); }
    shared_field& operator=(T value)
    {
        value_.store(value, std::memory_order_release);
        return *this;
    }
    // Changes under the lock: no other writer, so load and store suffice.
    shared_field& operator+=(T delta) { return *this = T(*this) + delta; }
    shared_field& operator--() { return *this = T(*this) - 1; }
    T acquire() const { return value_.load(std::memory_order_acquire); }

private:
    std::atomic<T> value_;
};

// Objects are never freed, only recycled (pool in the table): a fast path
// that read a table slot without the lock may look at an object after its
// handle was closed, and tells by its value.
struct object {
    shared_field<kind> type{kind::event};
    shared_field<uintptr_t> value{0}; // its handle while in the table, 0 once closed
    int refs = 1;                     // the table's, and one per blocked wait and running thread
    link* first = nullptr;            // queued waits, oldest first
    link* last = nullptr;
    int fd = -1;           // eventfd, made on first need
    bool fd_ready = false; // what the eventfd currently shows
    int pollers = 0;       // waits polling the eventfd now
    bool exported = false; // handed out by vx_handle_fd: always kept in line
    // event
    shared_field<bool> manual_reset{false};
    shared_field<bool> signalled{false};
    // semaphore
    shared_field<LONG> count{0};
    LONG maximum = 0;
    // thread
    shared_field<bool> finished{false};
    DWORD exit_code = STILL_ACTIVE;
    std::thread thread;
    // outstanding socket operation attached to an event
    int io_fd = -1;
    short io_events = 0;
    vx_win32::io_complete_fn io_complete = nullptr;
    uint64_t io_token = 0;

    // Back to a fresh object of kind k (lock held, or the object unreachable).
    void reset(kind k)
    {
        type = k;
        refs = 1;
        first = last = nullptr;
        fd = -1;
        fd_ready = false;
        pollers = 0;
        exported = false;
        manual_reset = false;
        signalled = false;
        count = 0;
        maximum = 0;
        finished = false;
        exit_code = STILL_ACTIVE;
        io_fd = -1;
        io_events = 0;
        io_complete = nullptr;
        io_token = 0;
    }
};

// Handle values: 0x100 + 4 * serial, serial = generation << slot_bits | slot.
// A slot freed goes to the back of a queue and is taken again only when many
// others wait there, with its generation advanced, so a closed handle's value
// does not come back.
constexpr unsigned slot_bits = 20;
constexpr uint32_t slot_count = 1u << slot_bits;
constexpr unsigned chunk_bits = 12;
constexpr uint32_t chunk_size = 1u << chunk_bits;
constexpr size_t reuse_distance = 4096;

struct slot {
    std::atomic<object*> target{nullptr};
    uint32_t generation = 0; // under the lock
};

long futex(std::atomic<uint32_t>* word, int op, uint32_t value, const timespec* timeout = nullptr, uint32_t bits = 0)
{
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, value, timeout, nullptr, bits);
}

inline void cpu_relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// The table's lock: held for a few dozen instructions at a time, so taking it
// costs one atomic instruction unless it is contended; then a short spin,
// then sleep. Word: 0 free, 1 held, 2 held and someone sleeps on it.
class table_lock {
public:
    void lock()
    {
        uint32_t c = 0;
        if (word_.compare_exchange_strong(c, 1, std::memory_order_acquire, std::memory_order_relaxed))
            return;
        for (int i = 0; i < 64 && c != 2; ++i) {
            cpu_relax();
            c = 0;
            if (word_.load(std::memory_order_relaxed) == 0 &&
                word_.compare_exchange_weak(c, 1, std::memory_order_acquire, std::memory_order_relaxed))
                return;
        }
        if (c != 2)
            c = word_.exchange(2, std::memory_order_acquire);
        while (c != 0) {
            futex(&word_, FUTEX_WAIT_PRIVATE, 2);
            c = word_.exchange(2, std::memory_order_acquire);
        }
    }
    void unlock()
    {
        if (word_.exchange(0, std::memory_order_release) == 2)
            futex(&word_, FUTEX_WAKE_PRIVATE, 1);
    }

private:
    std::atomic<uint32_t> word_{0};
};

struct table {
    table_lock lock;
    std::array<std::atomic<slot*>, slot_count / chunk_size> chunks{};
    uint32_t fresh = 0;        // slots below this have been used
    std::deque<uint32_t> free; // freed slots, oldest first
    std::vector<object*> pool; // objects to use again
};

// Never destroyed: threads may still use it while the process exits.
table& handles()
{
    static table* t = new table;
    return *t;
}

// The slot a handle value names, or null.
const slot* slot_of(const table& t, uintptr_t value)
{
    if (value < 0x100 || (value & 3) != 0)
        return nullptr;
    const uintptr_t serial = (value - 0x100) >> 2;
    const uint32_t index = static_cast<uint32_t>(serial & (slot_count - 1));
    const slot* chunk = t.chunks[index >> chunk_bits].load(std::memory_order_acquire);
    return chunk ? &chunk[index & (chunk_size - 1)] : nullptr;
}

object* lookup(table& t, HANDLE h)
{
    const slot* s = slot_of(t, reinterpret_cast<uintptr_t>(h));
    if (!s)
        return nullptr;
    object* o = s->target.load(std::memory_order_relaxed);
    return o && o->value == reinterpret_cast<uintptr_t>(h) ? o : nullptr;
}

// What a read without the lock found (see peek).
struct glance {
    kind type;
    bool manual_reset;
    bool signalled;
};

// The state of the object behind h at some moment during the call, read
// without the lock; false when h names nothing or the object changed hands
// meanwhile (the caller then takes the lock).
bool peek(table& t, HANDLE h, glance& out)
{
    const uintptr_t value = reinterpret_cast<uintptr_t>(h);
    const slot* s = slot_of(t, value);
    if (!s)
        return false;
    const object* o = s->target.load(std::memory_order_acquire);
    if (!o || o->value.acquire() != value)
        return false;
    out.type = o->type;
    out.manual_reset = o->manual_reset;
    switch (out.type) {
    case kind::event:
        out.signalled = o->signalled;
        break;
    case kind::semaphore:
        out.signalled = o->count > 0;
        break;
    case kind::thread:
        out.signalled = o->finished;
        break;
    }
    // Whatever closing or reusing the object wrote would show in its value.
    std::atomic_thread_fence(std::memory_order_acquire);
    return o->value == value;
}

// A fresh object from the pool (lock held); null when out of memory.
object* make_object(table& t, kind k)
{
    object* o;
    if (!t.pool.empty()) {
        o = t.pool.back();
        t.pool.pop_back();
    } else {
        o = new (std::nothrow) object;
        if (!o)
            return nullptr;
    }
    o->reset(k);
    return o;
}

// Gives an object that nobody holds any more back to the pool (lock not held).
void recycle(object* o)
{
    if (o->fd >= 0)
        ::close(o->fd);
    o->fd = -1;
    // Every path that drops the last reference joins or detaches first.
    if (o->thread.joinable())
        o->thread.detach();
    table& t = handles();
    std::lock_guard<table_lock> guard(t.lock);
    o->reset(kind::event);
    t.pool.push_back(o);
}

// Enters o into the table (lock held); null when it is full.
HANDLE insert(table& t, object* o)
{
    uint32_t index;
    if (t.free.size() > reuse_distance || (t.fresh == slot_count && !t.free.empty())) {
        index = t.free.front();
        t.free.pop_front();
    } else if (t.fresh < slot_count) {
        index = t.fresh;
        std::atomic<slot*>& chunk = t.chunks[index >> chunk_bits];
        if (!chunk.load(std::memory_order_relaxed)) {
            slot* fresh_chunk = new (std::nothrow) slot[chunk_size];
            if (!fresh_chunk)
                return nullptr;
            chunk.store(fresh_chunk, std::memory_order_release);
        }
        ++t.fresh;
    } else {
        return nullptr;
    }
    slot& s = t.chunks[index >> chunk_bits].load(std::memory_order_relaxed)[index & (chunk_size - 1)];
    const uintptr_t serial = (static_cast<uintptr_t>(s.generation) << slot_bits) | index;
    o->value = 0x100 + (serial << 2);
    s.target.store(o, std::memory_order_release); // after the value: fast paths check it
    return reinterpret_cast<HANDLE>(uintptr_t(o->value));
}

// Takes o out of the table (lock held).
void remove(table& t, object* o)
{
    const uintptr_t serial = (o->value - 0x100) >> 2;
    const uint32_t index = static_cast<uint32_t>(serial & (slot_count - 1));
    slot& s = t.chunks[index >> chunk_bits].load(std::memory_order_relaxed)[index & (chunk_size - 1)];
    o->value = 0;
    s.target.store(nullptr, std::memory_order_release);
    ++s.generation;
    t.free.push_back(index);
}

// Drops a reference (lock held); true when it was the last: the caller
// deletes the object once the lock is released.
bool unref(object* o) { return --o->refs == 0; }

bool is_signalled(const object& o)
{
    switch (o.type) {
    case kind::event:
        return o.signalled;
    case kind::semaphore:
        return o.count > 0;
    case kind::thread:
        return o.finished;
    }
    return false;
}

// Makes the eventfd if there is none yet (lock held).
bool ensure_fd(object& o)
{
    if (o.fd >= 0)
        return true;
    o.fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    o.fd_ready = false;
    return o.fd >= 0;
}

// Brings the eventfd in line with the state (lock held).
void sync_fd(object& o)
{
    if ((o.pollers == 0 && !o.exported) || o.fd < 0)
        return;
    bool want = is_signalled(o);
    if (want == o.fd_ready)
        return;
    if (want) {
        uint64_t one = 1;
        while (::write(o.fd, &one, sizeof one) < 0 && errno == EINTR) {}
    } else {
        uint64_t value;
        while (::read(o.fd, &value, sizeof value) < 0 && errno == EINTR) {}
    }
    o.fd_ready = want;
}

// Takes what a successful wait wins (lock held).
void consume(object& o)
{
    if (o.type == kind::event && !o.manual_reset)
        o.signalled = false;
    else if (o.type == kind::semaphore)
        --o.count;
}

// The outcome of a wait on these objects now, consuming what it wins (lock
// held): the lowest signalled index for wait-any, all or nothing for wait-all.
// WAIT_TIMEOUT when it is not satisfied.
DWORD try_satisfy(object* const* objects, DWORD count, bool wait_all)
{
    if (!wait_all) {
        for (DWORD i = 0; i < count; ++i) {
            if (objects[i] && is_signalled(*objects[i])) {
                consume(*objects[i]);
                sync_fd(*objects[i]);
                return WAIT_OBJECT_0 + i;
            }
        }
        return WAIT_TIMEOUT;
    }
    for (DWORD i = 0; i < count; ++i)
        if (!objects[i] || !is_signalled(*objects[i]))
            return WAIT_TIMEOUT;
    for (DWORD i = 0; i < count; ++i) {
        consume(*objects[i]);
        sync_fd(*objects[i]);
    }
    return WAIT_OBJECT_0;
}

void enqueue(waiter& w)
{
    for (DWORD i = 0; i < w.count; ++i) {
        object* o = w.objects[i];
        link& l = w.links[i];
        l.owner = &w;
        l.target = o;
        if (!o)
            continue;
        l.prev = o->last;
        l.next = nullptr;
        (o->last ? o->last->next : o->first) = &l;
        o->last = &l;
    }
}

void dequeue(waiter& w)
{
    for (DWORD i = 0; i < w.count; ++i) {
        link& l = w.links[i];
        object* o = l.target;
        if (!o)
            continue;
        (l.prev ? l.prev->next : o->first) = l.next;
        (l.next ? l.next->prev : o->last) = l.prev;
        l.target = nullptr;
    }
}

// Waits to wake once the lock is released (a futex wake is a system call).
struct wake_list {
    std::array<std::atomic<uint32_t>*, 16> words;
    size_t size = 0;

    void add(std::atomic<uint32_t>* word)
    {
        if (size == words.size())
            flush();
        words[size++] = word;
    }
    void flush()
    {
        for (size_t i = 0; i < size; ++i)
            futex(words[i], FUTEX_WAKE_PRIVATE, 1);
        size = 0;
    }
};

// o may have become signalled: satisfies its queued waits in order while it
// stays signalled (lock held).
void satisfy_waiters(object& o, wake_list& wakes)
{
    for (link* l = o.first; l && is_signalled(o);) {
        waiter& w = *l->owner;
        l = l->next;
        const DWORD result = try_satisfy(w.objects, w.count, w.wait_all);
        if (result == WAIT_TIMEOUT)
            continue;
        // The following link may belong to w as well (a handle twice in a
        // wait-any): step past everything of w before it leaves the queues.
        while (l && l->owner == &w)
            l = l->next;
        dequeue(w);
        w.result = result;
        if (w.word.exchange(1, std::memory_order_acq_rel) == 2)
            wakes.add(&w.word);
    }
    sync_fd(o);
}

// After a state change (lock held).
void signalled_changed(object& o, wake_list& wakes)
{
    if (o.first && is_signalled(o))
        satisfy_waiters(o, wakes);
    else
        sync_fd(o);
}

// Sleeps until w is satisfied or the deadline passes; true when satisfied.
bool sleep_on(waiter& w, const timespec* deadline)
{
    uint32_t expected = 0;
    if (!w.word.compare_exchange_strong(expected, 2, std::memory_order_acq_rel))
        return true; // satisfied before it slept
    for (;;) {
        const long r = futex(&w.word, FUTEX_WAIT_BITSET_PRIVATE, 2u, deadline, FUTEX_BITSET_MATCH_ANY);
        if (w.word.load(std::memory_order_acquire) == 1)
            return true;
        if (r != 0 && errno == ETIMEDOUT)
            return false;
        // Woken by chance or by a signal: sleep on.
    }
}

timespec deadline_after(DWORD milliseconds)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    timespec at;
    const long long ns = static_cast<long long>(now.tv_nsec) + static_cast<long long>(milliseconds % 1000) * 1000000;
    at.tv_sec = now.tv_sec + static_cast<time_t>(milliseconds / 1000) + static_cast<time_t>(ns / 1000000000);
    at.tv_nsec = static_cast<long>(ns % 1000000000);
    return at;
}

// Drops the references a blocked wait held and deletes what nobody holds
// any more.
void release_all(object* const* objects, DWORD count, std::unique_lock<table_lock>& held)
{
    std::array<object*, MAXIMUM_WAIT_OBJECTS> dead;
    size_t ndead = 0;
    if (!held.owns_lock())
        held.lock();
    for (DWORD i = 0; i < count; ++i)
        if (objects[i] && unref(objects[i]))
            dead[ndead++] = objects[i];
    held.unlock();
    for (size_t i = 0; i < ndead; ++i)
        recycle(dead[i]);
}

// The blocking part of a wait whose objects carry outstanding socket
// operations: the eventfds and the sockets in one poll (lock held on entry,
// released on return).
DWORD poll_wait(object* const* objects, DWORD count, bool wait_all, DWORD milliseconds,
                std::unique_lock<table_lock>& held)
{
    const bool infinite = milliseconds == INFINITE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    struct io_wait {
        vx_win32::io_complete_fn complete;
        uint64_t token;
    };
    std::array<pollfd, 2 * MAXIMUM_WAIT_OBJECTS> fds;
    std::array<io_wait, MAXIMUM_WAIT_OBJECTS> ios;     // parallel to the tail of fds
    std::array<object*, MAXIMUM_WAIT_OBJECTS> watched; // whose eventfds the last poll watched
    size_t nwatched = 0;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        if (!held.owns_lock())
            held.lock();
        result = try_satisfy(objects, count, wait_all);
        if (result != WAIT_TIMEOUT)
            break;
        int timeout_ms = -1;
        if (!infinite) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
                break;
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
            timeout_ms = static_cast<int>((left + 999) / 1000);
        }
        // Poll only what is not signalled yet (so a signalled manual-reset event
        // in a wait-all does not spin), plus outstanding socket operations.
        size_t nfds = 0;
        for (DWORD i = 0; i < count; ++i) {
            object* o = objects[i];
            if (o && !is_signalled(*o)) {
                if (!ensure_fd(*o)) {
                    result = vx_win32::fail_errno(WAIT_FAILED);
                    break;
                }
                if (o->pollers++ == 0)
                    sync_fd(*o);
                watched[nwatched++] = o;
                fds[nfds++] = {o->fd, POLLIN, 0};
            }
        }
        if (result == WAIT_FAILED)
            break;
        const size_t first_io = nfds;
        for (DWORD i = 0; i < count; ++i) {
            if (objects[i] && objects[i]->io_fd >= 0) {
                ios[nfds - first_io] = {objects[i]->io_complete, objects[i]->io_token};
                fds[nfds++] = {objects[i]->io_fd, objects[i]->io_events, 0};
            }
        }
        held.unlock();
        const int n = ::poll(fds.data(), nfds, timeout_ms);
        const int e = errno;
        // The eventfds are watched no longer before the completions below
        // signal their events: a write to the eventfd now (and a read to
        // clear it at the next poll) would only cost two system calls per
        // operation, unless another wait polls it too.
        held.lock();
        for (size_t k = 0; k < nwatched; ++k)
            --watched[k]->pollers;
        nwatched = 0;
        if (n < 0 && e != EINTR) {
            errno = e;
            result = vx_win32::fail_errno(WAIT_FAILED);
            break;
        }
        held.unlock();
        for (size_t k = first_io; n > 0 && k < nfds; ++k) {
            if (fds[k].revents != 0)
                ios[k - first_io].complete(ios[k - first_io].token);
        }
    }
    for (size_t k = 0; k < nwatched; ++k)
        --watched[k]->pollers;
    return result;
}

std::atomic<DWORD> next_thread_id{1000};
thread_local DWORD t_thread_id = 0;

HANDLE start_thread(DWORD (*entry)(void*), unsigned (*entry_ex)(void*), void* arg, DWORD flags, DWORD* id_out)
{
    if (flags & CREATE_SUSPENDED)
        return vx_win32::fail(ERROR_NOT_SUPPORTED, HANDLE{nullptr});
    DWORD id = next_thread_id.fetch_add(1);
    table& t = handles();
    std::unique_lock<table_lock> held(t.lock);
    object* o = make_object(t, kind::thread);
    if (!o)
        return vx_win32::fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE{nullptr});
    HANDLE h = insert(t, o);
    if (!h) {
        t.pool.push_back(o);
        return vx_win32::fail(ERROR_TOO_MANY_OPEN_FILES, HANDLE{nullptr});
    }
    try {
        // The thread holds its own reference, so the object outlives CloseHandle.
        ++o->refs;
        o->thread = std::thread([o, entry, entry_ex, arg, id] {
            t_thread_id = id;
            DWORD code = entry ? entry(arg) : entry_ex(arg);
            wake_list wakes;
            bool last;
            {
                std::lock_guard<table_lock> g(handles().lock);
                o->exit_code = code;
                o->finished = true;
                signalled_changed(*o, wakes);
                last = unref(o);
            }
            wakes.flush();
            if (last)
                recycle(o);
        });
    } catch (const std::system_error& e) {
        remove(t, o);
        t.pool.push_back(o);
        errno = e.code().value() ? e.code().value() : EAGAIN;
        return vx_win32::fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE{nullptr});
    }
    if (id_out)
        *id_out = id;
    return h;
}

// A new event or semaphore, set up by init under the lock.
template <class Init> HANDLE create_object(kind k, Init&& init)
{
    table& t = handles();
    std::lock_guard<table_lock> guard(t.lock);
    object* o = make_object(t, k);
    if (!o)
        return vx_win32::fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE{nullptr});
    init(*o);
    HANDLE h = insert(t, o);
    if (!h) {
        t.pool.push_back(o);
        return vx_win32::fail(ERROR_TOO_MANY_OPEN_FILES, HANDLE{nullptr});
    }
    return h;
}

} // namespace

namespace vx_win32 {

bool event_attach_io(HANDLE event, int fd, short poll_events, io_complete_fn complete, uint64_t token)
{
    table& t = handles();
    std::lock_guard<table_lock> guard(t.lock);
    object* o = lookup(t, event);
    if (!o || o->type != kind::event)
        return false;
    o->io_fd = fd;
    o->io_events = poll_events;
    o->io_complete = complete;
    o->io_token = token;
    return true;
}

void event_detach_io(HANDLE event, uint64_t token)
{
    table& t = handles();
    std::lock_guard<table_lock> guard(t.lock);
    object* o = lookup(t, event);
    if (o && o->io_token == token && o->io_fd >= 0) {
        o->io_fd = -1;
        o->io_complete = nullptr;
    }
}

bool handle_is_open(HANDLE handle)
{
    table& t = handles();
    std::lock_guard<table_lock> guard(t.lock);
    return lookup(t, handle) != nullptr;
}

} // namespace vx_win32

BOOL CloseHandle(HANDLE handle)
{
    using namespace vx_win32;
    if (handle == std_input_handle || handle == std_output_handle || handle == std_error_handle ||
        handle == current_thread_handle)
        return TRUE;
    table& t = handles();
    std::unique_lock<table_lock> held(t.lock);
    object* o = lookup(t, handle);
    if (!o)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    remove(t, o);
    if (o->type == kind::thread && !o->finished && o->thread.joinable())
        o->thread.detach(); // a running thread goes on without its handle
    if (o->type == kind::thread && o->thread.joinable()) {
        // A finished thread is joined (outside the lock: it may still be leaving).
        held.unlock();
        o->thread.join();
        held.lock();
    }
    const bool last = unref(o);
    held.unlock();
    if (last)
        recycle(o);
    return TRUE;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCSTR name)
{
    if (name && *name)
        return vx_win32::fail(ERROR_NOT_SUPPORTED, HANDLE{nullptr});
    return create_object(kind::event, [&](object& o) {
        o.manual_reset = manual_reset != FALSE;
        o.signalled = initial_state != FALSE;
    });
}

static BOOL set_event_state(HANDLE event, bool state)
{
    table& t = handles();
    glance g;
    if (peek(t, event, g) && g.type == kind::event && g.signalled == state)
        return TRUE; // nothing to change
    wake_list wakes;
    {
        std::lock_guard<table_lock> guard(t.lock);
        object* o = lookup(t, event);
        if (!o || o->type != kind::event)
            return vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
        if (o->signalled == state)
            return TRUE;
        o->signalled = state;
        signalled_changed(*o, wakes);
    }
    wakes.flush();
    return TRUE;
}

BOOL SetEvent(HANDLE event) { return set_event_state(event, true); }
BOOL ResetEvent(HANDLE event) { return set_event_state(event, false); }

BOOL vx_set_events(const HANDLE* events, DWORD count)
{
    table& t = handles();
    wake_list wakes;
    BOOL all = TRUE;
    {
        std::lock_guard<table_lock> guard(t.lock);
        for (DWORD i = 0; i < count; ++i) {
            object* o = lookup(t, events[i]);
            if (!o || o->type != kind::event) {
                all = FALSE;
                continue;
            }
            o->signalled = true;
        }
        // Only now do waiters learn of it.
        for (DWORD i = 0; i < count; ++i) {
            object* o = lookup(t, events[i]);
            if (o && o->type == kind::event)
                signalled_changed(*o, wakes);
        }
    }
    wakes.flush();
    return all ? TRUE : vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
}

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initial_count, LONG maximum_count, LPCSTR name)
{
    if (name && *name)
        return vx_win32::fail(ERROR_NOT_SUPPORTED, HANDLE{nullptr});
    if (maximum_count <= 0 || initial_count < 0 || initial_count > maximum_count)
        return vx_win32::fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
    return create_object(kind::semaphore, [&](object& o) {
        o.count = initial_count;
        o.maximum = maximum_count;
    });
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LPLONG previous_count)
{
    table& t = handles();
    wake_list wakes;
    {
        std::lock_guard<table_lock> guard(t.lock);
        object* o = lookup(t, semaphore);
        if (!o || o->type != kind::semaphore)
            return vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
        if (release_count <= 0)
            return vx_win32::fail(ERROR_INVALID_PARAMETER, FALSE);
        if (release_count > o->maximum - o->count)
            return vx_win32::fail(ERROR_TOO_MANY_POSTS, FALSE);
        if (previous_count)
            *previous_count = o->count;
        o->count += release_count;
        signalled_changed(*o, wakes);
    }
    wakes.flush();
    return TRUE;
}

namespace {

// A zero-time wait on one object by reading its state: WAIT_OBJECT_0 or
// WAIT_TIMEOUT, or WAIT_FAILED when the wait has to take something (an
// auto-reset event's signal, a semaphore's count) or the handle is not
// plainly valid: then the locked path decides.
DWORD test_state(table& t, HANDLE handle)
{
    glance g;
    if (!peek(t, handle, g))
        return WAIT_FAILED;
    if (!g.signalled)
        return WAIT_TIMEOUT;
    if (g.type == kind::thread || (g.type == kind::event && g.manual_reset))
        return WAIT_OBJECT_0;
    return WAIT_FAILED;
}

DWORD wait_locked(table& t, DWORD count, const HANDLE* list, BOOL wait_all, DWORD milliseconds);

} // namespace

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* list, BOOL wait_all, DWORD milliseconds)
{
    using vx_win32::fail;
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || list == nullptr)
        return fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    table& t = handles();
    if (count == 1 && milliseconds == 0) {
        const DWORD result = test_state(t, list[0]);
        if (result != WAIT_FAILED)
            return result;
    }
    return wait_locked(t, count, list, wait_all, milliseconds);
}

namespace {

DWORD wait_locked(table& t, DWORD count, const HANDLE* list, BOOL wait_all, DWORD milliseconds)
{
    using vx_win32::fail;
    std::array<object*, MAXIMUM_WAIT_OBJECTS> objects;
    std::unique_lock<table_lock> held(t.lock);
    // A null entry is INVALID_HANDLE_VALUE, the never-signalled current process.
    bool io = false;
    for (DWORD i = 0; i < count; ++i) {
        if (list[i] == INVALID_HANDLE_VALUE) {
            objects[i] = nullptr;
            continue;
        }
        objects[i] = lookup(t, list[i]);
        if (!objects[i])
            return fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
        io = io || objects[i]->io_fd >= 0;
        if (wait_all) {
            for (DWORD j = 0; j < i; ++j) {
                if (list[j] == list[i])
                    return fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
            }
        }
    }
    const bool all = wait_all != FALSE;
    DWORD result = try_satisfy(objects.data(), count, all);
    if (result != WAIT_TIMEOUT || milliseconds == 0)
        return result;

    // It blocks: the objects stay alive for this wait even if closed meanwhile.
    for (DWORD i = 0; i < count; ++i)
        if (objects[i])
            ++objects[i]->refs;
    if (io) {
        result = poll_wait(objects.data(), count, all, milliseconds, held);
        release_all(objects.data(), count, held);
        return result;
    }
    waiter w;
    w.count = count;
    w.objects = objects.data();
    w.wait_all = all;
    enqueue(w);
    held.unlock();
    timespec deadline{};
    if (milliseconds != INFINITE)
        deadline = deadline_after(milliseconds);
    const bool satisfied = sleep_on(w, milliseconds == INFINITE ? nullptr : &deadline);
    held.lock();
    if (satisfied || w.word.load(std::memory_order_acquire) == 1) {
        result = w.result;
    } else {
        dequeue(w);
        result = WAIT_TIMEOUT;
    }
    release_all(objects.data(), count, held);
    return result;
}

} // namespace

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    table& t = handles();
    if (milliseconds == 0) {
        const DWORD result = test_state(t, handle);
        if (result != WAIT_FAILED)
            return result;
    }
    return wait_locked(t, 1, &handle, FALSE, milliseconds);
}

uintptr_t _beginthreadex(void*, unsigned, unsigned (*start_address)(void*), void* arglist, unsigned initflag,
                         unsigned* thread_id)
{
    if (!start_address) {
        errno = EINVAL;
        return vx_win32::fail(ERROR_INVALID_PARAMETER, uintptr_t{0});
    }
    DWORD id = 0;
    HANDLE h = start_thread(nullptr, start_address, arglist, initflag, &id);
    if (h && thread_id)
        *thread_id = id;
    return reinterpret_cast<uintptr_t>(h);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start_address, LPVOID parameter,
                    DWORD creation_flags, LPDWORD thread_id)
{
    if (!start_address)
        return vx_win32::fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
    return start_thread(start_address, nullptr, parameter, creation_flags, thread_id);
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code)
{
    table& t = handles();
    std::lock_guard<table_lock> guard(t.lock);
    object* o = lookup(t, thread);
    if (!o || o->type != kind::thread)
        return vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
    if (!exit_code)
        return vx_win32::fail(ERROR_INVALID_PARAMETER, FALSE);
    *exit_code = o->exit_code;
    return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int) { return thread ? TRUE : vx_win32::fail(ERROR_INVALID_HANDLE, FALSE); }

HANDLE GetCurrentThread() { return vx_win32::current_thread_handle; }

DWORD GetCurrentThreadId()
{
    if (t_thread_id == 0)
        t_thread_id = next_thread_id.fetch_add(1);
    return t_thread_id;
}

int vx_handle_fd(HANDLE handle)
{
    table& t = handles();
    std::lock_guard<table_lock> guard(t.lock);
    object* o = lookup(t, handle);
    if (!o)
        return -1;
    if (!ensure_fd(*o))
        return vx_win32::fail_errno(-1);
    o->exported = true;
    sync_fd(*o);
    return o->fd;
}
