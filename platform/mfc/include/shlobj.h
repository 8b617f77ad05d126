// Shell folder browser: SHBrowseForFolderA / SHGetPathFromIDListA over a Qt
// folder dialog. The returned item list is a malloc'd block; free it with
// CoTaskMemFree (malloc-compatible) or ILFree.
#pragma once

#include "mfc/wnd.h"

#define BIF_RETURNONLYFSDIRS 0x00000001
#define BIF_DONTGOBELOWDOMAIN 0x00000002
#define BIF_STATUSTEXT 0x00000004
#define BIF_RETURNFSANCESTORS 0x00000008
#define BIF_EDITBOX 0x00000010
#define BIF_VALIDATE 0x00000020
#define BIF_NEWDIALOGSTYLE 0x00000040
#define BIF_USENEWUI (BIF_NEWDIALOGSTYLE | BIF_EDITBOX)
#define BFFM_INITIALIZED 1
#define BFFM_SELCHANGED 2
#define BFFM_VALIDATEFAILEDA 3
#define BFFM_SETSTATUSTEXTA (WM_USER + 100)
#define BFFM_ENABLEOK (WM_USER + 101)
#define BFFM_SETSELECTIONA (WM_USER + 102)
#define BFFM_SETSTATUSTEXT BFFM_SETSTATUSTEXTA
#define BFFM_SETSELECTION BFFM_SETSELECTIONA

struct ITEMIDLIST {
    char path[1]; // zero-terminated Linux path
};
typedef ITEMIDLIST* LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;
typedef ITEMIDLIST* PIDLIST_ABSOLUTE;
typedef const ITEMIDLIST* PCIDLIST_ABSOLUTE;

typedef int(CALLBACK* BFFCALLBACK)(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM lpData);

struct BROWSEINFOA {
    HWND hwndOwner;
    PCIDLIST_ABSOLUTE pidlRoot;
    LPSTR pszDisplayName;
    LPCSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
};
typedef BROWSEINFOA BROWSEINFO;
typedef BROWSEINFOA* LPBROWSEINFOA;
typedef BROWSEINFOA* LPBROWSEINFO;

// Runs the folder dialog: the callback gets BFFM_INITIALIZED (it may send
// BFFM_SETSELECTION and set the window text) and BFFM_SELCHANGED.
PIDLIST_ABSOLUTE SHBrowseForFolderA(LPBROWSEINFOA lpbi);
BOOL SHGetPathFromIDListA(PCIDLIST_ABSOLUTE pidl, LPSTR pszPath);
void ILFree(PIDLIST_ABSOLUTE pidl);
inline PIDLIST_ABSOLUTE SHBrowseForFolder(LPBROWSEINFOA lpbi) { return SHBrowseForFolderA(lpbi); }
inline BOOL SHGetPathFromIDList(PCIDLIST_ABSOLUTE pidl, LPSTR p) { return SHGetPathFromIDListA(pidl, p); }
