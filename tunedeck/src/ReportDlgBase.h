// CReportDlgBase: what the two report dialogs share: the folder edit with its
// "Browse" button, the status text and the progress bar.
#pragma once

#include <afxcmn.h>
#include <afxwin.h>

#include <string>

class CReportDlgBase : public CDialog {
public:
    CReportDlgBase(LPCTSTR templateName, CWnd* pParent);

    BOOL OnInitDialog() override;

protected:
    // While a run is busy the folder stays as it is.
    virtual bool Busy() const { return false; }
    // The folder edit's text, at most the length a report path allows.
    std::string Folder();
    void SetRange(int steps);
    // One progress step: its text in "Status:" and the bar one step on.
    void Step(const char* text);
    // The end of a run: a beep and the outcome in "Status:".
    void ShowResult(int result);
    CProgressCtrl* Progress();

    afx_msg void OnBrowse();

    DECLARE_MESSAGE_MAP()
};
