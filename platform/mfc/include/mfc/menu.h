// Menus (bar and popup) and accelerator tables.
#pragma once

#include "mfc/wnd.h"

class CMenu {
public:
    HMENU m_hMenu = nullptr;

    CMenu() = default;
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;
    ~CMenu(); // destroys a menu it still holds

    static CMenu* FromHandle(HMENU hMenu);
    HMENU GetSafeHmenu() const { return m_hMenu; }
    operator HMENU() const { return m_hMenu; }
    BOOL Attach(HMENU hMenu);
    HMENU Detach();

    BOOL LoadMenu(UINT nIDResource);
    BOOL LoadMenu(LPCTSTR lpszResourceName);
    BOOL CreateMenu();
    BOOL CreatePopupMenu();
    BOOL DestroyMenu();

    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCTSTR lpszNewItem = nullptr);
    BOOL InsertMenu(UINT nPosition, UINT nFlags, UINT_PTR nIDNewItem = 0, LPCTSTR lpszNewItem = nullptr);
    BOOL ModifyMenu(UINT nPosition, UINT nFlags, UINT_PTR nIDNewItem = 0, LPCTSTR lpszNewItem = nullptr);
    BOOL RemoveMenu(UINT nPosition, UINT nFlags);
    BOOL DeleteMenu(UINT nPosition, UINT nFlags);
    int GetMenuItemCount() const;
    UINT GetMenuItemID(int nPos) const;
    int GetMenuString(UINT nIDItem, LPTSTR lpString, int nMaxCount, UINT nFlags) const;
    int GetMenuString(UINT nIDItem, CString& rString, UINT nFlags) const;
    CMenu* GetSubMenu(int nPos) const;
    UINT EnableMenuItem(UINT nIDEnableItem, UINT nEnable);
    UINT CheckMenuItem(UINT nIDCheckItem, UINT nCheck);
    UINT GetMenuState(UINT nID, UINT nFlags) const;
    // Shows the menu at a screen point; the chosen command goes to pWnd after
    // the menu closes, or is returned with TPM_RETURNCMD.
    BOOL TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd, LPCRECT lpRect = nullptr);
};

HACCEL LoadAccelerators(HINSTANCE hInstance, LPCSTR lpTableName);
HACCEL CreateAcceleratorTable(const ACCEL* paccel, int cAccel);
BOOL DestroyAcceleratorTable(HACCEL hAccel);
// Translates a WM_KEYDOWN/WM_SYSKEYDOWN matching the table into WM_COMMAND
// (HIWORD 1) sent to hWnd; only for messages of hWnd or its child windows.
int TranslateAccelerator(HWND hWnd, HACCEL hAccTable, LPMSG lpMsg);
inline HACCEL LoadAcceleratorsA(HINSTANCE h, LPCSTR n) { return LoadAccelerators(h, n); }
inline int TranslateAcceleratorA(HWND h, HACCEL a, LPMSG m) { return TranslateAccelerator(h, a, m); }
