// The selection callbacks that the configuration launcher hands to the
// configuration library. They walk the main dialog's device list, whichever
// thread calls them: each step is a message served on the GUI thread.
#pragma once

#include <afxwin.h>

class CVistrelDlg;

// One step of the walk: WPARAM 1 restarts it (GetFirst), 0 continues it;
// LPARAM points at the request. The result is a LAUNCH_SELECT_* code.
#define WM_LAUNCHER_SELECT (WM_APP + 0x20)

struct LauncherSelectRequest {
    const char** ip; // receives the device's IP text, or null
    int all;         // 1: every row, else the selected rows
};

// The main dialog that the callbacks walk (one for the process; null: none,
// and the walk is empty).
void SetLauncherTarget(CVistrelDlg* dialog);

// GetFirst: restarts the walk, then continues it as SelectNext does.
extern "C" int SelectFirst(const char** ip, int all);
// GetNext: the next row after the cursor; 0 with the row's IP text, 4 at the
// end, 5 for the address 0.0.0.0, 6 for a row that is off line.
extern "C" int SelectNext(const char** ip, int all);
