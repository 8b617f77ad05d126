// Critical sections, tick counts, Sleep, calendar time and the console stream.
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "internal.h"
#include "win32/console.h"
#include "win32/error.h"
#include "win32/sync.h"
#include "win32/systime.h"

// ---- critical sections ----------------------------------------------------------

void InitializeCriticalSection(LPCRITICAL_SECTION cs)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&cs->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_destroy(&cs->mutex); }
void EnterCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_lock(&cs->mutex); }
void LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(&cs->mutex); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) { return pthread_mutex_trylock(&cs->mutex) == 0; }

// ---- time ---------------------------------------------------------------------------

namespace {

std::atomic<ULONGLONG> tick_offset{0};

ULONGLONG monotonic_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000u + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}

// The time now, split into fields by local_or_utc (localtime_r or gmtime_r).
void fill_now(LPSYSTEMTIME out, tm* (*local_or_utc)(const time_t*, tm*))
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t;
    local_or_utc(&ts.tv_sec, &t);
    out->wYear = static_cast<WORD>(t.tm_year + 1900);
    out->wMonth = static_cast<WORD>(t.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
    out->wDay = static_cast<WORD>(t.tm_mday);
    out->wHour = static_cast<WORD>(t.tm_hour);
    out->wMinute = static_cast<WORD>(t.tm_min);
    out->wSecond = static_cast<WORD>(t.tm_sec > 59 ? 59 : t.tm_sec); // no leap second on Windows
    out->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

} // namespace

void vx_set_tick_offset(ULONGLONG offset_ms) { tick_offset.store(offset_ms); }

ULONGLONG GetTickCount64() { return monotonic_ms() + tick_offset.load(); }

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

void Sleep(DWORD milliseconds)
{
    if (milliseconds == INFINITE) {
        for (;;)
            pause();
    }
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    count->QuadPart = static_cast<LONGLONG>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    frequency->QuadPart = 1000000000;
    return TRUE;
}

void GetLocalTime(LPSYSTEMTIME time) { fill_now(time, localtime_r); }

void GetSystemTime(LPSYSTEMTIME time) { fill_now(time, gmtime_r); }

// ---- console --------------------------------------------------------------------------

HANDLE GetStdHandle(DWORD std_handle)
{
    switch (std_handle) {
    case STD_INPUT_HANDLE:
        return vx_win32::std_input_handle;
    case STD_OUTPUT_HANDLE:
        return vx_win32::std_output_handle;
    case STD_ERROR_HANDLE:
        return vx_win32::std_error_handle;
    }
    return vx_win32::fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, struct _OVERLAPPED* overlapped)
{
    int fd;
    if (file == vx_win32::std_output_handle)
        fd = 1;
    else if (file == vx_win32::std_error_handle)
        fd = 2;
    else
        return vx_win32::fail(ERROR_INVALID_HANDLE, FALSE);
    if (overlapped || (bytes && !buffer))
        return vx_win32::fail(ERROR_INVALID_PARAMETER, FALSE);
    const char* p = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < bytes) {
        ssize_t n = ::write(fd, p + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (written)
                *written = done;
            return vx_win32::fail_errno(FALSE);
        }
        done += static_cast<DWORD>(n);
    }
    if (written)
        *written = done;
    return TRUE;
}

BOOL AllocConsole() { return TRUE; }
BOOL FreeConsole() { return TRUE; }
