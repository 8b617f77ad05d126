// Shared between the layer's own source files; not part of the interface.
#pragma once

#include <cstdint>

#include "win32/error.h"
#include "win32/types.h"

namespace vx_win32 {

// Pseudo-handles of the standard streams (GetStdHandle) and the current thread.
inline HANDLE const std_input_handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x10));
inline HANDLE const std_output_handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x14));
inline HANDLE const std_error_handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x18));
inline HANDLE const current_thread_handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

// An event may carry one outstanding socket operation: waits on the event
// then also poll fd for the given poll events and call complete(token) when
// it is ready (without any lock of the handle layer held). complete() signals
// the event once the operation has finished.
typedef void (*io_complete_fn)(uint64_t token);
bool event_attach_io(HANDLE event, int fd, short poll_events, io_complete_fn complete, uint64_t token);
// Removes the operation if token still matches.
void event_detach_io(HANDLE event, uint64_t token);

// Whether handle names an open event, semaphore or thread.
bool handle_is_open(HANDLE handle);

// Sets the last error and returns the given value (for one-line failures).
template <typename T> inline T fail(DWORD error, T result)
{
    SetLastError(error);
    return result;
}

// Mapped errno as last error; returns result.
template <typename T> inline T fail_errno(T result)
{
    vx_set_last_error_from_errno();
    return result;
}

} // namespace vx_win32
