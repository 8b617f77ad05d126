// The console's main window: the live device list with its counts, the menu
// bar and the context menus, driven by one window timer.
#pragma once

#include "DialogLayout.h"
#include "OptionsDlg.h"
#include "PollView.h"

#include <afxcmn.h>

class CVistrelDlg : public CDialog {
public:
    explicit CVistrelDlg(CWnd* parent = nullptr);
    ~CVistrelDlg() override;

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void WinHelp(DWORD_PTR data, UINT command = HELP_CONTEXT) override;

    // Menu enabling from the number of selected rows.
    void UpdateMenus();
    // Saves the column widths and ends the dialog.
    void CloseAndSave();

    PollView& View() { return pollView; }
    COptionsDlg& Options() { return options; }
    CListCtrl* List() { return list; }
    CMenu& HeaderMenu() { return headerMenu; }
    CMenu& ListMenu() { return listMenu; }
    UINT MoreCommandId() const { return moreCommandId; }
    UINT RefreshPeriod() const { return refreshPeriod; }

protected:
    afx_msg void OnTimer(UINT_PTR id);
    afx_msg void OnSize(UINT type, int cx, int cy);
    afx_msg void OnClose();
    afx_msg void OnDestroy();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnContextMenu(CWnd* window, CPoint point);
    afx_msg void OnListClick(NMHDR* header, LRESULT* result);
    afx_msg void OnListDoubleClick(NMHDR* header, LRESULT* result);
    afx_msg void OnHeaderEndTrack(NMHDR* header, LRESULT* result);
    afx_msg void OnHeaderItemClick(NMHDR* header, LRESULT* result);
    afx_msg void OnCopy();
    afx_msg void OnSelectAll();
    afx_msg void OnRefresh();
    afx_msg void OnColumnChooser();
    afx_msg void OnAbout();
    afx_msg void OnNewIpAddress();
    afx_msg void OnUpdateFirmware();
    afx_msg void OnConfigure();
    afx_msg void OnReport();
    afx_msg void OnOptions();
    afx_msg void OnHeaderMenu(UINT id);
    // One step of the configuration launcher's selection walk, served on the
    // GUI thread (VistrelLaunch.cpp).
    afx_msg LRESULT OnLauncherSelect(WPARAM first, LPARAM request);

    // For the configuration launcher's selection callbacks: the list cursor
    // and the IP text handed over.
    int launcherCursor = -1;
    char launcherIp[100] = {};

private:
    void Tick();
    void Launch(bool configure);
    void BuildListMenu();
    void EnableCommand(UINT id, bool enable);

    bool configureAllowed;
    HICON icon;
    PollView pollView;
    DialogLayout layout;
    CMenu headerMenu;
    CMenu listMenu;
    UINT moreCommandId = 0;
    UINT refreshPeriod;
    COptionsDlg options;
    CListCtrl* list = nullptr;

    DECLARE_MESSAGE_MAP()
};
