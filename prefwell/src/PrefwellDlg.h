// The options dialog: edits the registry settings store.
#pragma once

#include <afxwin.h>

#include "prefwell/RegSettings.h"

class CPrefwellDlg : public CDialog {
public:
    explicit CPrefwellDlg(CWnd* pParent = nullptr);
    ~CPrefwellDlg() override;

    BOOL OnInitDialog() override;
    void OnOK() override;

    // Rounds the time-out to the nearest multiple of 10 (halves up) and keeps it
    // at least 150; a negative value becomes 1000. TRUE when the value was
    // invalid (negative, or below 150 after rounding).
    static BOOL CheckTimeout(int& value);

protected:
    void LoadValues();
    void ShowValues();
    void ReadValues();

    afx_msg HCURSOR OnQueryDragIcon();

    HICON m_hIcon;
    CRegSettings* m_settings;
    struct {
        char readCommunity[REG_COMMUNITY_MAX + 1];
        char writeCommunity[REG_COMMUNITY_MAX + 1];
        int Retries;
        int Timeout;
        int Delay;
        int Switches;
        int SwitchMask;
    } m_values;

    DECLARE_MESSAGE_MAP()
};
