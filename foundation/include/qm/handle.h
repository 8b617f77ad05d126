// Owning holder of one Win32 handle.
#pragma once

#include "qm/exception.h"

#include <windows.h>

namespace qm::wapi {

class handle_t {
public:
    handle_t() = default;
    explicit handle_t(HANDLE h) : handle(h) {}
    ~handle_t() { close(); }

    handle_t(const handle_t&) = delete;
    handle_t& operator=(const handle_t&) = delete;
    handle_t(handle_t&& other) noexcept : handle(other.release()) {}
    handle_t& operator=(handle_t&& other) noexcept;

    // Closes a held handle first, then takes h.
    void reset(HANDLE h = nullptr);
    // Gives up ownership without closing.
    HANDLE release();
    HANDLE get() const { return handle; }
    operator HANDLE() const { return handle; }
    bool valid() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

    // CloseHandle when a handle is held; its result, or 0 when none.
    BOOL close();
    // True when the object was signalled, false for a time-out or an abandoned
    // wait; WAIT_FAILED throws wapi::exception_t.
    bool wait(DWORD milliseconds) const;

private:
    HANDLE handle = nullptr;
};

} // namespace qm::wapi
