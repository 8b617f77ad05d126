// Process-wide handle table: events, semaphores, threads and the waits on them.
//
// One lock guards the table and every object's state. Each object owns an
// eventfd; waits check the state under the lock, and otherwise poll the
// eventfds (plus the sockets of outstanding operations attached to events)
// without the lock. The eventfd is kept readable exactly while the object is
// signalled whenever someone may look at it: a wait that polls it, or a
// caller that took it with vx_handle_fd. With nobody polling, state changes
// cost no system call; a wait brings the eventfd in line before it polls.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "internal.h"
#include "win32/error.h"
#include "win32/sync.h"

namespace {

enum class kind { event, semaphore, thread };

struct object {
  kind type;
  int fd = -1;           // eventfd, readable while signalled (while watched)
  bool fd_ready = false; // what the eventfd currently shows
  int pollers = 0;       // waits polling the eventfd now
  bool exported = false; // handed out by vx_handle_fd: always kept in line
  // event
  bool manual_reset = false;
  bool signalled = false;
  // semaphore
  LONG count = 0;
  LONG maximum = 0;
  // thread
  bool finished = false;
  DWORD exit_code = STILL_ACTIVE;
  std::thread thread;
  // outstanding socket operation attached to an event
  int io_fd = -1;
  short io_events = 0;
  vx_win32::io_complete_fn io_complete = nullptr;
  uint64_t io_token = 0;

  explicit object(kind k) : type(k) {}
  ~object() {
    if (fd >= 0)
      ::close(fd);
    // Every path that drops the last table reference joins or detaches first.
    if (thread.joinable())
      thread.detach();
  }
};

struct table {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<object>> objects;
  uintptr_t next = 0x100; // handle values step by 4, as on Windows, and are not reused soon
};

// Never destroyed: threads may still use it while the process exits.
table& handles() {
  static table* t = new table;
  return *t;
}

bool is_signalled(const object& o) {
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

// Brings the eventfd in line with the state (table lock held).
void sync_fd(object& o) {
  if (o.pollers == 0 && !o.exported)
    return;
  bool want = is_signalled(o);
  if (want == o.fd_ready)
    return;
  if (want) {
    uint64_t one = 1;
    while (::write(o.fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
  } else {
    uint64_t value;
    while (::read(o.fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
  }
  o.fd_ready = want;
}

// Takes what a successful wait wins (table lock held).
void consume(object& o) {
  if (o.type == kind::event && !o.manual_reset)
    o.signalled = false;
  else if (o.type == kind::semaphore)
    --o.count;
  sync_fd(o);
}

object* lookup_raw(HANDLE h) {
  auto it = handles().objects.find(reinterpret_cast<uintptr_t>(h));
  return it == handles().objects.end() ? nullptr : it->second.get();
}

std::shared_ptr<object> lookup(HANDLE h) {
  auto it = handles().objects.find(reinterpret_cast<uintptr_t>(h));
  return it == handles().objects.end() ? nullptr : it->second;
}

HANDLE insert(std::shared_ptr<object> o) {
  table& t = handles();
  uintptr_t value;
  do {
    value = t.next;
    t.next = t.next + 4 < 0x100 ? 0x100 : t.next + 4;
  } while (t.objects.count(value) != 0);
  t.objects.emplace(value, std::move(o));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<object> make_object(kind k) {
  auto o = std::make_shared<object>(k);
  o->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (o->fd < 0)
    return nullptr;
  return o;
}

std::atomic<DWORD> next_thread_id{1000};
thread_local DWORD t_thread_id = 0;

HANDLE start_thread(DWORD (*entry)(void*), unsigned (*entry_ex)(void*), void* arg, DWORD flags, DWORD* id_out) {
  if (flags & CREATE_SUSPENDED)
    return vx_win32::fail(ERROR_NOT_SUPPORTED, HANDLE{nullptr});
  auto o = make_object(kind::thread);
  if (!o)
    return vx_win32::fail_errno(HANDLE{nullptr});
  DWORD id = next_thread_id.fetch_add(1);
  table& t = handles();
  std::lock_guard<std::mutex> guard(t.lock);
  try {
    // The thread holds its own reference, so the object outlives CloseHandle.
    o->thread = std::thread([o, entry, entry_ex, arg, id] {
      t_thread_id = id;
      DWORD code = entry ? entry(arg) : entry_ex(arg);
      std::lock_guard<std::mutex> g(handles().lock);
      o->exit_code = code;
      o->finished = true;
      sync_fd(*o);
    });
  } catch (const std::system_error& e) {
    errno = e.code().value() ? e.code().value() : EAGAIN;
    return vx_win32::fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE{nullptr});
  }
  if (id_out)
    *id_out = id;
  return insert(std::move(o));
}

bool time_left(std::chrono::steady_clock::time_point deadline, bool infinite, int& timeout_ms) {
  if (infinite) {
    timeout_ms = -1;
    return true;
  }
  auto now = std::chrono::steady_clock::now();
  if (now >= deadline)
    return false;
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
  timeout_ms = static_cast<int>((left + 999) / 1000);
  return true;
}

} // namespace

namespace vx_win32 {

bool event_attach_io(HANDLE event, int fd, short poll_events, io_complete_fn complete, uint64_t token) {
  std::lock_guard<std::mutex> guard(handles().lock);
  auto o = lookup(event);
  if (!o || o->type != kind::event)
    return false;
  o->io_fd = fd;
  o->io_events = poll_events;
  o->io_complete = complete;
  o->io_token = token;
  return true;
}

void event_detach_io(HANDLE event, uint64_t token) {
  std::lock_guard<std::mutex> guard(handles().lock);
  auto o = lookup(event);
  if (o && o->io_token == token && o->io_fd >= 0) {
    o->io_fd = -1;
    o->io_complete = nullptr;
  }
}

} // namespace vx_win32

BOOL CloseHandle(HANDLE handle) {
  using namespace vx_win32;
  if (handle == std_input_handle || handle == std_output_handle || handle == std_error_handle ||
      handle == current_thread_handle)
    return TRUE;
  std::shared_ptr<object> o;
  {
    std::lock_guard<std::mutex> guard(handles().lock);
    auto it = handles().objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles().objects.end())
      return fail(ERROR_INVALID_HANDLE, FALSE);
    o = std::move(it->second);
    handles().objects.erase(it);
    if (o->type == kind::thread && !o->finished && o->thread.joinable())
      o->thread.detach(); // a running thread goes on without its handle
  }
  // A finished thread is joined (outside the lock: it may still be leaving).
  if (o->type == kind::thread && o->thread.joinable())
    o->thread.join();
  return TRUE;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
  if (name && *name)
    return vx_win32::fail(ERROR_NOT_SUPPORTED, HANDLE{nullptr});
  auto o = make_object(kind::event);
  if (!o)
    return vx_win32::fail_errno(HANDLE{nullptr});
  o->manual_reset = manual_reset != FALSE;
  o->signalled = initial_state != FALSE;
  std::lock_guard<std::mutex> guard(handles().lock);
  sync_fd(*o);
  return insert(std::move(o));
}

static BOOL set_event_state(HANDLE event, bool state) {
  std::lock_guard<std::mutex> guard(handles().lock);
  auto o = lookup(event);
  if (!o || o->type != kind::event)
    return vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
  o->signalled = state;
  sync_fd(*o);
  return TRUE;
}

BOOL SetEvent(HANDLE event) { return set_event_state(event, true); }

BOOL vx_set_events(const HANDLE* events, DWORD count) {
  std::lock_guard<std::mutex> guard(handles().lock);
  BOOL all = TRUE;
  for (DWORD i = 0; i < count; ++i) {
    auto it = handles().objects.find(reinterpret_cast<uintptr_t>(events[i]));
    if (it == handles().objects.end() || it->second->type != kind::event) {
      all = FALSE;
      continue;
    }
    it->second->signalled = true;
  }
  // Only now do waiters learn of it.
  for (DWORD i = 0; i < count; ++i) {
    auto it = handles().objects.find(reinterpret_cast<uintptr_t>(events[i]));
    if (it != handles().objects.end() && it->second->type == kind::event)
      sync_fd(*it->second);
  }
  return all ? TRUE : vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
}
BOOL ResetEvent(HANDLE event) { return set_event_state(event, false); }

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initial_count, LONG maximum_count, LPCSTR name) {
  if (name && *name)
    return vx_win32::fail(ERROR_NOT_SUPPORTED, HANDLE{nullptr});
  if (maximum_count <= 0 || initial_count < 0 || initial_count > maximum_count)
    return vx_win32::fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
  auto o = make_object(kind::semaphore);
  if (!o)
    return vx_win32::fail_errno(HANDLE{nullptr});
  o->count = initial_count;
  o->maximum = maximum_count;
  std::lock_guard<std::mutex> guard(handles().lock);
  sync_fd(*o);
  return insert(std::move(o));
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LPLONG previous_count) {
  std::lock_guard<std::mutex> guard(handles().lock);
  auto o = lookup(semaphore);
  if (!o || o->type != kind::semaphore)
    return vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
  if (release_count <= 0)
    return vx_win32::fail(ERROR_INVALID_PARAMETER, FALSE);
  if (release_count > o->maximum - o->count)
    return vx_win32::fail(ERROR_TOO_MANY_POSTS, FALSE);
  if (previous_count)
    *previous_count = o->count;
  o->count += release_count;
  sync_fd(*o);
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* list, BOOL wait_all, DWORD milliseconds) {
  using vx_win32::fail;
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || list == nullptr)
    return fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
  const bool infinite = milliseconds == INFINITE;
  const bool immediate = milliseconds == 0; // a test of the state only: no clock needed
  // The clock is read only when the wait has to block.
  std::chrono::steady_clock::time_point deadline{};
  bool deadline_set = infinite || immediate;

  // Resolve once: the objects stay alive for this wait even if closed meanwhile.
  // A null entry is INVALID_HANDLE_VALUE, the never-signalled current process.
  // Waits are frequent and mostly on one or two handles: those stay off the
  // heap. The first check of the states runs under the same hold of the lock.
  if (immediate && !wait_all) {
    // A test of the states only: the lock is held throughout, so the
    // objects need no reference of their own.
    std::lock_guard<std::mutex> guard(handles().lock);
    for (DWORD i = 0; i < count; ++i) {
      if (list[i] != INVALID_HANDLE_VALUE && !lookup_raw(list[i]))
        return fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    }
    for (DWORD i = 0; i < count; ++i) {
      object* o = list[i] == INVALID_HANDLE_VALUE ? nullptr : lookup_raw(list[i]);
      if (o && is_signalled(*o)) {
        consume(*o);
        return WAIT_OBJECT_0 + i;
      }
    }
    return WAIT_TIMEOUT;
  }
  std::array<std::shared_ptr<object>, 4> few;
  std::vector<std::shared_ptr<object>> many;
  if (count > few.size())
    many.resize(count);
  std::shared_ptr<object>* objects = count > few.size() ? many.data() : few.data();
  std::unique_lock<std::mutex> held(handles().lock);
  {
    for (DWORD i = 0; i < count; ++i) {
      if (list[i] == INVALID_HANDLE_VALUE)
        continue;
      objects[i] = lookup(list[i]);
      if (!objects[i])
        return fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
      if (wait_all) {
        for (DWORD j = 0; j < i; ++j) {
          if (list[j] == list[i])
            return fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
        }
      }
    }
  }

  struct io_wait {
    vx_win32::io_complete_fn complete;
    uint64_t token;
  };
  std::array<pollfd, 2 * MAXIMUM_WAIT_OBJECTS> fds;
  std::array<io_wait, MAXIMUM_WAIT_OBJECTS> ios; // parallel to the tail of fds
  std::array<object*, MAXIMUM_WAIT_OBJECTS> watched; // whose eventfds the last poll watched
  size_t nwatched = 0;
  for (;;) {
    size_t first_io = 0;
    size_t nfds = 0;
    int timeout_ms = -1;
    {
      if (!held.owns_lock())
        held.lock();
      for (size_t k = 0; k < nwatched; ++k)
        --watched[k]->pollers;
      nwatched = 0;
      if (!wait_all) {
        for (DWORD i = 0; i < count; ++i) {
          if (objects[i] && is_signalled(*objects[i])) {
            consume(*objects[i]);
            return WAIT_OBJECT_0 + i;
          }
        }
      } else {
        bool all = true;
        for (DWORD i = 0; i < count && all; ++i)
          all = objects[i] && is_signalled(*objects[i]);
        if (all) {
          for (DWORD i = 0; i < count; ++i)
            consume(*objects[i]);
          return WAIT_OBJECT_0;
        }
      }
      // Nothing signalled and no time left (a zero time-out, above all): done
      // without building the poll set.
      if (!deadline_set) {
        deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        deadline_set = true;
      }
      if (immediate || !time_left(deadline, infinite, timeout_ms))
        return WAIT_TIMEOUT;
      // Poll only what is not signalled yet (so a signalled manual-reset event
      // in a wait-all does not spin), plus outstanding socket operations.
      for (DWORD i = 0; i < count; ++i) {
        if (objects[i] && !is_signalled(*objects[i])) {
          object& o = *objects[i];
          if (o.pollers++ == 0)
            sync_fd(o);
          watched[nwatched++] = &o;
          fds[nfds++] = {o.fd, POLLIN, 0};
        }
      }
      first_io = nfds;
      for (DWORD i = 0; i < count; ++i) {
        if (objects[i] && objects[i]->io_fd >= 0) {
          ios[nfds - first_io] = {objects[i]->io_complete, objects[i]->io_token};
          fds[nfds++] = {objects[i]->io_fd, objects[i]->io_events, 0};
        }
      }
      held.unlock();
    }
    int n = ::poll(fds.data(), nfds, timeout_ms);
    if (n < 0 && errno != EINTR) {
      const int e = errno;
      held.lock();
      for (size_t k = 0; k < nwatched; ++k)
        --watched[k]->pollers;
      errno = e;
      return vx_win32::fail_errno(WAIT_FAILED);
    }
    for (size_t k = first_io; n > 0 && k < nfds; ++k) {
      if (fds[k].revents != 0)
        ios[k - first_io].complete(ios[k - first_io].token);
    }
  }
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

uintptr_t _beginthreadex(void*, unsigned, unsigned (*start_address)(void*), void* arglist, unsigned initflag,
                         unsigned* thread_id) {
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
                    DWORD creation_flags, LPDWORD thread_id) {
  if (!start_address)
    return vx_win32::fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
  return start_thread(start_address, nullptr, parameter, creation_flags, thread_id);
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
  std::lock_guard<std::mutex> guard(handles().lock);
  auto o = lookup(thread);
  if (!o || o->type != kind::thread)
    return vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
  if (!exit_code)
    return vx_win32::fail(ERROR_INVALID_PARAMETER, FALSE);
  *exit_code = o->exit_code;
  return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int) { return thread ? TRUE : vx_win32::fail(ERROR_INVALID_HANDLE, FALSE); }

HANDLE GetCurrentThread() { return vx_win32::current_thread_handle; }

DWORD GetCurrentThreadId() {
  if (t_thread_id == 0)
    t_thread_id = next_thread_id.fetch_add(1);
  return t_thread_id;
}

int vx_handle_fd(HANDLE handle) {
  std::lock_guard<std::mutex> guard(handles().lock);
  auto o = lookup(handle);
  if (!o)
    return -1;
  o->exported = true;
  sync_fd(*o);
  return o->fd;
}
