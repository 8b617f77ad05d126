// Last error, errno mapping, system texts, local memory.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <string>

#include "internal.h"
#include "win32/error.h"
#include "winsock2.h"

#ifndef ERROR_MR_MID_NOT_FOUND
#define ERROR_MR_MID_NOT_FOUND 317L
#endif

namespace {

// The last error of the thread: only what this layer set. A leftover errno
// of some earlier C library call never shows through; the layer's own calls
// map errno when they fail.
thread_local DWORD t_last_error = 0;

// Errno values without a Win32 counterpart keep their number in the
// customer-defined range (bit 29), so they never collide with a Win32 number.
constexpr DWORD errno_tag = 0x20000000u;

struct win_errno {
    DWORD win;
    int err;
};

// errno -> Win32 (first match of an errno wins).
constexpr win_errno errno_to_win[] = {
    {ERROR_ACCESS_DENIED, EPERM},
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_IO_DEVICE, EIO},
    {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_NOACCESS, EFAULT},
    {ERROR_BUSY, EBUSY},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_PATH_NOT_FOUND, ENOTDIR},
    {ERROR_ACCESS_DENIED, EISDIR},
    {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_TOO_MANY_OPEN_FILES, ENFILE},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_ACCESS_DENIED, EROFS},
    {ERROR_BROKEN_PIPE, EPIPE},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_CALL_NOT_IMPLEMENTED, ENOSYS},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_TIMEOUT, ETIMEDOUT},
    {ERROR_NOT_SUPPORTED, EOPNOTSUPP},
    {ERROR_OPERATION_ABORTED, ECANCELED},
    {ERROR_CONNECTION_REFUSED, ECONNREFUSED},
    {ERROR_NETWORK_UNREACHABLE, ENETUNREACH},
    {ERROR_BAD_FORMAT, ENOEXEC},
    {ERROR_NOT_ENOUGH_QUOTA, EDQUOT},
};

// errno -> WinSock: 10000 + the BSD errno number.
constexpr win_errno errno_to_wsa[] = {
    {WSAEINTR, EINTR},
    {WSAEBADF, EBADF},
    {WSAEACCES, EACCES},
    {WSAEACCES, EPERM},
    {WSAEFAULT, EFAULT},
    {WSAEINVAL, EINVAL},
    {WSAEMFILE, EMFILE},
    {WSAEMFILE, ENFILE},
    {WSAEWOULDBLOCK, EWOULDBLOCK},
    {WSAEINPROGRESS, EINPROGRESS},
    {WSAEALREADY, EALREADY},
    {WSAENOTSOCK, ENOTSOCK},
    {WSAEDESTADDRREQ, EDESTADDRREQ},
    {WSAEMSGSIZE, EMSGSIZE},
    {WSAEPROTOTYPE, EPROTOTYPE},
    {WSAENOPROTOOPT, ENOPROTOOPT},
    {WSAEPROTONOSUPPORT, EPROTONOSUPPORT},
    {WSAESOCKTNOSUPPORT, ESOCKTNOSUPPORT},
    {WSAEOPNOTSUPP, EOPNOTSUPP},
    {WSAEPFNOSUPPORT, EPFNOSUPPORT},
    {WSAEAFNOSUPPORT, EAFNOSUPPORT},
    {WSAEADDRINUSE, EADDRINUSE},
    {WSAEADDRNOTAVAIL, EADDRNOTAVAIL},
    {WSAENETDOWN, ENETDOWN},
    {WSAENETUNREACH, ENETUNREACH},
    {WSAENETRESET, ENETRESET},
    {WSAECONNABORTED, ECONNABORTED},
    {WSAECONNRESET, ECONNRESET},
    {WSAENOBUFS, ENOBUFS},
    {WSAENOBUFS, ENOMEM},
    {WSAEISCONN, EISCONN},
    {WSAENOTCONN, ENOTCONN},
    {WSAESHUTDOWN, ESHUTDOWN},
    {WSAESHUTDOWN, EPIPE},
    {WSAETOOMANYREFS, ETOOMANYREFS},
    {WSAETIMEDOUT, ETIMEDOUT},
    {WSAECONNREFUSED, ECONNREFUSED},
    {WSAELOOP, ELOOP},
    {WSAENAMETOOLONG, ENAMETOOLONG},
    {WSAEHOSTDOWN, EHOSTDOWN},
    {WSAEHOSTUNREACH, EHOSTUNREACH},
    {WSAENOTEMPTY, ENOTEMPTY},
    {WSAEUSERS, EUSERS},
    {WSAEDQUOT, EDQUOT},
    {WSAESTALE, ESTALE},
    {WSAEREMOTE, EREMOTE},
    {WSAECANCELLED, ECANCELED},
};

// Texts of the Win32 numbers this layer produces: an errno's system text,
// or our own where no errno fits.
struct win_text {
    DWORD win;
    int err;          // 0: use text
    const char* text; // used when err is 0
};

constexpr win_text win_texts[] = {
    {ERROR_INVALID_FUNCTION, 0, "Invalid function"},
    {ERROR_FILE_NOT_FOUND, ENOENT, nullptr},
    {ERROR_PATH_NOT_FOUND, ENOENT, nullptr},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE, nullptr},
    {ERROR_ACCESS_DENIED, EACCES, nullptr},
    {ERROR_INVALID_HANDLE, EBADF, nullptr},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM, nullptr},
    {ERROR_BAD_FORMAT, ENOEXEC, nullptr},
    {ERROR_INVALID_DATA, 0, "Invalid data"},
    {ERROR_OUTOFMEMORY, ENOMEM, nullptr},
    {ERROR_NOT_READY, 0, "Device not ready"},
    {ERROR_GEN_FAILURE, EIO, nullptr},
    {ERROR_SHARING_VIOLATION, EBUSY, nullptr},
    {ERROR_HANDLE_EOF, 0, "End of file reached"},
    {ERROR_NOT_SUPPORTED, EOPNOTSUPP, nullptr},
    {ERROR_BAD_NETPATH, 0, "Network path not found"},
    {ERROR_FILE_EXISTS, EEXIST, nullptr},
    {ERROR_INVALID_PARAMETER, EINVAL, nullptr},
    {ERROR_BROKEN_PIPE, EPIPE, nullptr},
    {ERROR_DISK_FULL, ENOSPC, nullptr},
    {ERROR_CALL_NOT_IMPLEMENTED, ENOSYS, nullptr},
    {ERROR_SEM_TIMEOUT, ETIMEDOUT, nullptr},
    {ERROR_INSUFFICIENT_BUFFER, 0, "Data area too small"},
    {ERROR_MOD_NOT_FOUND, 0, "Module not found"},
    {ERROR_PROC_NOT_FOUND, 0, "Procedure not found"},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY, nullptr},
    {ERROR_BAD_PATHNAME, 0, "Invalid path name"},
    {ERROR_BUSY, EBUSY, nullptr},
    {ERROR_ALREADY_EXISTS, EEXIST, nullptr},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG, nullptr},
    {ERROR_MORE_DATA, 0, "More data is available"},
    {WAIT_TIMEOUT_ERROR, 0, "Wait timed out"},
    {ERROR_NO_MORE_ITEMS, 0, "No more items"},
    {ERROR_TOO_MANY_POSTS, 0, "Too many posts to a semaphore"},
    {ERROR_MR_MID_NOT_FOUND, 0, "No text for the message number"},
    {ERROR_OPERATION_ABORTED, ECANCELED, nullptr},
    {ERROR_IO_INCOMPLETE, 0, "Overlapped operation not complete"},
    {ERROR_IO_PENDING, 0, "Overlapped operation in progress"},
    {ERROR_NOACCESS, EFAULT, nullptr},
    {ERROR_BADKEY, 0, "Invalid configuration registry key"},
    {ERROR_CANTOPEN, 0, "Configuration registry key could not be opened"},
    {ERROR_CANTREAD, 0, "Configuration registry key could not be read"},
    {ERROR_CANTWRITE, 0, "Configuration registry key could not be written"},
    {ERROR_REGISTRY_CORRUPT, 0, "Registry is corrupt"},
    {ERROR_KEY_DELETED, 0, "Registry key marked for deletion"},
    {ERROR_CHILD_MUST_BE_VOLATILE, 0, "Cannot create a stable subkey under a volatile parent key"},
    {ERROR_IO_DEVICE, EIO, nullptr},
    {ERROR_CONNECTION_REFUSED, ECONNREFUSED, nullptr},
    {ERROR_NETWORK_UNREACHABLE, ENETUNREACH, nullptr},
    {ERROR_TIMEOUT, ETIMEDOUT, nullptr},
    {ERROR_RESOURCE_TYPE_NOT_FOUND, 0, "Resource type not found in the image file"},
    {ERROR_RESOURCE_NAME_NOT_FOUND, 0, "Resource name not found in the image file"},
    {ERROR_NOT_ENOUGH_QUOTA, EDQUOT, nullptr},
};

// WinSock numbers without an errno: name-service results.
struct wsa_gai {
    DWORD wsa;
    int eai;
};
constexpr wsa_gai wsa_gai_texts[] = {
    {WSAHOST_NOT_FOUND, EAI_NONAME},
    {WSATRY_AGAIN, EAI_AGAIN},
    {WSANO_RECOVERY, EAI_FAIL},
    {WSANO_DATA, EAI_NODATA},
};

// System text of message number n (without line end), empty when none.
std::string system_text(DWORD n)
{
    for (const auto& t : win_texts) {
        if (t.win == n) {
            if (t.err == 0)
                return t.text;
            const char* s = strerrordesc_np(t.err);
            return s ? s : "";
        }
    }
    if (n >= WSABASEERR && n < WSAHOST_NOT_FOUND) {
        for (const auto& t : errno_to_wsa) {
            if (t.win == n) {
                const char* s = strerrordesc_np(t.err);
                return s ? s : "";
            }
        }
        return {};
    }
    for (const auto& t : wsa_gai_texts) {
        if (t.wsa == n)
            return gai_strerror(t.eai);
    }
    if ((n & ~0xFFFFu) == errno_tag) {
        const char* s = strerrordesc_np(static_cast<int>(n & 0xFFFFu));
        return s ? s : "";
    }
    return {};
}

} // namespace

DWORD vx_win32_error_from_errno(int err)
{
    if (err == 0)
        return ERROR_SUCCESS;
    for (const auto& t : errno_to_win) {
        if (t.err == err)
            return t.win;
    }
    return errno_tag | static_cast<DWORD>(err);
}

int vx_wsa_error_from_errno(int err)
{
    if (err == 0)
        return 0;
    for (const auto& t : errno_to_wsa) {
        if (t.err == err)
            return static_cast<int>(t.win);
    }
    if (err == EAGAIN)
        return WSAEWOULDBLOCK;
    return static_cast<int>(vx_win32_error_from_errno(err));
}

DWORD GetLastError() { return t_last_error; }

void SetLastError(DWORD error) { t_last_error = error; }

void vx_set_last_error_from_errno() { SetLastError(vx_win32_error_from_errno(errno)); }

int WSAGetLastError() { return static_cast<int>(t_last_error); }

void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

void vx_set_wsa_error_from_errno() { WSASetLastError(vx_wsa_error_from_errno(errno)); }

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer, DWORD size,
                     void* arguments)
{
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || buffer == nullptr)
        return vx_win32::fail(ERROR_INVALID_PARAMETER, DWORD{0});
    std::string text = system_text(message_id);
    if (text.empty())
        return vx_win32::fail(ERROR_MR_MID_NOT_FOUND, DWORD{0});
    text += "\r\n";
    DWORD length = static_cast<DWORD>(text.size());
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        DWORD bytes = length + 1 > size ? length + 1 : size;
        char* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes));
        if (!block)
            return vx_win32::fail(ERROR_NOT_ENOUGH_MEMORY, DWORD{0});
        std::memcpy(block, text.c_str(), length + 1);
        *reinterpret_cast<LPSTR*>(buffer) = block;
    } else {
        if (length + 1 > size)
            return vx_win32::fail(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
        std::memcpy(buffer, text.c_str(), length + 1);
    }
    return length;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes)
{
    // At least one byte, so a zero-size request still gives a distinct block.
    void* p = (flags & LMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
    if (!p)
        return vx_win32::fail(ERROR_NOT_ENOUGH_MEMORY, HLOCAL{nullptr});
    return p;
}

HLOCAL LocalFree(HLOCAL mem)
{
    std::free(mem);
    return nullptr;
}
