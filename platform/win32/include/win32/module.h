// Program and module paths, dynamic loading, platform version and version
// information.
#pragma once

#include "win32/types.h"

// ---- module paths -----------------------------------------------------------
// NULL module: the program's executable (/proc/self/exe), also when called
// from inside a shared library. A module from LoadLibraryA: its file.
// Returns the length copied; a too-small buffer is filled with the truncated,
// terminated path, and the result is size with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size);
// NULL: the program itself; a name: as LoadLibraryA would find it, if loaded.
HMODULE GetModuleHandleA(LPCSTR module_name);

#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256
// Splits "/dir/sub/name.ext" into drive "" (Linux has none), dir "/dir/sub/",
// fname "name" and ext ".ext". Any output may be NULL.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
void _makepath(char* path, const char* drive, const char* dir, const char* fname, const char* ext);

// ---- dynamic loading ----------------------------------------------------------
// A bare name "X.dll" or "X" loads libX.so (else libx.so) from the program's
// folder; when neither is there, the same file names through the dynamic
// loader's search path (LD_LIBRARY_PATH, the program's RUNPATH). A name with
// a '/' is used as given. dlopen with RTLD_NOW | RTLD_LOCAL.
// Failure: NULL with ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryA(LPCSTR file_name);
FARPROC GetProcAddress(HMODULE module, LPCSTR proc_name); // NULL + ERROR_PROC_NOT_FOUND
BOOL FreeLibrary(HMODULE module);

// Cast helper: GetProcAddress results to a function pointer type.
template <typename F> inline F vx_proc_cast(FARPROC proc)
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

// ---- platform version ---------------------------------------------------------
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;

// Reports the NT platform, version 5.0. Fails with ERROR_INSUFFICIENT_BUFFER
// when dwOSVersionInfoSize is smaller than the record.
BOOL GetVersionExA(LPOSVERSIONINFOA info);

// ---- version information --------------------------------------------------------
typedef struct tagVS_FIXEDFILEINFO {
    DWORD dwSignature; // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;

#define VS_FFI_SIGNATURE 0xFEEF04BDu

// A program registers its own version fields (from main, before use):
// version a.b.c.d for file and product, and strings such as
// {"ProductVersion", "1.2"}, {"InternalName", "vistrel"}. Only the program's
// own executable (GetModuleFileNameA(NULL)) then has version information.
typedef struct VX_VERSION_STRING {
    const char* name;
    const char* value;
} VX_VERSION_STRING;
void vx_set_version_info(WORD major, WORD minor, WORD build, WORD revision, const VX_VERSION_STRING* strings,
                         size_t count);

// 0 with ERROR_RESOURCE_TYPE_NOT_FOUND for a file without version information.
DWORD GetFileVersionInfoSizeA(LPCSTR filename, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR filename, DWORD handle, DWORD length, LPVOID data);
// "\\" gives the VS_FIXEDFILEINFO; "\\StringFileInfo\\040904b0\\Name" the text
// of Name (length in characters including the terminator). Names are
// case-insensitive. The pointer points into data.
typedef UINT* PUINT;
BOOL VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer, PUINT length);
