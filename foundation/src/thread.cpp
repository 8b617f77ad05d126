#include "qm/thread.h"

#include <windows.h>

#include <cstdint>

namespace qm::proc {

thread_t::thread_t()
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        throw wapi::exception_t();
    stop_event.reset(event);
}

thread_t::~thread_t()
{
    try {
        stop();
    } catch (...) {}
    try {
        release_thread();
    } catch (...) {}
}

unsigned thread_t::entry(void* object)
{
    if (!object)
        return 0;
    thread_t* self = static_cast<thread_t*>(object);
    try {
        self->thread_function();
    } catch (...) {
        // A thread stop is the normal way out of a loop; other failures are
        // the loop's own business to record before leaving.
    }
    self->running = false;
    return 0;
}

void thread_t::release_thread()
{
    if (!thread.valid())
        return;
    // The loop has ended (running is clear) but the thread may still be on its
    // way out: wait for it so that it is never left behind unjoined.
    WaitForSingleObject(thread.get(), INFINITE);
    thread.close();
}

void thread_t::start()
{
    if (running)
        return;
    running = true;
    try {
        release_thread();
        if (!ResetEvent(stop_event.get()))
            throw wapi::exception_t();
        uintptr_t handle = _beginthreadex(nullptr, 0, &thread_t::entry, this, 0, nullptr);
        if (handle == 0 || handle == static_cast<uintptr_t>(-1))
            throw wapi::exception_t();
        thread.reset(reinterpret_cast<HANDLE>(handle));
    } catch (...) {
        running = false;
        throw;
    }
}

void thread_t::stop()
{
    if (!running)
        return;
    if (!SetEvent(stop_event.get()))
        throw wapi::exception_t();
    DWORD result = WaitForSingleObject(thread.get(), INFINITE);
    switch (result) {
    case WAIT_OBJECT_0:
        return;
    case WAIT_TIMEOUT:
        throw exception_t("WAIT_TIMEOUT in thread_t::stop");
    case WAIT_FAILED:
        throw wapi::exception_t("WAIT_FAILED in thread_t::stop");
    default:
        throw exception_t("unexpected failure in thread_t::stop");
    }
}

bool thread_t::sleep(DWORD milliseconds)
{
    if (stop_event.wait(milliseconds))
        throw thread_stop_exception_t();
    return false;
}

bool thread_t::wait_for_objects(HANDLE handle, DWORD milliseconds)
{
    HANDLE handles[2] = {handle, stop_event.get()};
    DWORD result = WaitForMultipleObjects(2, handles, FALSE, milliseconds);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0)
        return true;
    if (result == WAIT_OBJECT_0 + 1)
        throw thread_stop_exception_t();
    if (result == WAIT_TIMEOUT)
        return false;
    if (result == WAIT_FAILED)
        throw wapi::exception_t("WAIT_FAILED in thread_t::wait_for_objects");
    throw exception_t("unexpected failure in thread_t::wait_for_objects");
}

} // namespace qm::proc
