// Umbrella header of the Win32-shaped base layer: code written against the
// Windows API includes this and gets the subset this tree implements.
#pragma once

#include "win32/types.h"
#include "win32/error.h"   // GetLastError, SetLastError, FormatMessageA, LocalFree
#include "win32/sync.h"    // handles, events, semaphores, waits, threads, critical sections, interlocked, ticks, Sleep
#include "win32/systime.h" // SYSTEMTIME, GetLocalTime, GetSystemTime
#include "win32/module.h"  // GetModuleFileNameA, LoadLibraryA, GetProcAddress, FreeLibrary, GetVersionExA, version info
#include "win32/console.h" // GetStdHandle, WriteFile, AllocConsole, FreeConsole
#include "win32/profile.h" // GetPrivateProfile*/WritePrivateProfile*
#include "win32/registry.h" // Reg* over the per-user hive file
#include "win32/ktm.h"      // CreateTransaction, CommitTransaction, RollbackTransaction (transacted registry writes)
