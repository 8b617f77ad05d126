// Last error (thread-local), system message texts and local memory blocks.
#pragma once

#include "win32/types.h"

#ifndef ERROR_TOO_MANY_POSTS
#define ERROR_TOO_MANY_POSTS 298L
#endif
#ifndef ERROR_SEM_TIMEOUT
#define ERROR_SEM_TIMEOUT 121L
#endif
#ifndef ERROR_RESOURCE_TYPE_NOT_FOUND
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#endif
#ifndef ERROR_RESOURCE_NAME_NOT_FOUND
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#endif
#ifndef ERROR_DISK_FULL
#define ERROR_DISK_FULL 112L
#endif
#ifndef ERROR_BUSY
#define ERROR_BUSY 170L
#endif
#ifndef ERROR_DIR_NOT_EMPTY
#define ERROR_DIR_NOT_EMPTY 145L
#endif
#ifndef ERROR_FILENAME_EXCED_RANGE
#define ERROR_FILENAME_EXCED_RANGE 206L
#endif
#ifndef ERROR_NOT_READY
#define ERROR_NOT_READY 21L
#endif
#ifndef ERROR_SHARING_VIOLATION
#define ERROR_SHARING_VIOLATION 32L
#endif
#ifndef ERROR_HANDLE_EOF
#define ERROR_HANDLE_EOF 38L
#endif
#ifndef ERROR_BAD_NETPATH
#define ERROR_BAD_NETPATH 53L
#endif
#ifndef ERROR_NETWORK_UNREACHABLE
#define ERROR_NETWORK_UNREACHABLE 1231L
#endif
#ifndef ERROR_CONNECTION_REFUSED
#define ERROR_CONNECTION_REFUSED 1225L
#endif
#ifndef ERROR_IO_DEVICE
#define ERROR_IO_DEVICE 1117L
#endif
#ifndef ERROR_NOT_ENOUGH_QUOTA
#define ERROR_NOT_ENOUGH_QUOTA 1816L
#endif

// FormatMessageA flags.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define LANG_USER_DEFAULT 0x0400
#define LANG_SYSTEM_DEFAULT 0x0800

// LocalAlloc flags.
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

// The calling thread's last error: the value of the last SetLastError of
// this thread, never a leftover errno. Code that calls the C library itself
// and reports through GetLastError maps errno first
// (vx_set_last_error_from_errno).
DWORD GetLastError();
void SetLastError(DWORD error);

// Win32 error number for a Linux errno value (ERROR_GEN_FAILURE-like
// fallbacks keep the errno itself when it has no Win32 counterpart and
// collides with no Win32 number of ours).
DWORD vx_win32_error_from_errno(int err);
// SetLastError(vx_win32_error_from_errno(errno)).
void vx_set_last_error_from_errno();

// FORMAT_MESSAGE_FROM_SYSTEM texts end with "\r\n"; a number without text
// gives 0 and no buffer. FORMAT_MESSAGE_ALLOCATE_BUFFER stores a LocalAlloc
// block pointer in *(LPSTR*)buffer; release it with LocalFree.
// FORMAT_MESSAGE_FROM_STRING is not supported.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer, DWORD size,
                     void* arguments);

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL mem); // NULL on success, like Windows
