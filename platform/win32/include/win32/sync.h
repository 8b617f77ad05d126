// Handles and synchronisation: events, semaphores, waits, threads, critical
// sections, interlocked operations, tick counts and Sleep.
//
// Waits block on futexes. Every waitable object can also show its state on
// an eventfd that is readable exactly while the object is signalled, so other
// layers can wait on handles and file descriptors together in one poll()
// (see vx_handle_fd).
#pragma once

#include <pthread.h>

#include "win32/types.h"

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// Overlapped I/O block (also WSAOVERLAPPED). Internal holds the completion
// status (a Win32/WinSock error number, 0 = success, ERROR_IO_PENDING while
// outstanding); InternalHigh the byte count.
typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define STILL_ACTIVE 259u

#define CREATE_SUSPENDED 0x00000004
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_IDLE (-15)

// ---- handles ------------------------------------------------------------
// Closing a handle that a thread still waits on is allowed: the object lives
// until the last waiter lets go. INVALID_HANDLE_VALUE in a wait stands for the
// current process, which is never signalled.
BOOL CloseHandle(HANDLE handle);

// Unnamed only (a name fails with ERROR_NOT_SUPPORTED).
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Sets several events at once (one hold of the handle lock, so a waiter that
// wakes for the first finds the others set as well). FALSE with
// ERROR_INVALID_HANDLE when one of them is not an event; the others are set.
BOOL vx_set_events(const HANDLE* events, DWORD count);

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initial_count, LONG maximum_count, LPCSTR name);
// Fails with ERROR_TOO_MANY_POSTS (count unchanged) when the count would pass the maximum.
BOOL ReleaseSemaphore(HANDLE semaphore, LONG release_count, LPLONG previous_count);

// Waits consume what they win: one count of a semaphore, the signal of an
// auto-reset event. Wait-any returns WAIT_OBJECT_0 + the lowest signalled index.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds);

// ---- threads --------------------------------------------------------------
// The thread runs at once; its handle is signalled when it ends. Returns 0 on
// failure (as the C runtime does), with errno and the last error set.
// CREATE_SUSPENDED is not supported.
uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned (*start_address)(void*), void* arglist,
                         unsigned initflag, unsigned* thread_id);

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack_size, LPTHREAD_START_ROUTINE start_address,
                    LPVOID parameter, DWORD creation_flags, LPDWORD thread_id);
// STILL_ACTIVE while the thread runs.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
BOOL SetThreadPriority(HANDLE thread, int priority); // accepted, no effect
HANDLE GetCurrentThread();                           // pseudo-handle, only for SetThreadPriority
DWORD GetCurrentThreadId();

// ---- critical sections (re-entrant) -----------------------------------------
typedef struct _RTL_CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);

// ---- interlocked ------------------------------------------------------------
// Sequentially consistent, return values as on Windows.
inline LONG InterlockedIncrement(LONG volatile* target) { return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(LONG volatile* target) { return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchange(LONG volatile* target, LONG value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* target, LONG value)
{
    return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand; // the initial value in both outcomes
}

// ---- time -------------------------------------------------------------------
// Milliseconds of CLOCK_MONOTONIC, truncated to 32 bits (plus the test offset).
DWORD GetTickCount();
ULONGLONG GetTickCount64();
void Sleep(DWORD milliseconds);
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);       // nanoseconds
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency); // 1e9

// ---- for other layers and tests ---------------------------------------------
// The eventfd of an event, semaphore or thread handle: readable while the
// object is signalled (poll it, then claim with WaitForSingleObject(h, 0),
// which consumes an auto-reset event or a semaphore count). -1 for anything
// else (and for INVALID_HANDLE_VALUE). The fd stays valid until the handle is
// closed.
int vx_handle_fd(HANDLE handle);

// Test seam: added to GetTickCount/GetTickCount64 (e.g. to bring the 32-bit
// wrap within reach of a test).
void vx_set_tick_offset(ULONGLONG offset_ms);
