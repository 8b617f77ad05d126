#include "qm/handle.h"

#include "qm/exception.h"

namespace qm::wapi {

handle_t& handle_t::operator=(handle_t&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

void handle_t::reset(HANDLE h)
{
    if (h != handle) {
        close();
        handle = h;
    }
}

HANDLE handle_t::release()
{
    HANDLE h = handle;
    handle = nullptr;
    return h;
}

BOOL handle_t::close()
{
    if (!valid()) {
        handle = nullptr;
        return 0;
    }
    BOOL result = CloseHandle(handle);
    handle = nullptr;
    return result;
}

bool handle_t::wait(DWORD milliseconds) const
{
    DWORD result = WaitForSingleObject(handle, milliseconds);
    if (result == WAIT_FAILED)
        throw exception_t();
    return result == WAIT_OBJECT_0;
}

} // namespace qm::wapi
