// Standard handles, writing to them, and console windows (none on Linux).
#pragma once

#include "win32/types.h"

#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)

// Fixed pseudo-handles for the standard streams (closing them is a no-op).
HANDLE GetStdHandle(DWORD std_handle);

struct _OVERLAPPED;
// Standard output and error handles only: write(2) of the whole buffer
// (retried on short writes and EINTR). Overlapped must be NULL.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, struct _OVERLAPPED* overlapped);

BOOL AllocConsole(); // no window on Linux: TRUE, output stays on stdout
BOOL FreeConsole();  // TRUE
