// Base of the servers' worker threads: the derived class supplies the loop as
// thread_function; the base owns the thread, a stop request that every wait
// of the loop observes, and keeps every exception inside the thread.
#pragma once

#include "qm/exception.h"
#include "qm/handle.h"

#include <windows.h>

#include <atomic>

namespace qm::proc {

class thread_t {
protected:
    // The loop body (first virtual slot, before the destructor).
    virtual void thread_function() = 0;

public:
    thread_t();
    // Stops the thread and releases it. A derived class whose loop uses its
    // own members must call stop() in its own destructor.
    virtual ~thread_t();

    thread_t(const thread_t&) = delete;
    thread_t& operator=(const thread_t&) = delete;

    // Starts the loop; does nothing while it is running.
    void start();
    // Asks the loop to stop and returns once the thread has ended.
    void stop();

    // Called from the loop only. Waits up to the time on the stop request:
    // false when the time ran out; throws thread_stop_exception_t on a stop.
    bool sleep(DWORD milliseconds);
    // Waits for the handle or the stop request: true for the handle (which wins
    // when both are signalled), false on time-out, thread_stop_exception_t on a stop.
    bool wait_for_objects(HANDLE handle, DWORD milliseconds);

    // Set by start, cleared by the thread when its loop ends.
    std::atomic<bool> running{false};

protected:
    wapi::handle_t stop_event;

private:
    static unsigned entry(void* object);
    // Waits for a previous thread to end and releases its handle.
    void release_thread();

    wapi::handle_t thread;
};

} // namespace qm::proc
